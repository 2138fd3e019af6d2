#include "cli/support.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "hive/names.h"

namespace tolcli {

int fail(int status, std::string_view message) {
  std::fprintf(stderr, "tolvane-cli: %.*s\n", static_cast<int>(message.size()), message.data());
  return status;
}

int usage_error(const Command& cmd) {
  return fail(kUsage, std::string("usage: tolvane-cli ") + cmd.name + " " + cmd.synopsis);
}

bool CommandArgs::has(std::string_view flag) const {
  for (const std::string& f : flags)
    if (f == flag) return true;
  return false;
}

std::optional<std::string> CommandArgs::value(std::initializer_list<std::string_view> names) const {
  std::optional<std::string> out;
  for (const auto& [name, v] : values)
    for (std::string_view n : names)
      if (name == n) out = v;
  return out;
}

std::optional<CommandArgs> parse_args(std::span<const std::string> raw,
                                      std::initializer_list<std::string_view> flags,
                                      std::initializer_list<std::string_view> valued) {
  auto among = [](std::string_view s, std::initializer_list<std::string_view> names) {
    for (std::string_view n : names)
      if (s == n) return true;
    return false;
  };
  CommandArgs a;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::string& s = raw[i];
    if (s == "--") {
      a.pos.insert(a.pos.end(), raw.begin() + static_cast<std::ptrdiff_t>(i) + 1, raw.end());
      break;
    }
    if (among(s, flags)) {
      a.flags.push_back(s);
    } else if (among(s, valued)) {
      if (i + 1 >= raw.size()) return std::nullopt;
      a.values.emplace_back(s, raw[++i]);
    } else if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
      return std::nullopt;
    } else {
      a.pos.push_back(s);
    }
  }
  return a;
}

const Command* find_command(std::string_view name) {
  for (const Command& c : commands())
    if (name == c.name) return &c;
  return nullptr;
}

namespace {
TolLogPolicy g_log_policy = TolLogPolicy::apply;

// Why the image lacks logged changes, for messages.
std::string pending_reason(const TolHive& hive) {
  if (!hive.logs.examined) return "--no-logs";
  return hive.logs.problem.empty() ? std::string("unknown reason") : hive.logs.problem;
}
}  // namespace

void set_log_policy(TolLogPolicy policy) { g_log_policy = policy; }
TolLogPolicy log_policy() { return g_log_policy; }

bool refuse_pending_log(const TolHive& hive, bool force) {
  if (!tol_hive_has_pending_log(hive)) return false;
  if (force) {
    std::fprintf(stderr,
                 "tolvane-cli: warning: the changes in the transaction logs of %s that could not "
                 "be applied (%s) will be lost\n",
                 hive.path.c_str(), pending_reason(hive).c_str());
    return false;
  }
  fail(kFailed, "the hive is dirty and its transaction logs could not be applied (" +
                    pending_reason(hive) +
                    "): saving would discard the changes they hold; use --force to edit it "
                    "anyway");
  return true;
}

TolHivePtr open_hive(const std::string& path) {
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(path, &error, g_log_policy);
  if (!hive) {
    fail(kFailed, error ? error->message : "cannot open the hive");
    g_clear_error(&error);
  }
  return hive;
}

std::optional<std::uint32_t> resolve_key(const TolHive& hive, std::string_view path) {
  auto key = tol_hive_find_path(hive, path);
  if (!key) fail(kFailed, "no such key: " + std::string(path));
  return key;
}

std::optional<TolHiveValue> read_named_value(const TolHive& hive, std::uint32_t key,
                                             std::string_view name) {
  const std::uint32_t count = tol_hive_value_count(hive, key);
  for (std::uint32_t i = 0; i < count; ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(hive, key, i, value) && tol_name_equal(value.name, name))
      return value;
  }
  return std::nullopt;
}

std::string display_value_name(std::string_view name) {
  return name.empty() ? std::string("(Default)") : std::string(name);
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace tolcli
