// Comparing two subtrees (hive/compare.h) and the comparison as a .reg file
// (reg/diff.h): Windows' name matching, the entries' order and contents, data
// in every layout, damaged lists, and the .reg round trip through import.
#include "hive/compare.h"
#include "hive/check.h"
#include "reg/diff.h"
#include "reg_fixture.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

// Where a builder hive went, opened.
struct Side {
  TolHivePtr hive;
  BuiltTree tree;
  std::uint32_t key(const std::string& path) const { return tree.key(path); }
};

class Compare : public RegTest {
 protected:
  Side make(const KeySpec& root, std::uint32_t minor = 5) {
    HiveBuilder b;
    b.set_minor_version(minor);
    BuiltTree tree = b.tree(root);
    return {open(b), std::move(tree)};
  }
  // The same after `damage` has patched the builder.
  template <typename Damage>
  Side make_damaged(const KeySpec& root, Damage&& damage) {
    HiveBuilder b;
    BuiltTree tree = b.tree(root);
    damage(b, tree);
    return {open(b), std::move(tree)};
  }

  TolDiff diff(const Side& l, const Side& r, TolDiffOptions options = {}) {
    return diff(*l.hive, l.tree.root, *r.hive, r.tree.root, options);
  }
  TolDiff diff(const TolHive& l, std::uint32_t lk, const TolHive& r, std::uint32_t rk,
               TolDiffOptions options = {}) {
    TolDiff d;
    GError* error = nullptr;
    EXPECT_TRUE(tol_compare(l, lk, r, rk, options, d, &error)) << (error ? error->message : "");
    g_clear_error(&error);
    return d;
  }

  // "SIGN NOUN PATH", "|NAME" for values, "(keys/values)" for subtrees.
  static std::vector<std::string> lines(const TolDiff& d) {
    std::vector<std::string> out;
    for (const TolDiffEntry& e : d.entries) {
      std::string line = std::string(tol_diff_sign(e.kind)) + " " + tol_diff_noun(e.kind) + " " + e.path;
      if (tol_diff_noun(e.kind) == std::string("value")) line += "|" + e.value;
      if (e.kind == TolDiffKind::value_changed)
        line += std::string(e.type_differs ? " type" : "") + (e.data_differs ? " data" : "");
      if (tol_diff_noun(e.kind) == std::string("key"))
        line += " (" + std::to_string(e.subtree_keys) + "/" + std::to_string(e.subtree_values) + ")";
      out.push_back(line);
    }
    return out;
  }
};

KeySpec in_form(KeySpec k, NameForm form) {
  k.form = form;
  return k;
}

TEST_F(Compare, NamesMatchAsWindowsMatchesThem) {
  const Side l = make(key("ROOT",
                          {key("Run", {}, {val("Path", 1, utf16le_sz("x"))}),
                           in_form(key("Größe"), NameForm::Latin1), key("Ärger"), key("ÿes"), key("µ")},
                          {val("Wert", 4, le32(1), NameForm::Latin1)}));
  const Side r = make(key("ROOT",
                          {key("RUN", {}, {val("PATH", 1, utf16le_sz("x"))}),
                           in_form(key("GRÖßE"), NameForm::Utf16), key("ärger"), key("Ÿes"),
                           key("Μ")},  // Greek capital Mu: Windows leaves µ as it is
                          {val("WERT", 4, le32(1), NameForm::Utf16)}));
  const TolDiff d = diff(l, r);
  EXPECT_THAT(lines(d), ElementsAre("- key µ (1/0)", "+ key Μ (1/0)"));
  EXPECT_EQ(d.counts.by_kind[static_cast<int>(TolDiffKind::key_only_left)], 1u);
  EXPECT_EQ(d.counts.total(), 2u);
}

TEST_F(Compare, DepthFirstInWindowsOrderOwnEntriesFirst) {
  const Side l = make(key("ROOT",
                          {key("a", {key("sub", {}, {val("y", 4, le32(1))})}, {val("x", 4, le32(1))}),
                           key("B"), key("gone", {key("g1", {key("g2")}, {val("v", 3, {1})})}, {val("w", 3, {})})},
                          {val("z", 4, le32(1)), val("c", 4, le32(1)), val("A", 4, le32(7)),
                           val("B", 4, le32(1))}));
  const Side r = make(key("ROOT",
                          {key("A", {key("sub", {}, {val("y", 4, le32(2))})}, {val("x", 4, le32(2))}),
                           key("b", {}, {val("new", 4, le32(1))}), key("C")},
                          {val("d", 4, le32(1)), val("b", 4, le32(2)), val("a", 4, le32(7)),
                           val("z", 4, le32(2))}));
  const TolDiff d = diff(l, r);
  // ASCII order would put "B" and "C" before "a".
  EXPECT_THAT(lines(d), ElementsAre("~ value |B data", "- value |c", "+ value |d", "~ value |z data",
                                    "~ value a|x data", "~ value a\\sub|y data", "+ value B|new",
                                    "+ key C (1/0)", "- key gone (3/2)"));
  // Keys only on one side name the other side's parent; values name both keys.
  const TolDiffEntry& gone = d.entries.back();
  EXPECT_EQ(gone.left_key, l.key("gone"));
  EXPECT_EQ(gone.right_key, r.tree.root);
  const TolDiffEntry& added = d.entries[7];
  EXPECT_EQ(added.left_key, l.tree.root);
  EXPECT_EQ(added.right_key, r.key("C"));
  EXPECT_EQ(d.entries[4].left_key, l.key("a"));
  EXPECT_EQ(d.entries[4].right_key, r.key("A"));
  EXPECT_EQ(d.entries[4].left_value, l.tree.value("a", "x"));
  EXPECT_EQ(d.entries[4].right_value, r.tree.value("A", "x"));
  EXPECT_EQ(d.entries[1].right_value, TOL_NO_CELL);
  EXPECT_EQ(d.entries[2].left_value, TOL_NO_CELL);
  EXPECT_EQ(d.counts.total(), d.entries.size());
  EXPECT_EQ(d.counts.by_kind[static_cast<int>(TolDiffKind::value_changed)], 4u);
}

TEST_F(Compare, TypeOnlyDataOnlyAndEveryDataLayout) {
  const Bytes big = pattern(40000);
  Bytes big_changed = big;
  big_changed.back() ^= 1;
  const KeySpec shape = key("ROOT", {}, {val("t", 4, le32(5)), val("d", 4, le32(5)),
                                         val("both", 4, le32(5)), val("prefix", 3, {1, 2, 3}),
                                         val("big", 3, big), val("same", 1, utf16le_sz("text"))});
  const Side l = make(shape);
  // Version 1.3 keeps the big data in one cell, 1.5 in segments.
  const Side one_cell = make(shape, 3);
  EXPECT_THAT(lines(diff(l, one_cell)), IsEmpty());
  EXPECT_THAT(lines(diff(one_cell, l)), IsEmpty());

  const Side r = make(key("ROOT", {}, {val("t", 5, le32(5)), val("d", 4, le32(6)),
                                       val("both", 11, {5, 0, 0, 0, 0, 0, 0, 0}),
                                       val("prefix", 3, {1, 2}), val("big", 3, big_changed),
                                       val("same", 1, utf16le_sz("text"))}));
  EXPECT_THAT(lines(diff(l, r)), ElementsAre("~ value |big data", "~ value |both type data",
                                             "~ value |d data", "~ value |prefix data",
                                             "~ value |t type"));
  EXPECT_THAT(lines(diff(one_cell, r)), ElementsAre("~ value |big data", "~ value |both type data",
                                                    "~ value |d data", "~ value |prefix data",
                                                    "~ value |t type"));

  // Four bytes inline in the record against the same four in a cell.
  const Side in_cell = make_damaged(key("ROOT"), [](HiveBuilder& b, BuiltTree& t) {
    const std::uint32_t data = b.cell(le32(5));
    const std::uint32_t vk = b.vk(VkRecord{.name = encode_name("d"), .type = 4, .data_length = 4,
                                           .data_offset = data, .flags = 0, .name_length = {},
                                           .extra = 0});
    b.patch_u32(t.root, 0x24, 1);
    b.patch_u32(t.root, 0x28, b.offsets({vk}));
  });
  const Side inline_d = make(key("ROOT", {}, {val("d", 4, le32(5))}));
  EXPECT_THAT(lines(diff(in_cell, inline_d)), IsEmpty());
}

TEST_F(Compare, EmptyIdenticalAndTheSameHive) {
  EXPECT_THAT(lines(diff(make(key("ROOT")), make(key("R2")))), IsEmpty());
  const KeySpec tree = key("ROOT", {key("A", {key("deep")}, {val("v", 3, pattern(30000))}),
                                    key("B", {key("deep")}, {val("v", 3, pattern(30000))})});
  const Side one = make(tree);
  const Side two = make(tree);
  EXPECT_THAT(lines(diff(one, two)), IsEmpty());
  EXPECT_THAT(lines(diff(one, one)), IsEmpty());
  EXPECT_THAT(lines(diff(*one.hive, one.key("A"), *one.hive, one.key("B"))), IsEmpty());
  EXPECT_THAT(lines(diff(*one.hive, one.key("A"), *one.hive, one.tree.root)),
              ElementsAre("- value |v", "+ key A (2/1)", "+ key B (2/1)", "- key deep (1/0)"));
  EXPECT_THAT(lines(diff(make(key("ROOT")), one)), ElementsAre("+ key A (2/1)", "+ key B (2/1)"));
}

TEST_F(Compare, DamagedListsStayFiniteAndSensible) {
  const KeySpec sound = key("ROOT", {key("A", {key("X", {key("Y")})}, {val("v", 4, le32(1))}),
                                     key("B"), key("Z", {key("W")})});
  // A list that names a key twice, lists that lead back to the root and to
  // the key itself, and an only-left subtree whose list loops.
  const Side damaged = make_damaged(sound, [](HiveBuilder& b, BuiltTree& t) {
    const std::uint32_t a = t.key("A"), bk = t.key("B"), z = t.key("Z"), w = t.key("Z\\W");
    b.patch_u32(t.root, 0x1C, b.li({a, a, bk, z, a}));
    b.patch_u32(t.root, 0x14, 5);
    b.patch_u32(t.key("A\\X"), 0x1C, b.li({t.root, t.key("A\\X\\Y"), a}));
    b.patch_u32(t.key("A\\X"), 0x14, 3);
    b.patch_u32(bk, 0x1C, b.li({bk}));
    b.patch_u32(bk, 0x14, 1);
    b.patch_u32(z, 0x1C, b.li({z, w, t.root, w}));
    b.patch_u32(z, 0x14, 4);
  });
  const Side clean = make(sound);
  EXPECT_THAT(lines(diff(clean, damaged)), IsEmpty());
  EXPECT_THAT(lines(diff(damaged, clean)), IsEmpty());
  EXPECT_THAT(lines(diff(damaged, damaged)), IsEmpty());
  EXPECT_THAT(lines(diff(damaged, make(key("ROOT", {key("A", {}, {val("v", 4, le32(1))})})))),
              ElementsAre("- key A\\X (2/0)", "- key B (1/0)", "- key Z (2/0)"));

  // A list out of Windows' order is compared in that order.
  KeySpec unsorted = key("ROOT", {key("d"), key("c"), key("B", {}, {val("v", 4, le32(2))}), key("a")});
  unsorted.keep_order = true;
  const Side shuffled = make(unsorted);
  EXPECT_THAT(subkey_names(*shuffled.hive, shuffled.tree.root), ElementsAre("d", "c", "B", "a"));
  EXPECT_THAT(lines(diff(make(key("ROOT", {key("a"), key("B", {}, {val("v", 4, le32(1))}), key("c")})),
                         shuffled)),
              ElementsAre("~ value B|v data", "+ key d (1/0)"));
}

TEST_F(Compare, ClassSecurityAndTimesOnlyWhenAsked) {
  const KeySpec shape = key("ROOT", {key("K", {}, {val("v", 4, le32(1))})});
  const Side l = make(shape);
  const Side r = make_damaged(shape, [](HiveBuilder& b, BuiltTree& t) {
    const std::uint32_t k = t.key("K");
    const Bytes name = utf16le("Class");
    b.patch_u32(k, 0x30, b.cell(name));
    b.patch_u16(k, 0x4A, static_cast<std::uint16_t>(name.size()));
    Bytes sd = default_security_descriptor();
    sd.back() ^= 1;
    b.patch_u32(k, 0x2C, b.sk(sd));
    b.patch_u32(k, 0x04, b.read_u32(k, 0x04) + 1);
    b.patch_u32(k, 0x24, 0);
  });
  EXPECT_THAT(lines(diff(l, r)), ElementsAre("- value K|v"));
  EXPECT_THAT(lines(diff(l, r, {.security = true, .times = false})),
              ElementsAre("~ class K", "~ security K", "- value K|v"));
  EXPECT_THAT(lines(diff(l, r, {.security = false, .times = true})),
              ElementsAre("~ time K", "- value K|v"));
  EXPECT_THAT(lines(diff(l, make(shape), {.security = true, .times = true})), IsEmpty());
}

TEST_F(Compare, RefusesKeysItCannotReadAndStopsWhenAsked) {
  const Side s = make(key("ROOT", {key("A")}, {val("v", 4, le32(1))}));
  TolDiff d;
  GError* error = nullptr;
  EXPECT_FALSE(tol_compare(*s.hive, TOL_NO_CELL, *s.hive, s.tree.root, {}, d, &error));
  EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_INVAL));
  g_clear_error(&error);
  EXPECT_FALSE(tol_compare(*s.hive, s.tree.root, *s.hive, s.tree.value("", "v"), {}, d, &error));
  g_clear_error(&error);

  int asked = 0;
  const Side other = make(key("ROOT"));
  EXPECT_FALSE(tol_compare(*s.hive, s.tree.root, *other.hive, other.tree.root, {}, d, &error,
                           [&] { return ++asked > 1; }));
  ASSERT_NE(error, nullptr);
  // GIO's G_IO_ERROR_CANCELLED, which the engine cannot name without GIO.
  EXPECT_STREQ(g_quark_to_string(error->domain), "g-io-error-quark");
  EXPECT_EQ(error->code, 19);
  EXPECT_TRUE(d.entries.empty());
  g_clear_error(&error);
  EXPECT_EQ(asked, 1);
}

class RegDiff : public Compare {};

TEST_F(RegDiff, TextTurnsTheLeftIntoTheRight) {
  const Side l = make(key("ROOT",
                    {key("Dest", {key("Old", {key("Older")}), key("Keep", {}, {val("x", 4, le32(1))})},
                         {val("", 1, utf16le_sz("d")), val("gone", 4, le32(1)), val("Ä", 4, le32(1)),
                          val("q\"\\", 3, {1})})}));
  const Side r = make(key("ROOT",
                          {key("Src", {key("keep", {}, {val("X", 4, le32(2)), val("y", 3, {})}),
                                       key("New", {key("Newer")}, {val("n", 1, utf16le_sz("t"))})},
                               {val("ä", 4, le32(2)), val("q\"\\", 3, {2})})}));
  const TolDiff d = diff(*l.hive, l.key("Dest"), *r.hive, r.key("Src"));
  const std::string text = tol_reg_diff_text(*l.hive, *r.hive, d);
  // The left's spelling of names both sides have, so that the import finds them.
  EXPECT_EQ(text, kHeader +
                      "[]\n@=-\n\"gone\"=-\n\"q\\\"\\\\\"=hex:02\n\"Ä\"=dword:00000002\n\n"
                      "[Keep]\n\"x\"=dword:00000002\n\"y\"=hex:\n\n"
                      "[New]\n\"n\"=\"t\"\n\n[New\\Newer]\n\n"
                      "[-Old]\n\n");

  tol_hive_make_writable(*l.hive);
  EXPECT_THAT(counters(import(*l.hive, l.key("Dest"), text)), ElementsAre(4, 5, 1, 2, 0));
  EXPECT_THAT(lines(diff(*l.hive, l.key("Dest"), *r.hive, r.key("Src"))), IsEmpty());
  EXPECT_EQ(tol_hive_value_count(*l.hive, l.key("Dest")), 2u);
  EXPECT_TRUE(tol_hive_check(*l.hive).ok());

  // The same through a file (the right side is what its lines are read from).
  const std::string file = path("diff.reg");
  GError* error = nullptr;
  ASSERT_TRUE(tol_reg_diff_file(*l.hive, *r.hive, d, file, &error));
  const Bytes written = file_bytes(file);
  EXPECT_EQ(std::string(written.begin(), written.end()), text);
  EXPECT_FALSE(tol_reg_diff_file(*l.hive, *r.hive, d, dir_ + "/no/diff.reg", &error));
  EXPECT_TRUE(g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT));
  g_clear_error(&error);
}

TEST_F(RegDiff, NamesNoLineCanCarryAreLeftOut) {
  const Side l = make(key("ROOT", {key("a\nb", {}, {val("v", 4, le32(1))}), key("c\r[-]")},
                          {val("x\n[-]", 4, le32(1))}));
  const Side r = make(key("ROOT", {key("a\nb", {}, {val("v", 4, le32(2))})}));
  const std::string text = tol_reg_diff_text(*l.hive, *r.hive, diff(l, r));
  EXPECT_EQ(text, kHeader +
                      "[]\n; pominieto wartosc - nazwa zawiera znak konca wiersza\n\n"
                      "; pominieto klucz - nazwa zawiera znak konca wiersza\n"
                      "; pominieto klucz - nazwa zawiera znak konca wiersza\n");
}

}  // namespace
}  // namespace tol::test
