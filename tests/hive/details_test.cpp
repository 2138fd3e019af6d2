// Key details, security descriptors as data and as SDDL, and the timeline.
#include <map>
#include <set>

#include "hive/check.h"
#include "hive/create.h"
#include "hive/details.h"
#include "hive/errors.h"
#include "hive/document.h"
#include "hive/sddl.h"
#include "hive/security.h"
#include "hive_fixture.h"
#include "search/timeline.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// --- Times -------------------------------------------------------------------------

TEST(KeyTimes, FiletimesFormatAndParseAsUtc) {
  struct Case {
    std::uint64_t filetime;
    const char* text;
  };
  const Case cases[] = {
      {0, "1601-01-01T00:00:00Z"},
      {116444736000000000ull, "1970-01-01T00:00:00Z"},
      {133537700960000000ull, "2024-03-01T12:34:56Z"},
      {133537247990000000ull, "2024-02-29T23:59:59Z"},
      {2650467743990000000ull, "9999-12-31T23:59:59Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tol_filetime_iso8601(c.filetime), c.text);
    EXPECT_EQ(tol_filetime_parse_iso8601(c.text, nullptr), c.filetime) << c.text;
  }
  EXPECT_EQ(tol_filetime_iso8601(133537700961234567ull, true), "2024-03-01T12:34:56.1234567Z");
  EXPECT_EQ(tol_filetime_iso8601(~0ull), "60056-05-28T05:36:10Z");  // no FILETIME lacks a form
  EXPECT_EQ(tol_filetime_parse_iso8601("2024-03-01T12:34:56.1234567Z", nullptr), 133537700961234567ull);
  EXPECT_EQ(tol_filetime_parse_iso8601("2024-03-01 12:34:56.5", nullptr), 133537700965000000ull);
  EXPECT_EQ(tol_filetime_parse_iso8601("2024-03-01T12:34", nullptr), 133537700960000000ull - 560000000);
  EXPECT_EQ(tol_filetime_parse_iso8601("2024-03-01", nullptr), 133537248000000000ull);
  for (const char* bad : {"2024-02-30", "2023-02-29", "1600-12-31", "2024-3-01", "2024-03-01T24:00",
                          "2024-03-01T12:34:56.12345678", "2024-03-01T12:34:56+01:00", "", "yesterday"}) {
    g_autoptr(GError) error = nullptr;
    EXPECT_FALSE(tol_filetime_parse_iso8601(bad, &error)) << bad;
    EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_INVALID)) << bad;
  }
}

// --- Key details ------------------------------------------------------------------

TEST_F(HiveTest, KeyDetailsReadEveryFieldAndNameDamage) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("A"), key("B")}));
  const Bytes class_text = utf16le("Cls");
  const std::uint32_t class_cell = b.cell(class_text);
  const std::uint32_t a = t.key("A");
  b.patch_u16(a, 0x02, 0x0020 | 0x0008 | 0x0010 | 0x4000);
  b.patch_u32(a, 0x04, 0x34567890);
  b.patch_u32(a, 0x08, 0x01DA6BD2);
  b.patch_u32(a, 0x18, 2);
  b.patch_u32(a, 0x30, class_cell);
  b.patch_u16(a, 0x4A, static_cast<std::uint16_t>(class_text.size()));
  b.patch_u32(a, 0x34, 0x00A30014);  // user flags 0xA, virtualization flags 3, length 20
  b.patch_u32(a, 0x38, 6);
  b.patch_u32(a, 0x3C, 8);
  b.patch_u32(a, 0x40, 100);
  // B: a class cell shorter than its length, a security cell that is no sk record.
  b.patch_u32(t.key("B"), 0x30, class_cell);
  b.patch_u16(t.key("B"), 0x4A, 200);
  b.patch_u32(t.key("B"), 0x2C, class_cell);
  TolHivePtr hive = open(b);

  const auto d = tol_hive_key_details(*hive, a, nullptr);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->last_write, 0x01DA6BD234567890ull);
  EXPECT_EQ(d->parent, t.root);
  EXPECT_THAT(tol_key_flag_names(d->flags),
              ElementsAre("no delete", "symbolic link", "compressed name", "0x4000"));
  EXPECT_EQ(d->class_name, "Cls");
  EXPECT_EQ(d->class_offset, class_cell);
  EXPECT_EQ(d->volatile_subkey_count, 2u);
  EXPECT_EQ(d->max_subkey_name, 20u);
  EXPECT_EQ(d->virtualization_flags, 3u);
  EXPECT_EQ(d->user_flags, 0xAu);
  EXPECT_EQ(d->max_class_name, 6u);
  EXPECT_EQ(d->max_value_name, 8u);
  EXPECT_EQ(d->max_value_data, 100u);
  EXPECT_EQ(d->security_offset, t.sk);
  EXPECT_EQ(d->security_refcount, 3u);  // one shared record for the three keys
  EXPECT_EQ(d->security_length, default_security_descriptor().size());
  EXPECT_TRUE(d->problems.empty());

  const auto root = tol_hive_key_details(*hive, t.root, nullptr);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->subkey_count, 2u);
  EXPECT_FALSE(root->class_name);
  EXPECT_TRUE(root->problems.empty());

  const auto damaged = tol_hive_key_details(*hive, t.key("B"), nullptr);
  ASSERT_TRUE(damaged);
  EXPECT_FALSE(damaged->class_name);
  EXPECT_FALSE(damaged->security_refcount);
  ASSERT_EQ(damaged->problems.size(), 2u);
  EXPECT_THAT(damaged->problems[0], HasSubstr("class name cell"));
  EXPECT_THAT(damaged->problems[1], HasSubstr("not a security record"));

  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_hive_key_details(*hive, class_cell, &error));
  EXPECT_TRUE(g_error_matches(error, TOL_HIVE_ERROR, TOL_HIVE_ERROR_NOT_FOUND));
  EXPECT_EQ(tol_hive_key_last_write(*hive, class_cell), 0u);
}

// --- SDDL -------------------------------------------------------------------------

Bytes sddl_bytes(std::string_view text) {
  g_autoptr(GError) error = nullptr;
  auto bytes = tol_sddl_to_descriptor(text, &error);
  EXPECT_TRUE(bytes) << text << ": " << (error ? error->message : "");
  return bytes.value_or(Bytes{});
}

std::string sddl_text(std::span<const std::uint8_t> bytes) {
  g_autoptr(GError) error = nullptr;
  auto text = tol_sddl_from_descriptor(bytes, &error);
  EXPECT_TRUE(text) << (error ? error->message : "");
  return text.value_or("");
}

// Canonical texts: parse, store as bytes, decode and print give the text back,
// and the bytes pass the checks a stored descriptor must pass.
TEST(Sddl, CanonicalTextsRoundTrip) {
  const char* const texts[] = {
      "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CI;KR;;;AC)",
      "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SYD:PAI(A;CIIO;GA;;;CO)"
      "(A;CI;KA;;;SY)(A;CI;KR;;;BU)(A;CI;KR;;;S-1-15-2-2)(D;;KW;;;BG)",
      "O:BAD:ARAI(A;OICINPIOIDCRSAFA;GRGX;;;AU)(A;;SDRCWDWO;;;PU)(A;;0x1;;;LS)(A;;0x0;;;NS)S:PAI(AU;SAFA;KA;;;WD)",
      "D:",
      "D:P",
      "D:NO_ACCESS_CONTROL",
      "D:PAINO_ACCESS_CONTROLS:",
      "G:RCS:(ML;;NW;;;LW)(ML;CI;NWNRNX;;;HI)",
      "D:(OA;CI;KR;bf967aba-0de6-11d0-a285-00aa003049e2;;AU)(OD;;GA;;4828cc14-1437-45bc-9b07-ad6f015e5f28;WD)"
      "(OA;;KA;bf967aba-0de6-11d0-a285-00aa003049e2;4828cc14-1437-45bc-9b07-ad6f015e5f28;S-1-5-21-1-2-3-1000)",
      "O:S-1-0x123456789ABC-1-2-3-4-5-6-7-8-9-10-11-12-13-14-4294967295",
      "O:S-1-0x0F123456789AD:",
      "",
  };
  for (const char* text : texts) {
    const Bytes bytes = sddl_bytes(text);
    EXPECT_TRUE(tol_security_descriptor_valid(bytes)) << text;
    EXPECT_EQ(sddl_text(bytes), text);
    EXPECT_EQ(sddl_bytes(sddl_text(bytes)), bytes) << text;
  }
  // Object ACEs need ACL revision 4, others get 2.
  const auto object = tol_sd_decode(sddl_bytes(texts[8]), nullptr);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->dacl.revision, 4);
  EXPECT_EQ(object->dacl.aces[2].object_flags, 3u);
  EXPECT_EQ(tol_sd_decode(sddl_bytes(texts[0]), nullptr)->dacl.revision, 2);
}

// The descriptors the engine and the builder write are in the layout parsing
// builds, so they survive decode and encode byte for byte.
TEST_F(HiveTest, SddlKeepsTheBytesOfTheDescriptorsHivesAreMadeWith) {
  const std::string file = path();
  ASSERT_TRUE(tol_hive_create_file(file, "ROOT", nullptr));
  GError* error = nullptr;
  TolHivePtr hive = tol_hive_open(file, &error);
  ASSERT_TRUE(hive);
  const Bytes created = *tol_hive_key_security(*hive, hive->root_cell);
  EXPECT_EQ(sddl_text(created), "O:BAG:SYD:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;WD)");
  for (const Bytes& bytes : {created, default_security_descriptor()}) {
    EXPECT_EQ(sddl_bytes(sddl_text(bytes)), bytes);
    const auto sd = tol_sd_decode(bytes, nullptr);
    ASSERT_TRUE(sd);
    EXPECT_EQ(tol_sd_encode(*sd, nullptr), bytes);
  }
}

TEST(Sddl, OtherSpellingsPrintCanonically) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"D:(A;;0xF003F;;;S-1-5-18)", "D:(A;;KA;;;SY)"},
      {"D:(A;;KX;;;BU)(A;;131097;;;BU)", "D:(A;;KR;;;BU)(A;;KR;;;BU)"},
      {"D:(A;;FA;;;BA)", "D:(A;;0x1f01ff;;;BA)"},
      {"D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;SY)", "D:(A;;0xf01ff;;;SY)"},
      {"D:(A;;GXGR;;;SY)(A;;KRKW;;;SY)", "D:(A;;GRGX;;;SY)(A;;0x2001f;;;SY)"},
      {"D:AIP(A;CIOI;KA;;;SY)O:BA", "O:BAD:PAI(A;OICI;KA;;;SY)"},
      {"S:(AU;TP;KA;;;WD)", "S:(AU;SA;KA;;;WD)"},
      {"D:(OA;;KA;BF967ABA-0DE6-11D0-A285-00AA003049E2;;S-1-1-0)",
       "D:(OA;;KA;bf967aba-0de6-11d0-a285-00aa003049e2;;WD)"},
      {"O:S-1-5-32-544G:S-1-0x000000000005-18", "O:BAG:SY"},
  };
  for (const Case& c : cases) {
    const auto sd = tol_sddl_parse(c.in, nullptr);
    ASSERT_TRUE(sd) << c.in;
    EXPECT_EQ(tol_sddl_print(*sd, nullptr), c.out) << c.in;
  }
}

TEST(Sddl, AliasesNameTheirSidsBothWays) {
  std::set<std::string> aliases;
  for (const TolWellKnownSid& w : tol_well_known_sids()) {
    const auto sid = tol_sid_parse(w.sid);
    ASSERT_TRUE(sid) << w.sid;
    EXPECT_EQ(tol_sid_string(*sid), w.sid);
    EXPECT_EQ(tol_sid_well_known(*sid), &w);
    if (!w.alias) continue;
    EXPECT_TRUE(aliases.insert(w.alias).second) << w.alias;
    const auto sd = tol_sddl_parse(std::string("O:") + w.alias, nullptr);
    ASSERT_TRUE(sd) << w.alias;
    EXPECT_EQ(tol_sid_string(*sd->owner), w.sid) << w.alias;
  }
  // The accounts registry keys name most.
  const std::pair<const char*, const char*> expected[] = {
      {"WD", "S-1-1-0"},  {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"SY", "S-1-5-18"},
      {"LS", "S-1-5-19"}, {"NS", "S-1-5-20"},     {"AU", "S-1-5-11"},     {"RC", "S-1-5-12"},
      {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"},
      {"PU", "S-1-5-32-547"}, {"BO", "S-1-5-32-551"}, {"AC", "S-1-15-2-1"},
  };
  for (const auto& [alias, sid] : expected)
    EXPECT_EQ(tol_sid_string(*tol_sddl_parse(std::string("O:") + alias, nullptr)->owner), sid) << alias;
  const auto installer =
      tol_sid_parse("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
  ASSERT_TRUE(installer);
  EXPECT_EQ(tol_sid_display(*installer),
            "NT SERVICE\\TrustedInstaller (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)");
  EXPECT_EQ(tol_sid_well_known(*tol_sid_parse("S-1-15-2-2"))->alias, nullptr);
  EXPECT_FALSE(tol_sid_parse("S-1-5-18G:SY"));
  EXPECT_FALSE(tol_sid_parse("SY"));
}

TEST(Sddl, ParseErrorsNameThePositionAndWhatWasExpected) {
  struct Case {
    std::string text;
    std::size_t position;
    const char* says;
  };
  const std::string many = "O:S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16";
  const Case cases[] = {
      {"X:BA", 0, "expected \"O:\", \"G:\", \"D:\" or \"S:\""},
      {"O:", 2, "expected a SID"},
      {"O:ZZ", 2, "unknown SID alias \"ZZ\""},
      {"O:DA", 2, "need a domain"},
      {"O:BAO:SY", 4, "O: is given twice"},
      {"O:S-2-5", 4, "SID revision 2"},
      {"O:S-1-5-4294967296", 8, "larger than 4294967295"},
      {"O:S-1-", 6, "expected a number"},
      {many, many.rfind('-'), "at most 15 sub-authorities"},
      {"D:(A;CI;KA;;SY)", 12, "expected \";\""},
      {"D:(A;XX;KA;;;SY)", 5, "expected ACE flags"},
      {"D:(Q;;KA;;;SY)", 3, "unknown ACE type \"Q\""},
      {"D:(;;KA;;;SY)", 3, "expected an ACE type"},
      {"D:(A;;ZZ;;;SY)", 6, "expected access rights"},
      {"D:(A;;0xG;;;SY)", 8, "expected hex digits"},
      {"D:(A;;KA;;;SY", 13, "expected \")\""},
      {"D:(A;;KA;;;SY;(x))", 13, "not supported"},
      {"D:(A;;KA;;;SY)x", 14, "expected \"(\""},
      {"D:NO_ACCESS_CONTROL(A;;KA;;;SY)", 19, "holds no ACEs"},
      {"D:(OA;;KA;bf967aba-0de6-11d0-a285;;;SY)", 10, "expected a GUID"},
      {"D:(A;;KA;bf967aba-0de6-11d0-a285-00aa003049e2;;SY)", 9, "only object ACE types carry GUIDs"},
  };
  for (const Case& c : cases) {
    g_autoptr(GError) error = nullptr;
    std::size_t position = 9999;
    EXPECT_FALSE(tol_sddl_parse(c.text, &error, &position)) << c.text;
    ASSERT_TRUE(g_error_matches(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_PARSE)) << c.text;
    EXPECT_EQ(position, c.position) << c.text;
    EXPECT_THAT(error->message, HasSubstr("SDDL position " + std::to_string(c.position) + ": ")) << c.text;
    EXPECT_THAT(error->message, HasSubstr(c.says)) << c.text;
  }
}

// Damaged bytes end decoding with the offset and the reason; no length of a
// cut descriptor reads past its end (the sanitizer build watches).
TEST(Sddl, DamagedDescriptorsAreRefusedWithTheOffset) {
  // Header 20, DACL at 20 (8 + 20 + 20), owner at 68, group at 84.
  const Bytes good = sddl_bytes("O:BAG:SYD:(A;;KA;;;SY)(A;;KR;;;WD)");
  ASSERT_EQ(good.size(), 96u);
  const auto damaged = [&](std::size_t at, std::uint8_t value) {
    Bytes b = good;
    b.at(at) = value;
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    std::size_t offset;
    const char* says;
  };
  const Case cases[] = {
      {"ACE count past the end", damaged(24, 3), 68, "ACE 3 of the DACL's 3 lies past the end"},
      {"ACE size zero", damaged(30, 0), 30, "ACE 1 of the DACL has size 0"},
      {"ACE size past the ACL", damaged(30, 44), 30, "runs past the end of the ACL"},
      {"owner SID with 16 sub-authorities", damaged(69, 16), 69, "16 sub-authorities (at most 15)"},
      {"group SID past the end", damaged(85, 3), 85, "run past its end"},
      {"ACE SID with 16 sub-authorities", damaged(37, 16), 37, "at most 15"},
      {"ACL size past the end", damaged(23, 1), 22, "runs past the end"},
      {"owner offset past the end", damaged(5, 1), 4, "past the end"},
      {"not self-relative", damaged(3, 0), 2, "self-relative"},
      {"revision 2", damaged(0, 2), 0, "revision 2"},
      {"cut header", Bytes(good.begin(), good.begin() + 19), 0, "fewer than the 20"},
  };
  for (const Case& c : cases) {
    g_autoptr(GError) error = nullptr;
    std::size_t offset = 9999;
    EXPECT_FALSE(tol_sd_decode(c.bytes, &error, &offset)) << c.what;
    ASSERT_TRUE(g_error_matches(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_DECODE)) << c.what;
    EXPECT_EQ(offset, c.offset) << c.what;
    EXPECT_THAT(error->message, HasSubstr("security descriptor offset " + std::to_string(c.offset)))
        << c.what;
    EXPECT_THAT(error->message, HasSubstr(c.says)) << c.what;
  }
  for (std::size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(tol_sd_decode(std::span(good).first(n), nullptr)) << n;
}

TEST(Sddl, WhatSddlCannotShowIsDecodedButNotPrinted) {
  // An ACE of type 4 (compound), and an allow-callback ACE with a condition.
  Bytes b = sddl_bytes("D:(A;;KA;;;SY)(XA;;KR;;;WD)");
  b.at(28) = 0x04;
  b.at(48 + 2) = static_cast<std::uint8_t>(b.at(48 + 2) + 4);
  b.insert(b.begin() + 48 + 20, {'a', 'r', 't', 'x'});
  b.at(22) = static_cast<std::uint8_t>(b.at(22) + 4);
  const auto sd = tol_sd_decode(b, nullptr);
  ASSERT_TRUE(sd);
  EXPECT_FALSE(sd->dacl.aces[0].known);
  EXPECT_EQ(sd->dacl.aces[1].trailing, (Bytes{'a', 'r', 't', 'x'}));
  EXPECT_EQ(tol_sd_encode(*sd, nullptr), b);
  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_sddl_print(*sd, &error));
  EXPECT_TRUE(g_error_matches(error, TOL_SDDL_ERROR, TOL_SDDL_ERROR_UNPRINTABLE));
  TolSecurityDescriptor callback = *sd;
  callback.dacl.aces.erase(callback.dacl.aces.begin());
  g_clear_error(&error);
  EXPECT_FALSE(tol_sddl_print(callback, &error));
  EXPECT_THAT(error->message, HasSubstr("4 bytes of conditions"));
}

TEST(Sddl, AccessMasksInWords) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tol_access_mask_names(0xF003F), V{"Full Control"});
  EXPECT_EQ(tol_access_mask_names(0x1F003F), (V{"Full Control", "SYNCHRONIZE"}));
  EXPECT_EQ(tol_access_mask_names(0x20019), V{"Read"});
  EXPECT_EQ(tol_access_mask_names(0x2001F), (V{"Read", "Write"}));
  EXPECT_EQ(tol_access_mask_names(0x20001), (V{"KEY_QUERY_VALUE", "READ_CONTROL"}));
  EXPECT_EQ(tol_access_mask_names(0x90000000), (V{"GENERIC_ALL", "GENERIC_READ"}));
  EXPECT_EQ(tol_access_mask_names(0x400 | 0x40000), (V{"WRITE_DAC", "0x400"}));
  EXPECT_EQ(tol_ace_applies_to(TOL_ACE_CONTAINER_INHERIT | TOL_ACE_INHERIT_ONLY), "Subkeys only");
}

// Storing SDDL is one undoable change of the document, and text that does not
// parse changes nothing.
TEST_F(HiveTest, SddlIsStoredAsOneUndoableChange) {
  HiveBuilder b;
  const BuiltTree t = b.tree(key("ROOT", {key("A"), key("B")}));
  const std::string file = write(b.image());
  g_autoptr(TolDocument) doc = tol_document_open(file, TolLogPolicy::apply, nullptr);
  ASSERT_TRUE(doc);
  const char* text = "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)";
  TolChangeStatus status{};
  ASSERT_TRUE(tol_document_store_sddl(doc, t.key("A"), text, nullptr, &status));
  EXPECT_EQ(status, TolChangeStatus::done);
  TolHive& hive = tol_document_get_hive(doc);
  EXPECT_EQ(sddl_text(*tol_hive_key_security(hive, t.key("A"))), text);
  EXPECT_EQ(*tol_hive_key_security(hive, t.key("B")), default_security_descriptor());
  EXPECT_TRUE(tol_hive_check(hive).ok());
  {
    GError* error = nullptr;
    TolHivePtr saved = tol_hive_open(file, &error);
    ASSERT_TRUE(saved);
    EXPECT_EQ(sddl_text(*tol_hive_key_security(*saved, t.key("A"))), text);
  }
  EXPECT_EQ(tol_document_undo_steps(doc), 1u);

  g_autoptr(GError) error = nullptr;
  EXPECT_FALSE(tol_document_store_sddl(doc, t.key("A"), "D:(A;;KA;;SY)", &error, &status));
  EXPECT_EQ(status, TolChangeStatus::refused);
  EXPECT_THAT(error->message, HasSubstr("SDDL position 10"));
  EXPECT_EQ(tol_document_undo_steps(doc), 1u);

  ASSERT_TRUE(tol_document_undo(doc, nullptr));
  EXPECT_EQ(*tol_hive_key_security(tol_document_get_hive(doc), t.key("A")), default_security_descriptor());
}

// --- Timeline ---------------------------------------------------------------------

class Timeline : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    tree_ = b_.tree(key("ROOT", {key("A", {key("A1"), key("A2")}), key("B", {key("B1")}), key("C")}));
    // Times by key: B1 newest, then A2 and C at the same time, ...
    for (const auto& [path, time] : std::map<std::string, std::uint64_t>{
             {"", 100}, {"A", 300}, {"A\\A1", 200}, {"A\\A2", 500}, {"B", 400}, {"B\\B1", 600}, {"C", 500}}) {
      b_.patch_u32(tree_.key(path), 0x04, static_cast<std::uint32_t>(time));
      b_.patch_u32(tree_.key(path), 0x08, 0);
    }
  }

  static TolTimelineOptions bounds(std::optional<std::uint64_t> since, std::optional<std::uint64_t> until,
                                   std::size_t limit = 0) {
    TolTimelineOptions options;
    options.since = since;
    options.until = until;
    options.limit = limit;
    return options;
  }

  std::vector<std::string> run(const TolHive& hive, std::uint32_t start, TolTimelineOptions options = {}) {
    const TolTimeline timeline = tol_timeline(hive, start, options);
    std::vector<std::string> lines;
    std::string path;
    for (const TolTimelineEntry& e : timeline.entries) {
      tol_timeline_path(hive, timeline, e, path);
      lines.push_back(std::to_string(e.last_write) + " " + path);
    }
    return lines;
  }

  HiveBuilder b_;
  BuiltTree tree_;
};

TEST_F(Timeline, NewestFirstWithinBoundsAndLimit) {
  TolHivePtr hive = open(b_);
  const std::vector<std::string> all = run(*hive, tree_.root);
  // A2 and C share a time: walk order (A's subtree comes first).
  EXPECT_THAT(all, ElementsAre("600 B\\B1", "500 A\\A2", "500 C", "400 B", "300 A", "200 A\\A1", "100 "));
  EXPECT_THAT(run(*hive, tree_.root, bounds(300, 500)),
              ElementsAre("500 A\\A2", "500 C", "400 B", "300 A"));
  for (std::size_t limit = 1; limit <= all.size() + 1; ++limit) {
    const auto some = run(*hive, tree_.root, bounds({}, {}, limit));
    EXPECT_EQ(some, std::vector<std::string>(all.begin(), all.begin() + std::min(limit, all.size())));
  }
  EXPECT_THAT(run(*hive, tree_.root, bounds(450, {}, 2)), ElementsAre("600 B\\B1", "500 A\\A2"));
  EXPECT_THAT(run(*hive, tree_.key("A")), ElementsAre("500 A\\A2", "300 A", "200 A\\A1"));
  EXPECT_TRUE(run(*hive, tree_.root, bounds(700, {})).empty());
}

// Lists that name a key twice, name an ancestor or name something that is no
// key: each key once, nothing else.
TEST_F(Timeline, DamagedListsListEachKeyOnce) {
  const std::uint32_t list = b_.li({tree_.key("B\\B1"), tree_.key("B\\B1"), tree_.root, tree_.sk});
  b_.patch_u32(tree_.key("B"), 0x14, 4);
  b_.patch_u32(tree_.key("B"), 0x1C, list);
  TolHivePtr hive = open(b_);
  const TolTimeline timeline = tol_timeline(*hive, tree_.root, {});
  EXPECT_EQ(timeline.keys_walked, 7u);
  EXPECT_EQ(run(*hive, tree_.root).front(), "600 B\\B1");
}

}  // namespace
}  // namespace tol::test
