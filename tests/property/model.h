// A plain in-memory model of a hive's tree, the oracle of the property test.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tol::test {

// Names compare ASCII case-insensitively, as the engine does.
std::string fold(const std::string& name);

struct ModelValue {
  std::string name;  // the stored spelling
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  bool operator==(const ModelValue&) const = default;
};

struct ModelKey {
  std::string name;
  std::map<std::string, ModelValue> values;           // by folded name
  std::map<std::string, std::unique_ptr<ModelKey>> subkeys;  // by folded name

  ModelKey* child(const std::string& n) const {
    auto it = subkeys.find(fold(n));
    return it == subkeys.end() ? nullptr : it->second.get();
  }
  std::unique_ptr<ModelKey> clone() const;
  std::size_t count_keys() const;
  std::size_t count_values() const;
};

// Every key path below (and including) the key, "" for the key itself.
void model_paths(const ModelKey& key, const std::string& prefix, std::vector<std::string>& out);
ModelKey* model_find(ModelKey& root, const std::string& path);

// The copy as the engine does it: merge src under dst, existing keys and values reused.
void model_merge(const ModelKey& src, ModelKey& dst_parent);

}  // namespace tol::test
