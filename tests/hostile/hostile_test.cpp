// Every hostile hive of the corpus is opened, read through every read
// operation, checked, exported, searched and edited in a child process under
// a watchdog and a memory limit; what the editing sessions saved is then read
// by the peer tools. A saved hive must be sound where the original was, and
// never worse than the original where it was not.
#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "corpus.h"
#include "isolate.h"
#include "peer_tools.h"
#include "probe.h"
#include "temp_dir.h"

namespace tol::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr unsigned kWatchdogSeconds = 40;
#else
constexpr unsigned kWatchdogSeconds = 10;
#endif
constexpr std::uint64_t kMemoryLimit = std::uint64_t{1} << 30;

// What a peer tool says about a file.
enum class Say { accepts, rejects, hangs };

struct Verdict {
  Say say = Say::accepts;
  std::string why;
};

// The peers and how each is asked to read a whole hive ($1 the hive, $2 a
// script listing the root for hivexsh, both quoted when put in); their output can be huge and is
// thrown away: only the status and stderr tell whether they read the file
// without complaint. hivexml walks the hive with the same library as the
// Perl hivexregedit at a fraction of its start-up cost, which only the long
// run pays.
struct Peer {
  const char* name;
  const char* command;
  std::vector<const char*> complaints;  // empty: any line on stderr is one
};

const std::vector<Peer>& peers() {
  static const std::vector<Peer> all = [] {
    std::vector<Peer> list = {
        {"hivexsh", "hivexsh -f $2 $1", {}},
        {"hivexml", "hivexml $1", {}},
        {"regfexport", "regfexport $1", {"Unable", "rror"}},
        {"reglookup", "reglookup $1", {"ERROR"}},
    };
    if (g_getenv("TOL_HOSTILE_LONG") != nullptr)
      list.push_back({"hivexregedit", "hivexregedit --export $1 '\\'", {}});
    std::erase_if(list, [](const Peer& p) {
      return !installed(std::string(p.command).substr(0, std::string(p.command).find(' ')).c_str());
    });
    return list;
  }();
  return all;
}

// Warnings of Perl about its own output and recursion, not about the hive.
bool benign(const std::string& line) {
  return line.find("Wide character in print") != std::string::npos ||
         line.find("Deep recursion on") != std::string::npos;
}

std::string read_text(const std::string& path) {
  gchar* contents = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return {};
  std::string text(contents, length);
  g_free(contents);
  return text;
}

std::string quoted(const std::string& text) {
  gchar* q = g_shell_quote(text.c_str());
  std::string out = q;
  g_free(q);
  return out;
}

// One file and the peers to ask about it.
struct Question {
  std::string file;
  std::set<std::string> peers;
};

// Asks every peer of every question at once; a peer still reading after
// `seconds` hangs. The answers come in the order of the questions.
std::vector<std::map<std::string, Verdict>> ask_peers(const std::vector<Question>& questions,
                                                      const std::string& script, unsigned seconds,
                                                      const std::string& scratch) {
  auto out = [&](std::size_t i, const Peer& peer) {
    return scratch + "/" + std::to_string(i) + "." + peer.name;
  };
  std::string shell = "export LANG=C.UTF-8; ";
  for (std::size_t i = 0; i < questions.size(); ++i) {
    for (const Peer& peer : peers()) {
      if (!questions[i].peers.contains(peer.name)) continue;
      std::string command = peer.command;
      command.replace(command.find("$1"), 2, quoted(questions[i].file));
      if (const auto at = command.find("$2"); at != std::string::npos)
        command.replace(at, 2, quoted(script));
      shell += "(timeout " + std::to_string(seconds) + " " + command + " >/dev/null 2>" +
               quoted(out(i, peer) + ".err") + "; echo $? >" + quoted(out(i, peer) + ".rc") +
               ") & ";
    }
  }
  shell += "wait";
  run({"sh", "-c", shell});

  std::vector<std::map<std::string, Verdict>> answers(questions.size());
  for (std::size_t i = 0; i < questions.size(); ++i) {
    for (const Peer& peer : peers()) {
      if (!questions[i].peers.contains(peer.name)) continue;
      const int status = std::atoi(read_text(out(i, peer) + ".rc").c_str());
      std::string complaint;
      for (const auto& line : lines(read_text(out(i, peer) + ".err"))) {
        if (benign(line)) continue;
        const bool named =
            std::any_of(peer.complaints.begin(), peer.complaints.end(),
                        [&](const char* word) { return line.find(word) != std::string::npos; });
        if (peer.complaints.empty() || named) complaint += line + "\n";
      }
      Verdict& v = answers[i][peer.name];
      if (status == 124) {
        v.say = Say::hangs;
        v.why = "still reading after " + std::to_string(seconds) + " s";
      } else if (status != 0 || !complaint.empty()) {
        v.say = Say::rejects;
        v.why = "status " + std::to_string(status) + ": " + complaint.substr(0, 400);
      }
    }
  }
  return answers;
}

char mark(Say say) { return say == Say::accepts ? '+' : say == Say::rejects ? '-' : '?'; }

std::string test_name(const ::testing::TestParamInfo<std::size_t>& info) {
  std::string name = hostile_corpus()[info.param].name;
  for (char& c : name)
    if (!g_ascii_isalnum(c)) c = '_';
  return name;
}

class HostileHives : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }

  // What the peers say about the files the engine saved: each peer that read
  // the original without complaint must read a saved file so too, and the
  // destination of a copy, which started out sound, must satisfy them all.
  // `lenient` files are only reported on.
  struct Saved {
    std::string file;
    std::string label;
    bool from_sound = false;
    bool lenient = false;
    bool clean = false;  // the check passed it: every peer is asked
  };
  void judge_by_peers(const std::vector<Saved>& saved, std::string& summary) {
    std::vector<Question> questions;
    for (const Saved& s : saved) {
      Question q{s.file, {}};
      for (const Peer& peer : peers())
        if (s.from_sound || s.clean || original_.at(peer.name).say == Say::accepts)
          q.peers.insert(peer.name);
      questions.push_back(q);
    }
    const auto answers = ask_peers(questions, script_, 60, dir_.path());
    for (std::size_t i = 0; i < saved.size(); ++i) {
      summary += " " + saved[i].label + ":";
      for (const Peer& peer : peers()) {
        const auto it = answers[i].find(peer.name);
        if (it == answers[i].end()) {
          summary += '.';
          continue;
        }
        const Verdict& v = it->second;
        summary += mark(v.say);
        if (v.say == Say::accepts || saved[i].lenient ||
            (!saved[i].from_sound && original_.at(peer.name).say != Say::accepts))
          continue;
        if (saved[i].from_sound)
          ADD_FAILURE() << peer.name << " does not accept " << saved[i].file
                        << ", which was sound: " << v.why;
        else
          ADD_FAILURE() << peer.name << " read the original but not " << saved[i].file << ": "
                        << v.why;
      }
    }
  }

  TempDir dir_{"tolvane-hostile"};
  std::string file_;
  std::string script_;
  std::map<std::string, Verdict> original_;  // the peers on the original
};

TEST_P(HostileHives, SurviveReadingAndEditing) {
  const HostileHive& hive = hostile_corpus()[GetParam()];
  file_ = dir_.path() + "/" + hive.name + ".hiv";
  HiveBuilder::write_bytes(file_, hive.image);
  script_ = dir_.path() + "/script";
  ASSERT_TRUE(g_file_set_contents(script_.c_str(), "ls\n", -1, nullptr));

  const gint64 start = g_get_monotonic_time();
  const Isolated child = run_isolated([&] { return probe_hive(hive, file_, dir_.path()).text(); },
                                      kWatchdogSeconds, kMemoryLimit, dir_.path() + "/stderr");
  const double seconds = static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
  ASSERT_EQ(child.problem, "") << hive.name << " (" << hive.kind << "), last steps:\n"
                               << child.errors.substr(
                                      child.errors.size() > 1500 ? child.errors.size() - 1500 : 0);
  ASSERT_EQ(sanitizer_report(child.errors), "") << hive.name;
  EXPECT_LT(child.peak_kib, static_cast<long>(kMemoryLimit / 1024))
      << hive.name << " used too much memory";

  const ProbeReport report = ProbeReport::parse(child.output);
  ASSERT_EQ(report.get("open"), "ok") << hive.name;
  for (const auto& failure : report.failures) ADD_FAILURE() << hive.name << ": " << failure;
  EXPECT_EQ(report.get("check") == "ok", hive.sound)
      << hive.name << ": " << report.get("check.first");

  // Peers that loop on a damaged original are not waited for long: there is
  // nothing to compare them with.
  Question everything{file_, {}};
  for (const Peer& peer : peers()) everything.peers.insert(peer.name);
  original_ = ask_peers({everything}, script_, 2, dir_.path()).front();
  std::string peers = "orig:";
  for (const Peer& peer : tol::test::peers()) peers += mark(original_.at(peer.name).say);
  std::vector<Saved> saved;
  for (const auto& [file, session] :
       {std::pair{kEditedFile, "edit"}, std::pair{kPrunedFile, "delete"}}) {
    const std::string result = report.get(std::string(session) + ".result");
    if (result == "clean" || result == "damaged")
      saved.push_back({dir_.path() + "/" + file, session, false, hive.shared_cells, result == "clean"});
  }
  if (g_file_test((dir_.path() + "/" + kCopyFile).c_str(), G_FILE_TEST_EXISTS))
    saved.push_back({dir_.path() + "/" + kCopyFile, "copy", true, false});
  if (g_file_test((dir_.path() + "/" + kRepairedFile).c_str(), G_FILE_TEST_EXISTS))
    saved.push_back({dir_.path() + "/" + kRepairedFile, "repair", true, false});
  judge_by_peers(saved, peers);

  if (HasFailure()) std::printf("%s", child.output.c_str());
  // For a closer look: the hive and what the sessions saved.
  if (const char* dump = g_getenv("TOL_HOSTILE_DUMP")) {
    g_mkdir_with_parents(dump, 0755);
    std::error_code ec;
    for (const char* file : {"", kEditedFile, kPrunedFile, kCopyFile, kRepairedFile})
      std::filesystem::copy_file(
          *file ? dir_.path() + "/" + file : file_,
          std::string(dump) + "/" + hive.name + (*file ? "." : "") + file + (*file ? "" : ".hiv"),
          std::filesystem::copy_options::overwrite_existing, ec);
  }
  std::printf(
      "[hostile] %-26s %5.2f s %6ld KiB  check %-13s edit %-9s delete %-9s copy %-4s repair %-9s "
      "peers %s  (%s)\n",
      hive.name.c_str(), seconds, child.peak_kib, report.get("check").c_str(),
      report.get("edit.result").c_str(), report.get("delete.result").c_str(),
      report.get("copy.keys").substr(0, 4).c_str(), report.get("repair").c_str(), peers.c_str(),
      report.get("edit.ops").c_str());
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileHives,
                         ::testing::Range<std::size_t>(0, hostile_corpus().size()), test_name);

TEST(HostileCorpus, HoldsFortyToEightyDistinctHives) {
  const auto& corpus = hostile_corpus();
  EXPECT_GE(corpus.size(), 40u);
  EXPECT_LE(corpus.size(), 80u);
  std::set<std::string> images;
  for (const auto& hive : corpus)
    EXPECT_TRUE(images.insert(std::string(hive.image.begin(), hive.image.end())).second)
        << hive.name;
}

}  // namespace
}  // namespace tol::test
