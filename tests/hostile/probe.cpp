#include "probe.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "hive/page_journal.h"
#include "hive/check.h"
#include "hive/compare.h"
#include "hive/copy.h"
#include "hive/repair.h"
#include "hive/create.h"
#include "hive/deleted.h"
#include "hive/edit.h"
#include "hive/hive.h"
#include "hive/save.h"
#include "hive/security.h"
#include "reg/export.h"
#include "search/replace.h"
#include "search/search.h"
#include "value/codec.h"

namespace tol::test {

std::string ProbeReport::text() const {
  std::string out;
  for (const auto& [key, value] : fields) out += key + "=" + value + "\n";
  for (const auto& failure : failures) out += "!" + failure + "\n";
  return out;
}

ProbeReport ProbeReport::parse(const std::string& text) {
  ProbeReport report;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == '!') {
      report.failures.push_back(line.substr(1));
      continue;
    }
    const auto eq = line.find('=');
    if (eq != std::string::npos) report.fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return report;
}

namespace {

// FNV-1a over everything a walk reads, so that two walks can be compared.
class Digest {
 public:
  void add(std::string_view s) {
    for (const char c : s) byte(static_cast<std::uint8_t>(c));
    byte(0xFF);
  }
  void add(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void add(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) byte(b);
    add(std::uint64_t{bytes.size()});
  }
  std::uint64_t value() const { return h_; }

 private:
  void byte(std::uint8_t b) {
    h_ ^= b;
    h_ *= 1099511628211ull;
  }
  std::uint64_t h_ = 1469598103934665603ull;
};

std::string hash_text(std::span<const std::uint8_t> bytes) {
  Digest d;
  d.add(bytes);
  return std::to_string(d.value());
}

// What a walk over every reachable key read.
struct Reading {
  std::size_t keys = 0;
  std::size_t values = 0;
  std::uint64_t digest = 0;
  // Key path -> one "name|type|data hash" entry per value, for every key of
  // that path (paths of damaged hives need not be unique).
  std::map<std::string, std::multiset<std::string>> by_path;
  std::unordered_map<std::uint32_t, std::string> paths;  // nk offset -> path
};

// Each key once, at most TOL_MAX_KEY_DEPTH levels down, through every read
// operation and every text the value list and the search make of the data.
Reading read_everything(const TolHive& hive) {
  Reading r;
  Digest d;
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, int>> stack = {{hive.root_cell, 0}};
  while (!stack.empty()) {
    const auto [nk, depth] = stack.back();
    stack.pop_back();
    if (depth >= TOL_MAX_KEY_DEPTH || !seen.insert(nk).second) continue;
    ++r.keys;
    const std::string name = tol_hive_key_name(hive, nk);
    const std::string path = tol_hive_key_path(hive, nk);
    d.add(name);
    d.add(path);
    r.paths[nk] = path;
    auto& values = r.by_path[path];
    d.add(std::uint64_t{tol_hive_find_path(hive, path).value_or(TOL_NO_CELL)});
    if (const auto sd = tol_hive_key_security(hive, nk)) d.add(*sd);
    if (const auto key = tol_hive_key(hive, nk)) {
      std::vector<std::uint32_t> listed;
      tol_hive_collect_list(hive, key->u32(TOL_NK_SUBKEY_LIST), listed);
      d.add(std::uint64_t{listed.size()});
    }

    const std::uint32_t count = tol_hive_value_count(hive, nk);
    for (std::uint32_t i = 0; i < count; ++i) {
      TolHiveValue value;
      if (!tol_hive_read_value(hive, nk, i, value)) continue;
      ++r.values;
      const std::span<const std::uint8_t> data = value.data;
      d.add(value.name);
      d.add(std::uint64_t{value.type});
      d.add(data);
      d.add(tol_value_type_name(value.type));
      d.add(tol_value_preview(data));
      d.add(tol_value_data_text(value.type, data));
      d.add(tol_value_multi_sz_decode(data));
      d.add(tol_search_value_text(value.type, data));
      d.add(tol_value_hex_format(data).size());
      d.add(std::uint64_t{tol_hive_find_value(hive, nk, value.name)});
      values.insert(value.name + "|" + std::to_string(value.type) + "|" + hash_text(data));
    }

    for (const std::uint32_t sub : tol_hive_subkeys(hive, nk)) {
      d.add(std::uint64_t{
          tol_hive_find_subkey(hive, nk, tol_hive_key_name(hive, sub)).value_or(TOL_NO_CELL)});
      stack.emplace_back(sub, depth + 1);
    }
  }
  r.digest = d.value();
  return r;
}

// The keys reached from `start` through subkey lists, `start` included.
std::unordered_set<std::uint32_t> subtree(const TolHive& hive, std::uint32_t start) {
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, int>> stack = {{start, 0}};
  while (!stack.empty()) {
    const auto [nk, depth] = stack.back();
    stack.pop_back();
    if (depth >= TOL_MAX_KEY_DEPTH || !seen.insert(nk).second) continue;
    for (const std::uint32_t sub : tol_hive_subkeys(hive, nk)) stack.emplace_back(sub, depth + 1);
  }
  return seen;
}

// A problem line without what changes between two images of one hive: the
// key path in front, quoted names, offsets and counts.
std::string problem_kind(const std::string& line) {
  static const char* const kFixed[] = {"base block:", "bin at ",
                                       "security list:", "security record at ", "... and "};
  std::string s = line;
  // The owner named after "already used as the ... of" is a key path.
  if (const auto used = s.find(" is already used as the "); used != std::string::npos) {
    const auto of = s.find(" of ", used);
    if (of != std::string::npos) s.erase(of);
  }
  const bool fixed = std::any_of(std::begin(kFixed), std::end(kFixed),
                                 [&](const char* p) { return s.rfind(p, 0) == 0; });
  if (!fixed) {
    const auto colon = s.find(": ");
    if (colon != std::string::npos) s = s.substr(colon + 2);
  }
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '"') {
      const auto end = s.find('"', i + 1);
      out += "\"\"";
      if (end == std::string::npos) break;
      i = end;
    } else if (s.compare(i, 2, "0x") == 0) {
      out += '#';
      i += 2;
      while (i < s.size() && g_ascii_isxdigit(s[i])) ++i;
      --i;
    } else if (g_ascii_isdigit(s[i])) {
      out += '#';
      while (i + 1 < s.size() && g_ascii_isdigit(s[i + 1])) ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// An sk record counting more references than the keys the check reached: a
// deleted subtree's keys below the depth limit stay allocated and keep their
// references, and keys left unlisted by damage do too. The record then only
// lives longer; nothing is freed early.
bool excess_references(const std::string& line) {
  const auto at = line.find(": reference count ");
  if (at == std::string::npos || line.rfind("security record at ", 0) != 0) return false;
  const unsigned long refs = std::strtoul(line.c_str() + at + 18, nullptr, 10);
  const auto but = line.find(" but ", at);
  return but != std::string::npos && refs > std::strtoul(line.c_str() + but + 5, nullptr, 10);
}

std::set<std::string> problem_kinds(const TolCheckReport& report) {
  std::set<std::string> kinds;
  for (const auto& line : report.problems) kinds.insert(problem_kind(line));
  return kinds;
}

bool read_file(const std::string& path, Bytes& out) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return false;
  out.assign(contents, contents + length);
  g_free(contents);
  return true;
}

TolHivePtr open_copy(const std::string& from, const std::string& to) {
  Bytes bytes;
  if (!read_file(from, bytes)) return nullptr;
  HiveBuilder::write_bytes(to, bytes);
  return tol_hive_open(to, nullptr);
}

// The first `n` readable value names of a key.
std::vector<std::string> value_names(const TolHive& hive, std::uint32_t key, std::size_t n) {
  std::vector<std::string> names;
  const std::uint32_t count = tol_hive_value_count(hive, key);
  for (std::uint32_t i = 0; i < count && names.size() < n; ++i) {
    TolHiveValue value;
    if (tol_hive_read_value(hive, key, i, value)) names.push_back(value.name);
  }
  return names;
}

// Refusals because the census found the edit would spread damage: such a
// session may end with less done than the corpus expects, never with more harm.
struct Refusals {
  bool for_damage = false;
  std::string operator()(bool done, GError*& error) {
    if (!done && g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_DAMAGED)) for_damage = true;
    g_clear_error(&error);
    return done ? "ok" : for_damage ? "damaged" : "refused";
  }
};

// Where the probe is, on stderr: the parent shows the last step of a child
// that hung or crashed.
void step(const char* what) {
  std::fputs(what, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

class Probe {
 public:
  Probe(const HostileHive& hive, std::string file, std::string dir)
      : hive_(hive), file_(std::move(file)), dir_(std::move(dir)) {}

  ProbeReport run() {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(file_, &error);
    if (!hive) {
      report_.fields["open"] = error ? error->message : "failed";
      g_clear_error(&error);
      return std::move(report_);
    }
    report_.fields["open"] = "ok";
    read_only(*hive);
    edit_session();
    delete_session();
    copy_session(*hive);
    repair_session(*hive);
    return std::move(report_);
  }

 private:
  void fail(const std::string& text) { report_.failures.push_back(text); }
  // What an edit did to a hive whose damage the engine cannot see locally is
  // recorded, not failed.
  void damage(const std::string& session, const std::string& text) {
    if (hive_.shared_cells)
      report_.fields[session + ".spread"] += text + "; ";
    else
      fail(session + ": " + text);
  }
  void set(const std::string& key, const std::string& value) { report_.fields[key] = value; }

  void read_only(TolHive& hive) {
    step("read");
    before_ = read_everything(hive);
    set("keys", std::to_string(before_.keys));
    set("values", std::to_string(before_.values));
    if (hive_.victim != kNoCell) {
      victim_paths_.insert(tol_hive_key_path(hive, hive_.victim));
      for (const std::uint32_t nk : subtree(hive, hive_.victim))
        if (nk != hive.root_cell) victim_paths_.insert(tol_hive_key_path(hive, nk));
    }

    step("check");
    check_ = tol_hive_check(hive);
    set("check", check_.ok() ? "ok" : std::to_string(check_.problems.size()) + " problems");
    if (!check_.ok()) set("check.first", check_.problems.front());
    if (hive_.shared_cells &&
        std::none_of(check_.problems.begin(), check_.problems.end(), [](const std::string& line) {
          return line.find("is already used as") != std::string::npos ||
                 line.find("lies in a free cell") != std::string::npos ||
                 line.find("does not start a cell") != std::string::npos;
        }))
      fail("the check does not report the cells that two owners share");

    step("export");
    set("export.bytes", std::to_string(tol_reg_export_text(hive, hive.root_cell).size()));
    if (hive_.victim != kNoCell) (void)tol_reg_export_text(hive, hive_.victim);

    // The hive against itself opened a second time: the walks on both sides
    // see the same damage the same way, so they must end and find nothing.
    step("compare");
    if (TolHivePtr again = tol_hive_open(file_, nullptr)) {
      TolDiff diff;
      const TolDiffOptions everything{.security = true, .times = true};
      if (tol_compare(hive, hive.root_cell, *again, again->root_cell, everything, diff, nullptr) &&
          !diff.entries.empty())
        fail("the hive compared with itself differs at \"" + diff.entries.front().path + "\"");
      if (hive_.victim != kNoCell)
        (void)tol_compare(hive, hive_.victim, *again, again->root_cell, everything, diff, nullptr);
    }

    step("search");
    std::size_t hits = 0;
    TolSearchOptions plain;
    TolSearchOptions regex;
    regex.regex = true;
    TolSearchOptions whole;
    whole.whole_text = true;
    whole.data = false;
    for (const auto& [text, options] : {std::pair<const char*, TolSearchOptions>{"e", plain},
                                        {"^v|[0-9]$", regex},
                                        {"victim", whole}}) {
      const auto results = tol_search_hive(hive, text, options, nullptr);
      if (!results)
        fail(std::string("search for ") + text + " failed");
      else
        hits += results->size();
    }
    set("search.hits", std::to_string(hits));

    step("replace");
    TolReplaceOptions dry;
    dry.names = true;
    dry.dry_run = true;
    TolReplaceReport replace;
    (void)tol_replace_tree(hive, hive.root_cell, "a", "b", dry, replace, nullptr);
    set("replace.examined", std::to_string(replace.values_examined));
    if (hive.dirty) fail("a dry replace changed the image");

    step("deleted");
    const TolDeletedScan deleted = tol_deleted_scan(hive);
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < deleted.keys.size(); ++i)
      (void)tol_deleted_key_path(hive, deleted, i);
    for (std::size_t i = 0; i < deleted.values.size(); ++i) {
      (void)tol_deleted_value_key_path(hive, deleted, i);
      const bool read = tol_deleted_value_data(hive, deleted, deleted.values[i], data);
      if (read != deleted.values[i].data_intact ||
          (read && data.size() != std::min<std::uint32_t>(deleted.values[i].length, 4) &&
           data.size() != deleted.values[i].length))
        fail("a deleted value's data read otherwise than the scan said");
    }
    set("deleted", std::to_string(deleted.keys.size()) + " keys, " +
                       std::to_string(deleted.values.size()) + " values");

    // The same reads from the heap copy: the copy is exactly bins-length
    // bytes, so any read the mapping forgave would now show.
    step("read the heap copy");
    tol_hive_make_writable(hive);
    hive.name_cache.clear();
    if (read_everything(hive).digest != before_.digest)
      fail("the heap copy reads differently from the mapping");
  }

  // Whether `after` (a saved file) is no worse than the original: no more
  // problems, no new kind of problem, and every key outside the edited
  // subtree reads with the same values.
  EditResult judge(const std::string& session, const std::string& saved,
                   const std::set<std::string>& touched) {
    GError* error = nullptr;
    TolHivePtr hive = tol_hive_open(saved, &error);
    if (!hive) {
      fail(session + ": the saved hive does not open: " + (error ? error->message : ""));
      g_clear_error(&error);
      return EditResult::damaged;
    }
    step((session + ": check the saved hive").c_str());
    const TolCheckReport after = tol_hive_check(*hive);
    set(session + ".check",
        after.ok() ? "ok" : std::to_string(after.problems.size()) + " problems");
    if (!after.ok()) set(session + ".first", after.problems.front());
    if (check_.ok() && !after.ok())
      fail(session + ": a sound hive was saved damaged: " + after.problems.front());
    const std::set<std::string> old_kinds = problem_kinds(check_);
    std::size_t counted = 0;
    for (const auto& line : after.problems) {
      if (excess_references(line)) continue;
      ++counted;
      if (!old_kinds.contains(problem_kind(line))) damage(session, "new damage: " + line);
    }
    if (counted > check_.problems.size())
      damage(session, std::to_string(counted) + " problems after saving, " +
                          std::to_string(check_.problems.size()) + " before");

    const Reading now = read_everything(*hive);
    for (const auto& [path, values] : before_.by_path) {
      const bool edited = std::any_of(touched.begin(), touched.end(), [&](const std::string& t) {
        return path == t || (!t.empty() && path.rfind(t + "\\", 0) == 0);
      });
      if (edited) continue;
      const auto it = now.by_path.find(path);
      if (it == now.by_path.end()) {
        damage(session, "lost the key " + (path.empty() ? "\\" : path));
        continue;
      }
      std::multiset<std::string> kept;
      for (const auto& entry : it->second)
        if (entry.rfind("Hostile", 0) != 0) kept.insert(entry);
      if (kept != values)
        damage(session, "the values of " + (path.empty() ? "\\" : path) + " changed");
    }
    return after.ok() ? EditResult::clean : EditResult::damaged;
  }

  void record(const std::string& session, EditResult result, EditResult expected,
              bool refused_for_damage) {
    set(session + ".result", edit_result_name(result));
    const bool less_done = refused_for_damage && (result == EditResult::unchanged ||
                                                  result == EditResult::damaged);
    if (result != expected && !less_done)
      fail(session + ": ended " + edit_result_name(result) + ", expected " +
           edit_result_name(expected));
  }

  // Saves and judges; "unchanged" when nothing was written.
  EditResult save_and_judge(const std::string& session, TolHive& hive, const std::string& path,
                            std::set<std::string> touched) {
    if (!hive.dirty) {
      Bytes now;
      Bytes then;
      if (!read_file(path, now) || !read_file(file_, then) || now != then)
        fail(session + ": the file changed although nothing was edited");
      return EditResult::unchanged;
    }
    GError* error = nullptr;
    if (!tol_hive_save(hive, &error)) {
      fail(session + ": save failed: " + (error ? error->message : ""));
      g_clear_error(&error);
      return EditResult::damaged;
    }
    touched.insert(victim_paths_.begin(), victim_paths_.end());
    return judge(session, path, touched);
  }

  // Create a key and values, rename the victim and two of its values.
  void edit_session() {
    const std::string path = dir_ + "/" + kEditedFile;
    TolHivePtr hive = open_copy(file_, path);
    if (!hive) return fail("edit: the copy does not open");
    TolPageJournal journal;
    journal.begin(*hive);
    const std::uint32_t root = hive->root_cell;
    const Bytes text = utf16le_sz("hostile");

    std::string ops;
    step("edit");
    Refusals said;
    GError* e = nullptr;
    ops += "create:" + said(tol_hive_create_key(*hive, root, "HostileNew", &e).has_value(), e);
    ops += " set:" + said(tol_hive_set_value(*hive, root, "HostileValue", 1, text, &e), e);
    const std::uint32_t victim = hive_.victim;
    if (victim != kNoCell && tol_hive_key(*hive, victim)) {
      const auto names = value_names(*hive, victim, 2);
      ops += " big:" +
             said(tol_hive_set_value(*hive, victim, "HostileBig", 3, pattern(20000, 4), &e), e);
      if (!names.empty())
        ops += " renval:" +
               said(tol_hive_rename_value(*hive, victim, names[0], "HostileRenamed", &e), e);
      if (names.size() > 1)
        ops += " delval:" + said(tol_hive_delete_value(*hive, victim, names[1], &e), e);
      ops += " rename:" +
             said(tol_hive_rename_key(*hive, victim, "VictimRenamed", &e).has_value(), e);
    }
    set("edit.ops", ops);
    journal.commit(*hive);
    const EditResult result = save_and_judge("edit", *hive, path, {"HostileNew", "VictimRenamed"});
    record("edit", result, hive_.after_edits, said.for_damage);

    // Undo gives back the image as it was opened, to the byte.
    if (hive->writable) {
      journal.undo(*hive);
      Bytes file;
      read_file(file_, file);
      const auto base = hive->base().span();
      const auto bins = hive->bins().span();
      Bytes image(base.begin(), base.end());
      image.insert(image.end(), bins.begin(), bins.end());
      if (file.size() < image.size() || !std::equal(image.begin(), image.end(), file.begin()))
        fail("undo does not restore the image as opened");
    }
  }

  void delete_session() {
    if (hive_.victim == kNoCell) return;
    const std::string path = dir_ + "/" + kPrunedFile;
    TolHivePtr hive = open_copy(file_, path);
    if (!hive) return fail("delete: the copy does not open");
    step("delete");
    Refusals said;
    GError* e = nullptr;
    set("delete.ops", said(tol_hive_delete_key(*hive, hive_.victim, &e), e));
    record("delete", save_and_judge("delete", *hive, path, {}), hive_.after_delete,
           said.for_damage);
  }

  // Whatever the source holds, a sound destination stays sound.
  void copy_session(TolHive& source) {
    const std::string path = dir_ + "/" + kCopyFile;
    GError* error = nullptr;
    if (!tol_hive_create_file(path, "DEST", &error)) {
      fail(std::string("copy: cannot create the destination: ") + (error ? error->message : ""));
      g_clear_error(&error);
      return;
    }
    TolHivePtr dest = tol_hive_open(path, nullptr);
    if (!dest) return fail("copy: the destination does not open");
    step("copy");
    const std::uint32_t from = hive_.victim != kNoCell ? hive_.victim : source.root_cell;
    const std::uint32_t copied =
        tol_hive_copy_subtree(source, from, *dest, dest->root_cell, &error);
    set("copy.keys",
        std::to_string(copied) + (error ? std::string(" (") + error->message + ")" : ""));
    g_clear_error(&error);
    if (!tol_hive_save(*dest, &error)) {
      fail(std::string("copy: save failed: ") + (error ? error->message : ""));
      g_clear_error(&error);
      return;
    }
    // A source that loops is copied down to the depth limit, which leaves
    // the destination nested that deep; nothing else may be wrong with it.
    TolHivePtr saved = tol_hive_open(path, nullptr);
    if (!saved) return fail("copy: the saved destination does not open");
    for (const auto& line : tol_hive_check(*saved).problems)
      if (line.find("keys nested deeper than") == std::string::npos)
        return fail("copy: the destination was saved damaged: " + line);
  }

  // Whatever the input holds, the repaired hive is sound; a sound input loses
  // no more than its unsound names and does not grow.
  void repair_session(const TolHive& source) {
    const std::string path = dir_ + "/" + kRepairedFile;
    step("repair");
    TolRepairReport report;
    GError* error = nullptr;
    if (!tol_hive_repair(source, path, report, &error)) {
      set("repair", std::string("refused: ") + (error ? error->message : ""));
      g_clear_error(&error);
      return;
    }
    set("repair", std::to_string(report.drops.size()) + " drops");
    TolHivePtr saved = tol_hive_open(path, nullptr);
    if (!saved) return fail("repair: the new hive does not open");
    const TolCheckReport check = tol_hive_check(*saved);
    if (!check.ok()) fail("repair: the new hive is damaged: " + check.problems.front());
    // The check passes names Windows would not (a backslash, broken UTF-16);
    // only those may go.
    for (const TolRepairDrop& d : report.drops)
      if (hive_.sound && d.reason.find("the name") == std::string::npos)
        return fail("repair dropped from a sound hive: " + d.path + ": " + d.reason);
    if (hive_.sound && report.size_after > report.size_before) fail("repair grew a sound hive");
  }

  const HostileHive& hive_;
  const std::string file_;
  const std::string dir_;
  ProbeReport report_;
  Reading before_;
  TolCheckReport check_;
  std::set<std::string> victim_paths_;  // the victim's subtree, edited by every session
};

}  // namespace

ProbeReport probe_hive(const HostileHive& hive, const std::string& file, const std::string& dir) {
  return Probe(hive, file, dir).run();
}

}  // namespace tol::test
