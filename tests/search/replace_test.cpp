// Replacing across a subtree: what is matched and rewritten under each
// option, the counts, report lines and messages, and runs that fail part-way.
#include "search/replace.h"

#include "../hive/hive_fixture.h"
#include "hive/page_journal.h"
#include "hive/format.h"
#include "hive/save.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;

// Options from letters: n(ames) d(ata) c(ase) w(hole text) r(egex) p(review).
TolReplaceOptions opts(std::string_view flags) {
  auto has = [&](char c) { return flags.find(c) != std::string_view::npos; };
  TolReplaceOptions o;
  o.names = has('n');
  o.data = has('d');
  o.match_case = has('c');
  o.whole_text = has('w');
  o.regex = has('r');
  o.dry_run = has('p');
  return o;
}

struct Value {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const Value&) const = default;
};

void PrintTo(const Value& v, std::ostream* os) {
  *os << "{\"" << v.name << "\", " << v.type << ", " << ::testing::PrintToString(v.data) << "}";
}

class Replace : public HiveTest {
 protected:
  void build(const KeySpec& root) {
    HiveBuilder b;
    tree_ = b.tree(root);
    hive_ = open(b);
    ASSERT_NE(hive_, nullptr);
  }
  // A root with one key K holding the values.
  void with_values(std::vector<ValueSpec> values) { build(key("ROOT", {key("K", {}, values)})); }

  // Runs at `path` and returns the popover's message.
  std::string run(std::string_view find, std::string_view replacement, TolReplaceOptions o,
                  const std::string& path = "") {
    report_ = TolReplaceReport{};
    GError* error = nullptr;
    const std::uint32_t start = path.empty() ? hive_->root_cell : tree_.key(path);
    ok_ = tol_replace_tree(*hive_, start, find, replacement, o, report_, &error);
    EXPECT_EQ(ok_, error == nullptr);
    if (error) {
      EXPECT_EQ(error->domain, G_FILE_ERROR);
    }
    const std::string message = tol_replace_message(report_, o.dry_run, error);
    g_clear_error(&error);
    return message;
  }
  std::vector<Value> values(const std::string& path = "K") const {
    const std::uint32_t nk = *tol_hive_find_path(*hive_, path);
    std::vector<Value> out;
    for (std::uint32_t i = 0; i < tol_hive_value_count(*hive_, nk); ++i) {
      TolHiveValue v;
      if (tol_hive_read_value(*hive_, nk, i, v)) out.push_back({v.name, v.type, v.data});
    }
    return out;
  }

  TolHivePtr hive_;
  BuiltTree tree_;
  TolReplaceReport report_;
  bool ok_ = false;
};

TEST_F(Replace, DefaultsReplaceStringDataCaselesslyAndLiterally) {
  with_values({val("foo", 1, utf16le_sz("Foo foo")), val("n", 4, bytes_of("foo!")),
               val("e", 2, utf16le_sz("%foo%")), val("b", 3, utf16le_sz("foo"))});
  const Bytes before = image_of(*hive_);
  EXPECT_EQ(run("foo", "bar", opts("dp")), "Preview: 2 values, 3 replacements");
  EXPECT_EQ(image_of(*hive_), before);
  EXPECT_FALSE(hive_->dirty);

  EXPECT_EQ(run("foo", "bar", opts("d")), "Done: 2 values, 3 replacements");
  EXPECT_THAT(values(),
              ElementsAre(Value{"foo", 1, utf16le_sz("bar bar")}, Value{"n", 4, bytes_of("foo!")},
                          Value{"e", 2, utf16le_sz("%bar%")}, Value{"b", 3, utf16le_sz("foo")}));
  EXPECT_THAT(report_.lines, ElementsAre("\\K : foo [dane]", "\\K : e [dane]"));
  EXPECT_EQ(report_.keys, 2u);
  EXPECT_EQ(report_.values_examined, 4u);

  EXPECT_EQ(run("foo", "bar", opts("d")), "Done: 0 values, 0 replacements");
  EXPECT_EQ(run("BAR", "x", opts("dc")), "Done: 0 values, 0 replacements");
}

TEST_F(Replace, RegexGroupsAndLiteralMode) {
  with_values({val("a", 1, utf16le_sz("item12")), val("b", 1, utf16le_sz("x(\\d+)y"))});
  EXPECT_EQ(run("(\\d+)", "[\\w]", opts("d")), "Done: 1 values, 1 replacements");
  EXPECT_THAT(values(), ElementsAre(Value{"a", 1, utf16le_sz("item12")},
                                    Value{"b", 1, utf16le_sz("x[\\w]y")}));
  EXPECT_EQ(run("(\\d+)", "<\\1>", opts("dr")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(values()[0].data, utf16le_sz("item<12>"));
  // An empty replacement removes every match.
  EXPECT_EQ(run("<\\d*>", "", opts("dr")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(values()[0].data, utf16le_sz("item"));
  // Empty matches count too, as many as the replacement inserts: 5 in
  // "item", 7 in "x[\\w]y" (the "x" and six empty ones).
  EXPECT_EQ(run("x*", "-", opts("drp")), "Preview: 2 values, 12 replacements");
  EXPECT_EQ(run("x*", "-", opts("dr")), "Done: 2 values, 12 replacements");
  EXPECT_EQ(values()[1].data, utf16le_sz("--[-\\-w-]-y-"));
}

TEST_F(Replace, NamesRenameOrCollide) {
  with_values({val("a", 1, utf16le_sz("a")), val("b", 4, le32(1)), val("abc", 4, le32(2)),
               val("abcd", 4, le32(3)), val("Same", 4, le32(4))});
  // Caseless: "Same" takes part too.
  EXPECT_EQ(run("a", "b", opts("np")), "Preview: 4 values, 4 replacements");
  EXPECT_EQ(run("a", "b", opts("nwc")), "Done: 0 values, 0 replacements, name collisions: 1");
  EXPECT_THAT(report_.lines, ElementsAre("\\K : a [nazwa]"));
  EXPECT_EQ(values()[0].name, "a");
  // The refused rename still lets the data go on under the old name.
  EXPECT_EQ(run("a", "z", opts("d")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(values()[0].data, utf16le_sz("z"));

  // Whole text: "ABC" but not "abcd"; a case-only change is a real rename.
  EXPECT_EQ(run("ABC", "ABC", opts("nw")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(values().back(), (Value{"ABC", 4, le32(2)}));
  // The same name again: nothing happens to it.
  const Bytes before = image_of(*hive_);
  EXPECT_EQ(run("s(a)me", "S\\1me", opts("nr")), "Done: 0 values, 0 replacements");
  EXPECT_EQ(image_of(*hive_), before);
}

TEST_F(Replace, DataIsRewrittenEvenWhenUnchanged) {
  Bytes stale = utf16le_sz("ab");
  stale.push_back('j');
  stale.push_back(0);
  with_values({val("v", 1, stale)});
  EXPECT_EQ(run("a", "a", opts("d")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(values()[0].data, utf16le_sz("ab"));
}

TEST_F(Replace, MultiSzWorksOnLineFeedText) {
  with_values({val("m", 7, multi_sz({"a", "b"})), val("n", 7, multi_sz({"one", "two"}))});
  EXPECT_EQ(run("a\nb", "c", opts("dw")), "Done: 1 values, 1 replacements");
  EXPECT_EQ(run("w", "\n", opts("d")), "Done: 1 values, 1 replacements");
  EXPECT_THAT(values(), ElementsAre(Value{"m", 7, multi_sz({"c"})},
                                    Value{"n", 7, multi_sz({"one", "t", "o"})}));
}

TEST_F(Replace, ReportKeepsTwentyLinesButCountsAll) {
  std::vector<ValueSpec> many;
  for (int i = 0; i < 25; ++i) many.push_back(val("x" + std::to_string(i), 1, utf16le_sz("x")));
  with_values(many);
  EXPECT_EQ(run("x", "y", opts("nd")), "Done: 25 values, 50 replacements");
  ASSERT_EQ(report_.lines.size(), TOL_REPLACE_MAX_REPORT_LINES);
  EXPECT_EQ(report_.lines[0], "\\K : x0 [nazwa]");
  EXPECT_EQ(report_.lines[1], "\\K : y0 [dane]");
  // Values keep their turn in the copy read first, though renames move them.
  EXPECT_EQ(values().front(), (Value{"y0", 1, utf16le_sz("y")}));
}

TEST_F(Replace, StartsAtTheKeyWithItsPath) {
  build(key("ROOT",
            {key("A", {key("B", {}, {val("", 1, utf16le_sz("t"))})}),
             key("C", {}, {val("v", 1, utf16le_sz("t"))})},
            {val("r", 1, utf16le_sz("t"))}));
  EXPECT_EQ(run("t", "u", opts("d"), "A"), "Done: 1 values, 1 replacements");
  EXPECT_THAT(report_.lines, ElementsAre("\\A\\B : (Default) [dane]"));
  EXPECT_EQ(report_.keys, 2u);
  EXPECT_EQ(run("t", "u", opts("d")), "Done: 2 values, 2 replacements");
  EXPECT_THAT(report_.lines, ElementsAre("\\ : r [dane]", "\\C : v [dane]"));
}

TEST_F(Replace, FailuresStopTheRunAndTheSnapshotUndoesThem) {
  KeySpec chain = key("d");
  for (int i = 0; i < 257; ++i) chain = key("d", {chain});
  build(key("ROOT", {key("top", {chain},
                         {val("v", 1, utf16le_sz("t")),
                          val("h", 1, utf16le_sz(std::string(40, 't') + "x"))})}));
  // 256 levels below the start key are fine, 257 are not.
  EXPECT_EQ(run("t", "u", opts("dp"), "top\\d\\d"), "Preview: 0 values, 0 replacements");
  EXPECT_EQ(report_.keys, 257u);

  TolPageJournal journal;
  journal.begin(*hive_);
  const Bytes before = image_of(*hive_);
  EXPECT_EQ(run("t", "u", opts("d"), "top"), "Maximum hive depth exceeded");
  EXPECT_FALSE(ok_);
  EXPECT_EQ(values("top")[0].data, utf16le_sz("u"));  // changed before the failure
  journal.rollback(*hive_);
  EXPECT_EQ(image_of(*hive_), before);

  EXPECT_NE(run("t", "\\g<", opts("dr"), "top").find("\\g<"), std::string::npos);
  EXPECT_FALSE(ok_);
  EXPECT_NE(run("(", "x", opts("dr")).find("missing terminating )"), std::string::npos);
  EXPECT_FALSE(ok_);
  // Catastrophic backtracking ends in the library's error, not a hang.
  const std::string hostile = run("(t+)+$", "x", opts("dr"), "top");
  EXPECT_FALSE(ok_);
  EXPECT_NE(hostile.find("limit"), std::string::npos) << hostile;
  EXPECT_EQ(run("", "x", opts("d")), "Empty pattern or invalid key");

  GError* error = nullptr;
  TolReplaceReport report;
  EXPECT_FALSE(tol_replace_tree(*hive_, TOL_NO_CELL, "t", "", opts("d"), report, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, G_FILE_ERROR_INVAL);
  EXPECT_STREQ(error->message, "Empty pattern or invalid key");
  g_clear_error(&error);
}

// Plain ASCII finds pass over keys whose values cannot hold a match; these
// values must still be found and counted as before.
TEST_F(Replace, KeysPassedOverStillCountAndNothingMatchingIsMissed) {
  build(key("ROOT",
            {key("Skip", {}, {val("a", 1, utf16le_sz("nothing here")), val("b", 4, le32(7))}),
             key("K", {},
                 {val("kelvin", 1, utf16le_sz("\xE2\x84\xAA" "ey")),
                  val("M\xC3\xBCll", 1, utf16le_sz("x"), NameForm::Latin1),
                  val("multi", 7, multi_sz({"ab", "cd"})),
                  val("broken", 1, {0x00, 0xD8, 0, 0})})}));
  EXPECT_EQ(run("KEY", "k", opts("dp")), "Preview: 1 values, 1 replacements");
  EXPECT_EQ(report_.values_examined, 6u);
  EXPECT_EQ(report_.keys, 3u);
  EXPECT_EQ(run("m", "N", opts("np")), "Preview: 2 values, 2 replacements");
  EXPECT_EQ(run("b\nc", "-", opts("dp")), "Preview: 1 values, 1 replacements");
  EXPECT_EQ(run("?", "!", opts("dp")), "Preview: 1 values, 1 replacements");
  EXPECT_EQ(run("zzz", "y", opts("ndp")), "Preview: 0 values, 0 replacements");
  EXPECT_EQ(report_.values_examined, 6u);
}

}  // namespace
}  // namespace tol::test
