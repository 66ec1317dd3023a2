#include "remover/remover.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace kerv {
namespace {

using Strings = std::vector<std::string>;

const char* const Usage =
    "\nKERV32 (Win32) 3.2 Jul 21 1999\n\nMulti-pattern file remover\n\n"
    "Usage: KERV [options] [d:][path]filename [&|!] [filename] [@filelist]...\n"
    "options:\n\n  -Q ask before delete file\n  -R recourse subdirectories\n  -S simulate\n\n";

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

TEST(Run, OptionLetters) {
  struct Row { std::vector<const char*> Args; bool Recurse, Simulate, Ask; };
  const Row Rows[] = {
      {{"-s", "x"}, false, true, false},
      {{"-S", "x"}, false, true, false},
      {{"-Sxyz", "x"}, false, true, false},   // only the second character counts
      {{"/s", "x"}, false, true, false},      // the DOS habit
      {{"/R", "/q", "x"}, true, false, true},
      {{"-Z", "-", "x"}, false, false, false},  // unknown or missing letters: ignored
      {{"-r", "-q", "-s", "x"}, true, true, true},
      {{"x", "-R"}, false, false, false},     // after the base spec, a spec
      {{"/sx", "x"}, false, false, false},    // a path, not an option
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(::testing::PrintToString(R.Args));
    TFakePlatform Os;
    TKerv Kerv(Os);
    RunWith(Kerv, R.Args);
    EXPECT_EQ(R.Recurse, Kerv.Recurse);
    EXPECT_EQ(R.Simulate, Kerv.Simulate);
    EXPECT_EQ(R.Ask, Kerv.Ask);
  }
}

TEST(Run, BaseSpecGivesDirectoryAndOneIncludeSpec) {
  struct Row { const char* Base; Strings Include; const char* Line; };
  const Row Rows[] = {
      {"T/*.tmp", {"*.tmp"}, "File T/a.tmp deleted!\n"},
      {"T/", {}, "File T/a.tmp deleted!\nFile T/b.txt deleted!\n"},  // no name: every file
      {"T/a", {"a"}, ""},                                             // files named 'a' without extension
      {"T/sub/..", {}, "File T/sub/../a.tmp deleted!\nFile T/sub/../b.txt deleted!\n"},
      {"*.txt", {"*.txt"}, "File top.txt deleted!\n"},                // the current directory
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
    EXPECT_EQ(std::string(R.Line) + "\nAction complete!\n\nTotal deleted : ", Os.Out.substr(0, Os.Out.find(":") + 2));
  }
}

TEST(Run, LaterSpecsJoinIncludeAndOptionsAfterTheBaseAreSpecs) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp");
  Os.AddFile("T/b.bak");
  Os.AddFile("T/-R");
  Os.AddFile("T/sub/c.tmp");
  TKerv Kerv(Os);
  EXPECT_EQ(0, RunWith(Kerv, {"T/*.tmp", "*.BAK", "-R"}));
  EXPECT_EQ((Strings{"*.tmp", "-R", "*.BAK"}), Kerv.Include.Texts());
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
  EXPECT_EQ("I/O Error number:32\n", Os.Err);
}

}  // namespace
}  // namespace kerv
