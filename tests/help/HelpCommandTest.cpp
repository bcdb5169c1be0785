// The help command line, its splitting, the viewer search and the detached start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "frame/HelpCommand.h"
#include "res/CommandIds.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/magnova help XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(m_path); }
  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

void WriteFile(const fs::path& path, const std::string& text, fs::perms perms) {
  std::ofstream(path) << text;
  fs::permissions(path, perms);
}

std::string ReadWhenComplete(const fs::path& path) {
  // The started program writes its record on its own schedule.
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return {};
}

constexpr fs::perms kExecutable = fs::perms::owner_all;
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::owner_write;

}  // namespace

TEST(HelpCommandLine, QuotesThePathAndTopicAsOneArgument) {
  EXPECT_EQ(help::HelpCommandLine("/opt/My Apps/help.chm", ""), "hh \"/opt/My Apps/help.chm\"");
  EXPECT_EQ(help::HelpCommandLine("/opt/My Apps/help.chm", "_GettingStarted.html"),
            "hh \"/opt/My Apps/help.chm::/_GettingStarted.html\"");
}

// The resize-parameters dialog's F1 opens the page on resizing, which the
// help sources hold.
TEST(HelpTopic, ResizeDialogContextOpensTheResizingPage) {
  EXPECT_EQ(help::TopicFor(ids::HelpResizing), "resizing.html");
  EXPECT_TRUE(fs::exists(fs::path(MAGNOVA_SOURCE_DIR) / "res/help/resizing.html"));
  EXPECT_EQ(help::TopicFor(0), "");
}

struct SplitCase {
  const char* name;
  std::string line;
  std::vector<std::string> words;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.line; }

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, FollowsTheQuotingRules) {
  EXPECT_EQ(help::SplitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    testing::Values(
        SplitCase{"QuotedPathWithBlanks", R"(hh "/a b/help.chm")", {"hh", "/a b/help.chm"}},
        SplitCase{"Unquoted", "hh  /a/b\tc", {"hh", "/a/b", "c"}},
        SplitCase{"QuotesInsideAWord", R"(a"b c"d e)", {"ab cd", "e"}},
        SplitCase{"EmptyQuotes", R"(hh "")", {"hh", ""}},
        SplitCase{"BackslashesAlone", R"(a\\b\c)", {R"(a\\b\c)"}},
        SplitCase{"EvenBackslashesBeforeQuote", R"("a\\" b)", {R"(a\)", "b"}},
        SplitCase{"OddBackslashesBeforeQuote", R"("a\"b" c)", {R"(a"b)", "c"}},
        SplitCase{"UnclosedQuote", R"(hh "a b)", {"hh", "a b"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(HelpCommandLine, SplitsBackIntoTheViewerAndExactlyThePath) {
  for (const std::string path : {"/opt/My Apps/help.chm", "/odd\"name/help.chm",
                                 R"(/back\slash\"quote/help.chm)", R"(/trailing\\)"}) {
    for (std::string_view topic : {"", "_TechSupp.html"}) {
      const std::string inner = topic.empty() ? path : path + "::/" + std::string(topic);
      EXPECT_EQ(help::SplitCommandLine(help::HelpCommandLine(path, topic)),
                (std::vector<std::string>{"hh", inner}))
          << path << " " << topic;
    }
  }
}

TEST(FindProgram, LooksInTheFirstFolderThenAlongThePath) {
  TempDir dir;
  const fs::path own = dir.path() / "own folder", first = dir.path() / "p1",
                 second = dir.path() / "p2";
  for (const fs::path& d : {own, first, second}) fs::create_directories(d);
  const std::string search = first.string() + ":" + second.string();

  EXPECT_EQ(help::FindProgram("hh", own.string(), search), "");
  WriteFile(second / "hh", "", kExecutable);
  EXPECT_EQ(help::FindProgram("hh", own.string(), search), (second / "hh").string());
  // A folder named like the program is passed over.
  fs::create_directory(first / "hh");
  EXPECT_EQ(help::FindProgram("hh", own.string(), search), (second / "hh").string());
  // The program's own folder comes first, executable or not: starting it
  // then reports why it cannot run.
  WriteFile(own / "hh", "", kReadOnly);
  EXPECT_EQ(help::FindProgram("hh", own.string() + "/", search), (own / "hh").string());
  // A name with a folder is not searched for.
  EXPECT_EQ(help::FindProgram("/x/hh", own.string(), search), "/x/hh");
}

TEST(StartDetached, RunsTheProgramWithItsArgumentsAndLeavesNoChild) {
  TempDir dir;
  const fs::path recorder = dir.path() / "rec";
  const fs::path log = dir.path() / "log";
  WriteFile(recorder,
            "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$PPID\" \"$#\" \"$1\" > \"" + log.string() + "\"\n",
            kExecutable);
  ASSERT_EQ(help::StartDetached(recorder.string(), {"hh", "/a b/help.chm::/x.html"}), 0);
  const std::string record = ReadWhenComplete(log);
  ASSERT_FALSE(record.empty());
  // The viewer's parent is not this process, and nothing is left to reap.
  EXPECT_NE(record.substr(0, record.find('|')), std::to_string(::getpid()));
  EXPECT_EQ(record.substr(record.find('|')), "|1|/a b/help.chm::/x.html\n");
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(StartDetached, ReportsWhyTheProgramCannotRun) {
  TempDir dir;
  const fs::path plain = dir.path() / "not executable";
  WriteFile(plain, "#!/bin/sh\n", kReadOnly);
  EXPECT_EQ(help::StartDetached(plain.string(), {"hh"}), EACCES);
  const fs::path garbage = dir.path() / "garbage";
  WriteFile(garbage, std::string(64, '\x7f'), kExecutable);
  EXPECT_EQ(help::StartDetached(garbage.string(), {"hh"}), ENOEXEC);
  EXPECT_EQ(help::StartDetached((dir.path() / "missing").string(), {"hh"}), ENOENT);
  EXPECT_EQ(help::ErrorText(ENOENT), std::strerror(ENOENT));
}
