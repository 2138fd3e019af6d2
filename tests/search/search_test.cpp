// Searching a hive: what matches under each option, the order and limit of
// the hits, the texts of the result list, and walks over deep or damaged trees.
#include "search/search.h"

#include "../hive/hive_fixture.h"
#include "hive/format.h"

namespace tol::test {
namespace {

using ::testing::ElementsAre;

// Options from letters: k(eys) v(alues) d(ata) w(hole text) r(egex).
TolSearchOptions opts(std::string_view flags) {
  auto has = [&](char c) { return flags.find(c) != std::string_view::npos; };
  TolSearchOptions o;
  o.keys = has('k');
  o.values = has('v');
  o.data = has('d');
  o.whole_text = has('w');
  o.regex = has('r');
  return o;
}

class Search : public HiveTest {
 protected:
  // "label|detail" per hit, the way the result list shows them.
  std::vector<std::string> find(std::string_view text, TolSearchOptions options = opts("kvd")) {
    GError* error = nullptr;
    const auto results = tol_search_hive(*hive_, text, options, &error);
    EXPECT_TRUE(results) << (error ? error->message : "");
    g_clear_error(&error);
    std::vector<std::string> rows;
    for (const auto& r : results.value_or(std::vector<TolSearchResult>{}))
      rows.push_back(tol_search_result_label(r) + "|" + tol_search_result_detail(r));
    return rows;
  }
  void build(const KeySpec& root) {
    HiveBuilder b;
    b.tree(root);
    hive_ = open(b);
    ASSERT_NE(hive_, nullptr);
  }
  void sample() {
    build(key("ROOT",
              {key("Software",
                   {key("Run", {},
                        {val("RunOnce", 1, utf16le_sz("x")), val("", 1, utf16le_sz("say RUN")),
                         val("Runs", 1, utf16le_sz("run too")), val("Counter", 4, bytes_of("run!")),
                         val("Lines", 7, multi_sz({"x", "y"}))})})}));
  }

  TolHivePtr hive_;
};

TEST_F(Search, FindsKeysNamesAndStringDataOncePerValueInPreOrder) {
  sample();
  // "Runs" matches by name and by data but is listed once; the REG_DWORD whose
  // bytes spell "run!" is never searched by its data.
  EXPECT_THAT(find("run"),
              ElementsAre("\\Software\\Run|key", "RunOnce = \\Software\\Run|REG_SZ",
                          "(Default) = \\Software\\Run|REG_SZ", "Runs = \\Software\\Run|REG_SZ"));
  EXPECT_THAT(find("run", opts("d")),
              ElementsAre("(Default) = \\Software\\Run|REG_SZ", "Runs = \\Software\\Run|REG_SZ"));
  EXPECT_THAT(find("run", opts("v")),
              ElementsAre("RunOnce = \\Software\\Run|REG_SZ", "Runs = \\Software\\Run|REG_SZ"));
  EXPECT_THAT(find("run", opts("")), ElementsAre());
  EXPECT_THAT(find("RUN", opts("kvdw")), ElementsAre("\\Software\\Run|key"));
  EXPECT_THAT(find(""), ElementsAre());
}

TEST_F(Search, MultiSzTextEndsInASpace) {
  EXPECT_EQ(tol_search_value_text(7, multi_sz({"x", "y"})), "x y ");
  Bytes unterminated = utf16le_sz("a");
  const Bytes tail = utf16le("bc");
  unterminated.insert(unterminated.end(), tail.begin(), tail.end());
  EXPECT_EQ(tol_search_value_text(7, unterminated), "a bc");

  sample();
  EXPECT_THAT(find("X Y ", opts("kvdw")), ElementsAre("Lines = \\Software\\Run|REG_MULTI_SZ"));
  EXPECT_THAT(find("x y", opts("kvdw")), ElementsAre());
}

TEST_F(Search, RegexIsCaselessAndWholeTextWrapsAlternatives) {
  build(key("ROOT", {key("A"), key("ab"), key("B")}));
  const TolSearchOptions whole_regex = opts("kvdwr");
  EXPECT_THAT(find("a|b", whole_regex), ElementsAre("\\A|key", "\\B|key"));
  // Without the wrap the alternative finds parts of names.
  EXPECT_THAT(find("a|b", opts("kvdr")), ElementsAre("\\A|key", "\\ab|key", "\\B|key"));
  // The root is tested with the empty name.
  EXPECT_THAT(find("x*", whole_regex), ElementsAre("\\|key"));
  // A plain text is never taken as an expression.
  EXPECT_THAT(find("a|b"), ElementsAre());
}

TEST_F(Search, BadAndHostileExpressions) {
  build(key("ROOT", {key(std::string(40, 'a') + "b")}));
  GError* error = nullptr;
  EXPECT_FALSE(tol_search_hive(*hive_, "(", opts("kvdr"), &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain, G_FILE_ERROR);
  EXPECT_EQ(error->code, G_FILE_ERROR_INVAL);
  EXPECT_NE(std::string(error->message).find("("), std::string::npos) << error->message;
  g_clear_error(&error);
  // Catastrophic backtracking ends at the library's limit: not a hit.
  EXPECT_THAT(find("(a+)+$", opts("kr")), ElementsAre());
}

TEST_F(Search, StopsAtTheLimit) {
  std::vector<ValueSpec> values;
  for (int i = 0; i < 600; ++i) values.push_back(val("v" + std::to_string(i), 4, le32(0)));
  build(key("ROOT", {key("Many", {}, values), key("vLater")}));
  const auto all = find("v");
  ASSERT_EQ(all.size(), TOL_SEARCH_MAX_RESULTS);
  EXPECT_EQ(all.back(), "v499 = \\Many|REG_DWORD");
  EXPECT_EQ(tol_search_status(hive_.get(), "v", all.size()),
            "Found 500 or more (narrow the query)");
  EXPECT_EQ(tol_search_status(hive_.get(), "v", 499), "Found: 499");
  EXPECT_EQ(tol_search_status(hive_.get(), "v", 0), "Found: 0");
  EXPECT_EQ(tol_search_status(hive_.get(), "", 0), "");
  EXPECT_EQ(tol_search_status(nullptr, "v", 0), "No hive loaded");
}

TEST_F(Search, WalksDepthsUpTo256) {
  KeySpec chain = key("d");
  for (int i = 0; i < 257; ++i) chain = key("d", {chain});  // 258 keys below the root
  build(key("ROOT", {chain}));
  const auto hits = find("d", opts("kvdw"));
  ASSERT_EQ(hits.size(), 256u);
  EXPECT_EQ(std::count(hits.back().begin(), hits.back().end(), '\\'), 256);
}

TEST_F(Search, DamagedListsNamingKeysAgainAreWalkedOnce) {
  HiveBuilder b;
  KeySpec root = key("ROOT", {key("A"), key("B")});
  root.list = ListKind::li;
  root.keep_order = true;
  const BuiltTree t = b.tree(root);
  // B's entry now names the root itself: a cycle.
  b.patch_u32(t.lists.at(""), 8, t.root);
  hive_ = open(b);
  ASSERT_NE(hive_, nullptr);
  EXPECT_THAT(find("a"), ElementsAre("\\A|key"));
}

// Plain searches fold ASCII texts eight bytes at a time and skip the full
// Unicode folding; these cases must come out as full folding has them.
TEST_F(Search, PlainTextMatchesAsFullCaseFoldingDoes) {
  build(key("ROOT",
            {key("K", {},
                 {val("kelvin", 1, utf16le_sz("\xE2\x84\xAA" "ey")),     // KELVIN SIGN, folds to k
                  val("Stra\xC3\x9F" "e", 4, le32(1), NameForm::Latin1),  // a one-byte name
                  val("multi", 7, multi_sz({"ab", "cd"})),
                  val("edges", 1, utf16le_sz("@[`{AZaz0123456789ABCDEFGHIJ")),
                  val("long", 1, utf16le_sz("xxxxxxxxxxxxxxZZZxxxxxxxxxxxxxxxx")),
                  val("caf\xC3\xA9", 1, utf16le_sz("plain"))})}));
  const TolSearchOptions data = opts("d");
  const TolSearchOptions names = opts("v");
  auto hits = [&](std::string_view text, const TolSearchOptions& o) {
    std::string joined;
    for (const std::string& row : find(text, o)) joined += row.substr(0, row.find(' ')) + ",";
    return joined;
  };
  EXPECT_EQ(hits("KEY", data), "kelvin,");
  EXPECT_EQ(hits("STRASSE", names), "Stra\xC3\x9F" "e,");
  EXPECT_EQ(hits("\xC5\xBF", names), "Stra\xC3\x9F" "e,edges,");  // LONG S folds to s
  EXPECT_EQ(hits("b c", data), "multi,");
  EXPECT_EQ(hits("ab cd ", opts("dw")), "multi,");
  EXPECT_EQ(hits("@[`{azaz0123456789abcdefghij", opts("dw")), "edges,");
  EXPECT_EQ(hits("`", data), "edges,");
  EXPECT_EQ(hits("@", data), "edges,");
  EXPECT_EQ(hits("\x7B", data), "edges,");
  EXPECT_EQ(hits("zzz", data), "long,");
  EXPECT_EQ(hits("CAF\xC3\x89", names), "caf\xC3\xA9,");
  EXPECT_EQ(hits("\xC3\xA9", data), "");  // no data holds it, and ASCII data cannot
  EXPECT_EQ(hits("^", data), "");
}

}  // namespace
}  // namespace tol::test
