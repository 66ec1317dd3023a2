#include "remover/remover.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "expected_text.h"
#include "fake_platform.h"

namespace kerv {
namespace {

using Strings = std::vector<std::string>;

const char* const Usage = kerv::testing::UsageText;

int RunWith(TKerv& Kerv, std::vector<const char*> Args) {
  Args.insert(Args.begin(), "kerv32");
  return Kerv.Run(static_cast<int>(Args.size()), Args.data());
}

TEST(Run, NoArgumentsShowsUsageOnly) {
  TFakePlatform Os;
  TKerv Kerv(Os);
  EXPECT_EQ(-1, RunWith(Kerv, {}));
  EXPECT_EQ(Usage, Os.Err);
  EXPECT_EQ("", Os.Out);
  EXPECT_EQ(0, Os.HandlerInstalls);
}

// Asking for help, or giving only options, must never sweep the current
// directory: the usage text, once, and nothing else.
TEST(Run, OnlyOptionsShowUsageOnceAndSweepNothing) {
  for (std::vector<const char*> Args : {std::vector<const char*>{"-?"}, {"-R", "-S"}, {"-?", "/?", "-R"}}) {
    TFakePlatform Os;
    Os.AddFile("a.tmp");
    TKerv Kerv(Os);
    EXPECT_EQ(-1, RunWith(Kerv, Args));
    EXPECT_EQ(Args.size() == 3 ? std::string(Usage) + Usage : std::string(Usage), Os.Err);
    EXPECT_EQ("", Os.Out);
    EXPECT_TRUE(Os.Removed.empty());
    EXPECT_EQ(Os.HandlerInstalls, Os.HandlerRestores);
  }
}

// The option letters under both platforms' rules: the options each command
// line sets on POSIX, and on Windows.
TEST(Run, OptionLetters) {
  struct TOptions { bool Recurse, Simulate, Ask; };
  struct Row { std::vector<const char*> Args; TOptions Posix, Windows; };
  const TOptions None{false, false, false}, Simulate{false, true, false};
  const Row Rows[] = {
      {{"-s", "x"}, Simulate, Simulate},
      {{"-S", "x"}, Simulate, Simulate},
      {{"-Sxyz", "x"}, Simulate, Simulate},   // only the second character counts
      {{"/s", "x"}, Simulate, Simulate},      // the DOS habit
      {{"/R", "/q", "x"}, {true, false, true}, {true, false, true}},
      {{"-Z", "-", "x"}, None, None},         // unknown or missing letters: ignored
      {{"-r", "-q", "-s", "x"}, {true, true, true}, {true, true, true}},
      {{"x", "-R"}, None, None},              // after the base spec, a spec
      // A path on POSIX; on Windows '/' starts an option too.
      {{"/sx", "x"}, None, Simulate},
      {{"/tmp/", "-R"}, None, {true, false, false}},  // on Windows "/t" is an option too
  };
  for (const auto& [Name, Rules] : {std::pair{"POSIX", &PosixRules}, {"Windows", &WindowsRules}}) {
    for (const Row& R : Rows) {
      SCOPED_TRACE(std::string(Name) + " " + ::testing::PrintToString(R.Args));
      const TOptions& Expected = Rules == &PosixRules ? R.Posix : R.Windows;
      TFakePlatform Os;
      TKerv Kerv(Os, *Rules);
      RunWith(Kerv, R.Args);
      EXPECT_EQ(Expected.Recurse, Kerv.Recurse);
      EXPECT_EQ(Expected.Simulate, Kerv.Simulate);
      EXPECT_EQ(Expected.Ask, Kerv.Ask);
    }
  }
}

TEST(Run, BaseSpecGivesDirectoryAndOneIncludeSpec) {
  // Upper-case specs read the same where the platform upper-cases the base.
  const std::string Up = AsBase("T/sub/..") + NativeRules().Separator;
  struct Row { const char* Base; Strings Include; std::string Line; };
  const Row Rows[] = {
      {"T/*.TMP", {"*.TMP"}, "File T/a.tmp deleted!\n"},
      {"T/", {}, "File T/a.tmp deleted!\nFile T/b.txt deleted!\n"},  // no name: every file
      {"T/A", {"A"}, ""},                                             // files named 'a' without extension
      // A directory ending in ".." gets its separator.
      {"T/sub/..", {}, "File " + Up + "a.tmp deleted!\nFile " + Up + "b.txt deleted!\n"},
      {"*.TXT", {"*.TXT"}, "File top.txt deleted!\n"},                // the current directory
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Base);
    TFakePlatform Os;
    Os.AddFile("T/a.tmp");
    Os.AddFile("T/b.txt");
    Os.AddDir("T/sub");
    Os.AddFile("top.txt");
    TKerv Kerv(Os);
    EXPECT_EQ(0, RunWith(Kerv, {"-S", R.Base}));
    EXPECT_EQ(R.Include, Kerv.Include.Texts());
    EXPECT_EQ(R.Line + "\nAction complete!\n\nTotal deleted : ", Os.Out.substr(0, Os.Out.find(" : ") + 3));
  }
}

TEST(Run, LaterSpecsJoinIncludeAndOptionsAfterTheBaseAreSpecs) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp");
  Os.AddFile("T/b.bak");
  Os.AddFile("T/-R");
  Os.AddFile("T/sub/c.tmp");
  TKerv Kerv(Os);
  EXPECT_EQ(0, RunWith(Kerv, {"T/*.TMP", "*.BAK", "-R"}));
  EXPECT_EQ((Strings{"*.TMP", "-R", "*.BAK"}), Kerv.Include.Texts());
  EXPECT_EQ((Strings{"T/a.tmp", "T/b.bak", "T/-R"}), Os.Removed);
  EXPECT_TRUE(Os.Exists("T/sub/c.tmp"));
}

TEST(Run, HelpThenSweep) {
  TFakePlatform Os;
  Os.AddFile("a.tmp", 3);
  TKerv Kerv(Os);
  EXPECT_EQ(0, RunWith(Kerv, {"-?", "*.TMP"}));
  EXPECT_EQ(Usage, Os.Err);
  EXPECT_EQ((Strings{"a.tmp"}), Os.Removed);
}

TEST(Run, Summary) {
  struct Row { int Files; std::uint64_t SizeEach; bool Fail; const char* Text; };
  const Row Rows[] = {
      {0, 0, false, "\nAction complete!\n\nTotal deleted :      0 files        0 bytes\n"},
      {4, 160, false, "\nAction complete!\n\nTotal deleted :      4 files      640 bytes\n"},
      // Past 2 GiB the byte count neither wraps nor is cut.
      {2, 3000000000u, false, "\nAction complete!\n\nTotal deleted :      2 files 6000000000 bytes\n"},
      {1, 1, true, "\nAction incomplete!\n\nTotal deleted :      1 files        1 bytes\n"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Text);
    TFakePlatform Os;
    Os.AddDir("T");
    for (int I = 0; I < R.Files; ++I) Os.AddFile("T/f" + std::to_string(I), R.SizeEach);
    if (R.Fail) Os.AddFile("T/z").ReadOnly = true;
    TKerv Kerv(Os);
    EXPECT_EQ(R.Fail ? 1 : 0, RunWith(Kerv, {"T/"}));
    std::string Lines;
    for (int I = 0; I < R.Files; ++I) Lines += "File T/f" + std::to_string(I) + " deleted!\n";
    EXPECT_EQ(Lines + R.Text, Os.Out);
    EXPECT_EQ(1, Os.HandlerRestores);
  }
}

TEST(Run, WideCountsPushTheLineRight) {
  TFakePlatform Os;
  TKerv Kerv(Os);
  Kerv.DeletedFiles = 1234567;
  Kerv.DeletedBytes = 123456789;
  Os.AddDir("T");
  RunWith(Kerv, {"T/"});
  EXPECT_EQ("\nAction complete!\n\nTotal deleted : 1234567 files 123456789 bytes\n", Os.Out);
}

TEST(Run, FailedSummaryIsReportedOnce) {
  TFakePlatform Os;
  Os.AddFile("T/a");
  Os.FailWritesFrom(0, TFsError::Other, 32);
  TKerv Kerv(Os);
  EXPECT_EQ(1, RunWith(Kerv, {"-S", "T/"}));
  EXPECT_EQ("File T/a deleted!\nI/O Error number:32\n", Os.Err);
}

}  // namespace
}  // namespace kerv

namespace kerv {
namespace {

// The command language: each command line, the lists it builds (newest
// first) and the files it deletes from a fixture that tells them apart. The
// current directory is /work; T is another directory.
TEST(Run, OperatorsPrefixesAndListFiles) {
  const std::string Cwd = NativeRules().UpperCaseBaseSpec ? "C:\\work" : "/work";
  struct Row {
    std::vector<const char*> Args;
    Strings Include, Exclude, Removed;
    bool Recurse = false;
  };
  const Row Rows[] = {
      {{"T/*.*", "!", "*.DOC", "*.TXT"}, {"*.*"}, {"*.TXT", "*.DOC"}, {"T/x.tmp"}},
      // A bare operator given first makes the current directory the base.
      {{"!", "*.DOC"}, {}, {"*.DOC"}, {"/work/-R", "/work/@", "/work/a.tmp", "/work/b.bak", "/work/keep.txt"}},
      {{"&", "*.TMP", "*.BAK"}, {"*.BAK", "*.TMP"}, {}, {"/work/a.tmp", "/work/b.bak"}},
      // The base spec's own include spec enters last, so it stands first.
      {{"*.TMP", "&", "*.BAK", "!", "A*.*", "&", "*.OLD"}, {"*.TMP", "*.OLD", "*.BAK"}, {"A*.*"}, {"b.bak"}},
      {{"*.*", "!", "@keep.lst"}, {"*.*"}, {"c.doc", "keep.txt"}, {"-R", "@", "a.tmp", "b.bak"}},
      // A prefixed spec loses its operator and never switches lists.
      {{"&*.TMP"}, {"*.TMP"}, {}, {"a.tmp"}},
      {{"*.TMP", "!*.BAK"}, {"*.TMP", "*.BAK"}, {}, {"a.tmp", "b.bak"}},
      {{"!-R"}, {"-R"}, {}, {"-R"}},   // never an option
      {{"T/*.TMP", "!", "&*.doc"}, {"*.TMP"}, {"*.doc"}, {"T/x.tmp"}},
      {{"*.TMP", "@"}, {"*.TMP", "@"}, {}, {"@", "a.tmp"}},  // '@' alone is a spec
      // Options end with the base spec, a list file or a bare operator.
      {{"@keep.lst", "-R"}, {"-R", "c.doc", "keep.txt"}, {}, {"-R", "c.doc", "keep.txt"}},
      {{"!", "-R"}, {}, {"-R"}, {"/work/@", "/work/a.tmp", "/work/b.bak", "/work/c.doc", "/work/keep.txt"}},
      {{"-R", "&", "*.tmp"}, {"*.tmp"}, {}, {"/work/a.tmp", "/work/sub/y.tmp"}, true},
      // Include specs that were to come from lists that name nothing
      // select nothing, wherever the list stands.
      {{"@empty.lst"}, {}, {}, {}},
      {{"@empty.lst", "!", "*.tmp"}, {}, {"*.tmp"}, {}},
      {{"&", "@empty.lst"}, {}, {}, {}},
      {{"T/", "@empty.lst"}, {}, {}, {}},
      {{"!", "*.tmp", "&", "@empty.lst"}, {}, {"*.tmp"}, {}},
      {{"T/", "@empty.lst", "@keep.lst"}, {"c.doc", "keep.txt"}, {}, {}},
      {{"@names.lst", "!", "a*.*"}, {"*.bak", "a.tmp"}, {"a*.*"}, {"b.bak"}},
      // The words of a list file are plain specs, never options or lists.
      {{"T/*.X", "@tricky.lst"}, {"*.X", "@keep.lst", "!y.doc", "-R"}, {}, {}},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(::testing::PrintToString(R.Args));
    TFakePlatform Os;
    for (const char* File : {"a.tmp", "b.bak", "c.doc", "keep.txt", "-R", "@", "sub/y.tmp"}) Os.AddFile(std::string("work/") + File);
    for (const char* File : {"T/x.tmp", "T/y.doc", "T/z.txt"}) Os.AddFile(File);
    Os.Cwd = Cwd;
    Os.Inputs["keep.lst"] = {"keep.txt\r\nc.doc\r\n"};
    Os.Inputs["empty.lst"] = {"\n"};
    Os.Inputs["names.lst"] = {"a.tmp *.bak"};
    Os.Inputs["tricky.lst"] = {"-R !y.doc @keep.lst"};
    TKerv Kerv(Os);
    EXPECT_EQ(0, RunWith(Kerv, R.Args));
    EXPECT_EQ(R.Include, Kerv.Include.Texts());
    EXPECT_EQ(R.Exclude, Kerv.Exclude.Texts());
    // Paths below the current directory start as the platform prints it.
    Strings Expected;
    for (const std::string& Path : R.Removed)
      Expected.push_back(Path.rfind("/work/", 0) == 0 ? AsBase(Cwd) + NativeRules().Separator + Native(Path.substr(6)) : Path);
    std::sort(Expected.begin(), Expected.end());
    Strings Removed = Os.Removed;
    std::sort(Removed.begin(), Removed.end());
    EXPECT_EQ(Expected, Removed);
    EXPECT_EQ(R.Recurse, Kerv.Recurse);
    EXPECT_EQ("", Os.Err);
  }
}

TEST(Run, BareOperatorAtTheRootGivesTwoSeparators) {
  TFakePlatform Os;
  Os.Cwd = NativeRules().UpperCaseBaseSpec ? "C:\\" : "/";
  Os.AddFile("a.tmp");
  TKerv Kerv(Os);
  EXPECT_EQ(0, RunWith(Kerv, {"&", "*.tmp"}));
  EXPECT_EQ("File " + Os.Cwd + NativeRules().Separator + "a.tmp deleted!\n", Os.Out.substr(0, Os.Out.find('\n') + 1));
}

// A list file that cannot be read whole stops the run before anything is
// swept: its message on standard output, status 1, no summary.
TEST(Run, UnreadableListFileStopsEverything) {
  for (const char* Name : {"missing.lst", "broken.lst"}) {
    SCOPED_TRACE(Name);
    TFakePlatform Os;
    Os.Cwd = "/work";
    Os.AddFile("work/a.tmp");
    Os.Inputs["broken.lst"] = {"a.tmp b.tmp", true};
    TKerv Kerv(Os);
    EXPECT_EQ(1, RunWith(Kerv, {"*.*", "!", std::string("@").append(Name).c_str(), "-R"}));
    EXPECT_EQ(std::string("Error opening List File ") + Name + "\n", Os.Out);
    EXPECT_EQ("", Os.Err);
    EXPECT_TRUE(Os.Removed.empty());
    EXPECT_EQ(1, Os.HandlerRestores);
  }
}

// An empty argument where the base spec is expected names nothing: an unset
// shell variable must not mean every file here.
TEST(Run, EmptyBaseSpecIsRefused) {
  for (std::vector<const char*> Args : {std::vector<const char*>{""}, {"-R", ""}, {"", "*.tmp"}}) {
    SCOPED_TRACE(::testing::PrintToString(Args));
    TFakePlatform Os;
    Os.AddFile("a.tmp");
    TKerv Kerv(Os);
    EXPECT_EQ(1, RunWith(Kerv, Args));
    EXPECT_EQ("Invalid path or filename!\n", Os.Err);
    EXPECT_EQ("\nAction incomplete!\n\nTotal deleted :      0 files        0 bytes\n", Os.Out);
    EXPECT_TRUE(Os.Removed.empty());
  }
}

}  // namespace
}  // namespace kerv
