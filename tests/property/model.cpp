#include "model.h"

namespace tol::test {

std::string fold(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::unique_ptr<ModelKey> ModelKey::clone() const {
  auto k = std::make_unique<ModelKey>();
  k->name = name;
  k->values = values;
  for (const auto& [f, sub] : subkeys) k->subkeys[f] = sub->clone();
  return k;
}

std::size_t ModelKey::count_keys() const {
  std::size_t n = 1;
  for (const auto& [f, sub] : subkeys) n += sub->count_keys();
  return n;
}

std::size_t ModelKey::count_values() const {
  std::size_t n = values.size();
  for (const auto& [f, sub] : subkeys) n += sub->count_values();
  return n;
}

void model_paths(const ModelKey& key, const std::string& prefix, std::vector<std::string>& out) {
  out.push_back(prefix);
  for (const auto& [f, sub] : key.subkeys)
    model_paths(*sub, prefix.empty() ? sub->name : prefix + "\\" + sub->name, out);
}

ModelKey* model_find(ModelKey& root, const std::string& path) {
  ModelKey* k = &root;
  std::size_t at = 0;
  while (k && at < path.size()) {
    const std::size_t cut = path.find('\\', at);
    const std::string part = path.substr(at, cut == std::string::npos ? std::string::npos : cut - at);
    k = k->child(part);
    at = cut == std::string::npos ? path.size() : cut + 1;
  }
  return k;
}

void model_merge(const ModelKey& src, ModelKey& dst_parent) {
  ModelKey* dst = dst_parent.child(src.name);
  if (!dst) {
    auto made = std::make_unique<ModelKey>();
    made->name = src.name;
    dst = made.get();
    dst_parent.subkeys[fold(src.name)] = std::move(made);
  }
  for (const auto& [f, v] : src.values) {
    auto it = dst->values.find(f);
    if (it == dst->values.end()) {
      dst->values[f] = v;
    } else {
      it->second.type = v.type;  // the destination keeps its spelling
      it->second.data = v.data;
    }
  }
  // Snapshot the children first: src may be an ancestor-free sibling, never dst itself.
  for (const auto& [f, sub] : src.subkeys) model_merge(*sub, *dst);
}

}  // namespace tol::test
