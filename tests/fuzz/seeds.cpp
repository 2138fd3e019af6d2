// Starting inputs for the fuzz drivers, made by the test builder and by the
// drivers' own encoders: each reaches a different part of the engine so that
// the fuzzer does not have to discover the formats from nothing.
#include <algorithm>

#include "harness.h"
#include "hive/format.h"
#include "hive_builder.h"

namespace tol::fuzz {
namespace {

using test::Bytes;
using test::HiveBuilder;
using test::KeySpec;
using test::ListKind;
using test::NameForm;
using test::ValueSpec;

using test::key;
using test::val;

std::vector<KeySpec> leaves(int n, const std::string& prefix) {
  std::vector<KeySpec> out;
  for (int i = 0; i < n; ++i) out.push_back(key(prefix + std::to_string(i)));
  return out;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes utf16_file(std::string_view s) {
  Bytes out{0xFF, 0xFE};
  const Bytes units = test::utf16le(s);
  out.insert(out.end(), units.begin(), units.end());
  return out;
}

}  // namespace

std::vector<Seed> read_seeds() {
  std::vector<Seed> seeds;
  seeds.push_back({"base.hiv", base_hive()});
  seeds.push_back({"donor.hiv", donor_hive()});
  {
    HiveBuilder b;
    b.tree(key("ROOT"));
    seeds.push_back({"empty-root.hiv", b.image()});
  }
  // One key per kind of subkey list, one value per kind of data storage.
  for (const auto& [kind, name] : {std::pair{ListKind::li, "li"}, std::pair{ListKind::lf, "lf"},
                                  std::pair{ListKind::lh, "lh"}, std::pair{ListKind::ri, "ri"}}) {
    HiveBuilder b;
    std::vector<ValueSpec> values{val("inline", 4, test::le32(1)),
                                  val("cell", 1, test::utf16le_sz("cell data"))};
    // Big data once: it makes the input three times larger and every run slower.
    if (kind == ListKind::ri) values.push_back(val("big", 3, test::pattern(test::kSegment + 100)));
    b.tree(key("ROOT", {key("Parent", leaves(5, "K"), {}, kind)}, values));
    seeds.push_back({std::string("list-") + name + ".hiv", b.image()});
  }
  {
    // Names stored both ways, values of every type.
    HiveBuilder b;
    KeySpec latin = key("Stra\xC3\x9F" "e");
    latin.form = NameForm::Latin1;
    KeySpec wide = key("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87");
    wide.form = NameForm::Utf16;
    std::vector<ValueSpec> values;
    for (std::uint32_t type = 0; type <= 12; ++type)
      values.push_back(val("t" + std::to_string(type), type, test::pattern(type * 3, type)));
    values.push_back(val("multi", 7, test::multi_sz({"a", "", "b\xC3\xA9"})));
    b.tree(key("ROOT", {latin, wide}, values));
    seeds.push_back({"names-types.hiv", b.image()});
  }
  {
    // A few faults the read side must live with: a list naming its own
    // key, a value list running past its cell, a name longer than its record.
    HiveBuilder b;
    const auto tree = b.tree(key("ROOT", {key("A", {key("B")}), key("C")}, {val("v", 1, test::utf16le_sz("x"))}));
    b.patch_u32(tree.lists.at("A"), 4, tree.key("A"));
    b.patch_u32(tree.key("C"), 0x24, 5000);
    b.patch_u16(tree.key("A\\B"), 0x48, 600);
    seeds.push_back({"damaged.hiv", b.image()});
  }
  return seeds;
}

std::vector<Seed> import_seeds() {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::vector<Seed> seeds;
  seeds.push_back({"values.reg",
                   text(header +
                        "[Software\\Vendor\\New]\r\n"
                        "@=\"default\"\r\n"
                        "\"String\"=\"with \\\"quotes\\\" and \\\\ backslash\"\r\n"
                        "\"Dword\"=dword:0000abcd\r\n"
                        "\"Binary\"=hex:01,02,03,ff\r\n"
                        "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                        "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                        "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                        "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,\\\r\n"
                        "  13,14,15\r\n"
                        "\"Odd type\"=hex(12345678):aa\r\n\r\n")});
  seeds.push_back({"deletes.reg", text(header +
                                       "[-Software\\Vendor\\App]\r\n\r\n"
                                       "[Software\\Vendor]\r\n"
                                       "\"Path\"=-\r\n"
                                       "\"Flags\"=-\r\n\r\n"
                                       "[System\\Services\\Item3]\r\n"
                                       "\"Start\"=dword:00000004\r\n")});
  seeds.push_back({"regedit4.reg", text("REGEDIT4\n\n[Deep\\Er\\And\\Deeper]\n\"a\"=\"b\"\n"
                                        "; a comment\n[Empty]\n@=hex(0):\n")});
  seeds.push_back({"utf16.reg", utf16_file(header + "[Caf\xC3\xA9\\\xE5\x90\x8D]\r\n"
                                                    "\"\xF0\x9F\x98\x80\"=\"\xE2\x82\xAC\"\r\n")});
  seeds.push_back({"malformed.reg", text(header + "[Unclosed\r\n\"x\"=\"no end\r\n\"y\"=dword:zz\r\n"
                                                  "\"z\"=hex:1,,2,xyz\r\n[]\r\n[\\]\r\n=\r\n")});
  return seeds;
}

std::vector<Seed> search_seeds() {
  std::vector<Seed> seeds;
  // Search flags: keys 1, names 2, data 4, whole 8, regex 16.
  // Replace flags: names 1, data 2, case 4, whole 8, regex 16, dry run 32.
  seeds.push_back({"plain", search_input(7, 3, 0, "path", "Route")});
  seeds.push_back({"whole", search_input(15, 11, 2, "Version", "Release")});
  seeds.push_back({"regex", search_input(23, 18, 0, "(o)(n)e", "\\2\\1")});
  seeds.push_back({"regex-whole", search_input(31, 26, 1, "[0-9.]+", "x")});
  seeds.push_back({"case", search_input(4, 6, 3, "Lorem", "LOREM IPSUM")});
  seeds.push_back({"dry-run", search_input(7, 35, 0, "e", "\xC3\xA9")});
  seeds.push_back({"unicode", search_input(7, 3, 0, "\xC3\xA9", "e")});
  seeds.push_back({"grow", search_input(4, 2, 0, "o", "oooooooooooooooo")});
  return seeds;
}

std::vector<Seed> edit_seeds() {
  std::vector<Seed> seeds;
  const Bytes small{1, 2, 3, 4, 5, 6};
  seeds.push_back({"keys", EditScript()
                               .create_key(0, 3)
                               .create_key(1, 7)
                               .rename_key(2, 10)
                               .delete_key(4)
                               .create_key(0, 11)
                               .save_reopen()
                               .input()});
  seeds.push_back({"values", EditScript()
                                 .set_value(3, 18, 1, small)
                                 .set_sized_value(3, 19, 3, 4)
                                 .set_sized_value(5, 0, 1, 8)
                                 .rename_value(3, 18, 2)
                                 .delete_value(3, 19)
                                 .save_reopen()
                                 .input()});
  seeds.push_back({"copies", EditScript()
                                 .copy_from_donor(1, 0)
                                 .copy_within(1, 7)
                                 .copy_from_donor(0, 5)
                                 .save_reopen()
                                 .input()});
  seeds.push_back({"security-undo", EditScript()
                                        .store_security(2, 0, 0)
                                        .store_security(3, 9, 0xFF)
                                        .create_key(2, 1)
                                        .undo()
                                        .undo()
                                        .set_sized_value(0, 5, 3, 6)
                                        .input()});
  const std::uint8_t raw[] = {'r', 0xC3, 0xA9, 'w'};
  seeds.push_back({"raw-names", EditScript()
                                    .create_key(0, EditScript::raw_name(sizeof raw))
                                    .bytes(raw)
                                    .rename_key(1, EditScript::raw_name(2))
                                    .bytes(std::span(raw, 2))
                                    .input()});
  return seeds;
}

std::vector<Seed> logs_seeds() {
  // Logs that rewrite pages of the hive with bytes they hold already, and
  // one that changes the data of a value: all of recovery runs on them.
  const Bytes image = dirty_base_hive();
  const std::uint32_t secondary = tol::ByteView(image).u32(TOL_BASE_SEQ_SECONDARY);
  const std::uint32_t bins_size = tol::ByteView(image).u32(TOL_BASE_BINS_SIZE);
  std::vector<test::LogPage> pages;
  for (std::uint32_t at = 0; at < bins_size; at += 4096)
    pages.push_back({at, Bytes(image.begin() + 4096 + at, image.begin() + 4096 + at + 4096)});
  std::vector<test::LogEntrySpec> entries(2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].sequence = secondary + static_cast<std::uint32_t>(i);
    entries[i].bins_size = bins_size;
  }
  for (std::size_t p = 0; p < pages.size(); ++p) entries[p * 2 / pages.size()].pages.push_back(pages[p]);
  std::vector<Seed> seeds;
  seeds.push_back({"same-pages.log", log_input(0, test::new_format_log(image, secondary, entries))});
  Bytes changed = image;
  const std::string needle = "1.2.3";
  const Bytes units = test::utf16le(needle);
  auto at = std::search(changed.begin() + 4096, changed.end(), units.begin(), units.end());
  if (at != changed.end()) *at = '9';
  entries[0].pages = test::changed_pages(image, changed);
  entries.resize(1);
  seeds.push_back({"one-change.log", log_input(1, test::new_format_log(image, secondary, entries))});
  std::vector<std::uint32_t> blocks;
  for (std::uint32_t at = 0; at < bins_size; at += 8192) blocks.push_back(at);
  seeds.push_back({"dirty-pages.log", log_input(2, test::old_format_log(image, blocks))});
  return seeds;
}

}  // namespace tol::fuzz
