// The built program over real trees: exact output, status and the files left.
// Suites whose names begin with "Shared" hold on both platforms:
// scripts/test-windows.sh runs them against kerv32.exe under Wine. The
// others show what only POSIX has (links, modes, signals, mount points).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>

#include "expected_text.h"
#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Strings = std::vector<std::string>;

const char* const Usage = UsageText;

std::string Summary(bool Complete, const std::string& Files, const std::string& Bytes) {
  return std::string("\nAction ") + (Complete ? "" : "in") + "complete!\n\nTotal deleted : " + Files +
         " files " + Bytes + " bytes\n";
}

// The lines before the summary, sorted: the listing's order is the disk's.
Strings SortedLines(const std::string& Out, std::string* Rest = nullptr) {
  Strings Lines;
  std::size_t Start = 0;
  while (Start < Out.size() && Out.compare(Start, 5, "File ") == 0) {
    const std::size_t End = Out.find('\n', Start);
    Lines.push_back(Out.substr(Start, End - Start));
    Start = End + 1;
  }
  if (Rest) *Rest = Out.substr(Start);
  std::sort(Lines.begin(), Lines.end());
  return Lines;
}

TEST(SharedProgram, NoArgumentsShowsUsage) {
  const TRunResult R = RunProgram({});
  EXPECT_EQ(Usage, R.Err);
  EXPECT_EQ("", R.Out);
  EXPECT_EQ(255, R.Status);  // -1
}

TEST(SharedProgram, HelpAloneDeletesNothing) {
  TTempTree Tree;
  Tree.File("a.tmp");
  const TRunResult R = RunProgram({"-?"}, {Tree.Root(), "", 0});
  EXPECT_EQ(Usage, R.Err);
  EXPECT_EQ("", R.Out);
  EXPECT_EQ(255, R.Status);
  EXPECT_TRUE(Tree.Exists("a.tmp"));
}

// A tree of mixed-case names, hidden entries and a read-write mix, swept by
// the rules: every *.tmp in any case, nothing else, nothing hidden.
class SharedMixedTree : public ::testing::Test {
protected:
  void SetUp() override {
    Tree.File("a.tmp", 10);
    Tree.File("B.TMP", 20);
    Tree.File("c.Tmp", 30);
    Tree.File("d.tmpx", 1);
    Tree.File("e.tmp.txt", 1);
    Tree.File("tmp", 1);
    Tree.File(".hidden.tmp", 1);
    Tree.File(".cache/x.tmp", 1);
    Tree.File("Sub/f.TMP", 40);
    Tree.File("Sub/Deeper/g.tmp", 50);
    Tree.File("Sub/keep.txt", 1);
  }
  TTempTree Tree;
  const Strings Selected = {"B.TMP", "Sub/Deeper/g.tmp", "Sub/f.TMP", "a.tmp", "c.Tmp"};
  const Strings Kept = {".cache/x.tmp", ".hidden.tmp", "Sub/keep.txt", "d.tmpx", "e.tmp.txt", "tmp"};
};

TEST_F(SharedMixedTree, RecursiveSweepDeletesExactlyTheSelection) {
  const TRunResult R = RunProgram({"-R", Tree / "*.tmp"});
  Strings Expected;
  for (const std::string& F : Selected) Expected.push_back("File " + Tree / F + " deleted!");
  std::sort(Expected.begin(), Expected.end());
  std::string Rest;
  EXPECT_EQ(Expected, SortedLines(R.Out, &Rest));
  EXPECT_EQ(Summary(true, "     5", "     150"), Rest);
  EXPECT_EQ("", R.Err);
  EXPECT_EQ(0, R.Status);
  EXPECT_EQ(Kept, Tree.Files());
}

TEST_F(SharedMixedTree, SimulateReportsTheSameAndDeletesNothing) {
  const Strings Before = Tree.Files();
  const TRunResult Real = RunProgram({"-S", "-R", Tree / "*.tmp"});
  EXPECT_EQ(Before, Tree.Files());
  std::string Rest;
  EXPECT_EQ(5u, SortedLines(Real.Out, &Rest).size());
  EXPECT_EQ(Summary(true, "     5", "     150"), Rest);
  EXPECT_EQ(0, Real.Status);
}

TEST_F(SharedMixedTree, WithoutRecurseSubdirectoriesStay) {
  const TRunResult R = RunProgram({Tree / "*.TMP"});
  EXPECT_EQ(3u, SortedLines(R.Out).size());
  EXPECT_TRUE(Tree.Exists("Sub/f.TMP"));
  EXPECT_EQ(0, R.Status);
}

TEST_F(SharedMixedTree, CurrentDirectoryGivesBareNames) {
  const TRunResult R = RunProgram({"-R", "-S", "*.tmp"}, {Tree.Root(), "", 0});
  ASSERT_EQ(0, R.Status) << R.Err;
  EXPECT_EQ((Strings{"File B.TMP deleted!", "File Sub/Deeper/g.tmp deleted!", "File Sub/f.TMP deleted!",
                     "File a.tmp deleted!", "File c.Tmp deleted!"}),
            SortedLines(R.Out));
}

TEST(Program, NeverLeavesTheTreeThroughLinks) {
  // Wine deletes a POSIX link to a file through the link, unlike Windows
  // with its own links; the seam tests show the Windows rule instead.
  if (WineProgram()) GTEST_SKIP() << "POSIX links";
  TTempTree Tree;
  Tree.File("outside/precious.tmp");
  Tree.File("outside/also.tmp");
  Tree.File("t/a.tmp");
  Tree.Link("t/dirlink", Tree / "outside");
  Tree.Link("t/filelink.tmp", Tree / "outside/also.tmp");
  Tree.Link("t/loop", Tree / "t");
  Tree.Link("t/sub/up", "..");
  const TRunResult R = RunProgram({"-R", Tree / "t/*.*"});
  EXPECT_EQ(0, R.Status) << R.Err;
  // Every link is an entry of its own: removed itself, never followed.
  EXPECT_EQ((Strings{"outside/also.tmp", "outside/precious.tmp"}), Tree.Files());
  std::string Rest;
  EXPECT_EQ(5u, SortedLines(R.Out, &Rest).size());
}

// Another file system mounted inside the tree is not entered. Needs a mount
// namespace of its own, so it runs only where the tests may make one (root).
TEST(Program, StaysOutOfOtherFileSystems) {
  TTempTree Tree;
  Tree.File("t/a.tmp");
  Tree.Dir("t/mnt");
  const pid_t Child = ::fork();
  if (Child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", (Tree / "t/mnt").c_str(), "tmpfs", 0, nullptr) != 0)
      ::_exit(77);
    ::close(::open((Tree / "t/mnt/inside.tmp").c_str(), O_WRONLY | O_CREAT, 0644));
    const TRunResult R = RunProgram({"-R", Tree / "t/*.tmp"});
    struct stat St;
    const bool Kept = ::stat((Tree / "t/mnt/inside.tmp").c_str(), &St) == 0;
    const bool Swept = ::stat((Tree / "t/a.tmp").c_str(), &St) != 0;
    ::umount((Tree / "t/mnt").c_str());
    ::_exit(R.Status == 0 && Kept && Swept ? 0 : 1);
  }
  int Status = 0;
  ::waitpid(Child, &Status, 0);
  ASSERT_TRUE(WIFEXITED(Status));
  if (WEXITSTATUS(Status) == 77) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(0, WEXITSTATUS(Status));
}

TEST(SharedProgram, OptionAfterBaseSpecIsASpec) {
  TTempTree Tree;
  Tree.File("-R");
  Tree.File("sub/x.tmp");
  Tree.File("y.tmp");
  const TRunResult R = RunProgram({Tree / "*.tmp", "-R"});
  EXPECT_EQ((Strings{"sub/x.tmp"}), Tree.Files());
  EXPECT_EQ(0, R.Status);
}

// The command language over a real tree, run from inside it.
TEST(SharedProgram, OperatorsAndListFiles) {
  struct Row { Strings Args; Strings Left; };
  const Row Rows[] = {
      {{"-S", "t/*.*", "!", "*.doc", "*.txt"}, {}},  // simulate: everything stays
      {{"t/*.*", "!", "*.doc", "*.txt"}, {"keep.lst", "t/a.doc", "t/b.txt", "x.tmp", "y.bak", "z.old"}},
      {{"*.tmp", "&", "*.bak", "!", "a*.*", "&", "*.old"}, {"keep.lst", "t/a.doc", "t/b.txt", "t/c.tmp"}},
      {{"-R", "!", "*.tmp"}, {"t/c.tmp", "x.tmp"}},
      {{"-R", "*.*", "!", "@keep.lst"}, {"keep.lst", "t/b.txt", "y.bak"}},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(::testing::PrintToString(R.Args));
    TTempTree Tree;
    for (const char* F : {"t/a.doc", "t/b.txt", "t/c.tmp", "x.tmp", "y.bak", "z.old"}) Tree.File(F);
    Tree.File("keep.lst");
    {
      FILE* List = std::fopen((Tree / "keep.lst").c_str(), "w");
      std::fputs("y.bak\r\nkeep.lst  B.TXT\x1a" "x.tmp\n", List);
      std::fclose(List);
    }
    const Strings Before = Tree.Files();
    const TRunResult Run = RunProgram(R.Args, {Tree.Root(), "", 0});
    EXPECT_EQ(0, Run.Status) << Run.Err;
    EXPECT_EQ(R.Left.empty() ? Before : R.Left, Tree.Files());
  }
}

// A list file that cannot be read to its end stops the run before anything
// is swept; the message goes to standard output, and there is no summary.
TEST(SharedProgram, UnreadableListFileDeletesNothing) {
  TTempTree Tree;
  Tree.File("a.tmp");
  Tree.Dir("dir.lst");
  for (const char* Name : {"missing.lst", "dir.lst"}) {
    SCOPED_TRACE(Name);
    const TRunResult R = RunProgram({"*.*", "!", std::string("@") + Name}, {Tree.Root(), "", 0});
    EXPECT_EQ(std::string("Error opening List File ") + Name + "\n", R.Out);
    EXPECT_EQ("", R.Err);
    EXPECT_EQ(1, R.Status);
    EXPECT_EQ((Strings{"a.tmp"}), Tree.Files());
  }
}

// The Windows program's own bytes, untranslated: an upper-cased directory,
// backslashes, CR LF, and "/S" as an option.
TEST(Windows, OutputAsWindowsWritesIt) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build under Wine";
  TTempTree Tree;
  Tree.File("a.tmp", 3);
  Tree.File("KEEP1.TMP");
  Tree.File("sub/b.TMP", 4);
  std::string Upper = WindowsPath(Tree.Root());
  for (char& C : Upper) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  TRunOptions Raw;
  Raw.Raw = true;
  const TRunResult Simulated = RunProgram({"/S", "-R", Tree / "*.TMP", "!", "KEEP*.*"}, Raw);
  const TRunResult R = RunProgram({"-R", Tree / "*.TMP", "!", "KEEP*.*"}, Raw);
  for (const TRunResult* Run : {&Simulated, &R}) {
    std::string Rest;
    std::string Out = Run->Out;
    EXPECT_EQ((Strings{"File " + Upper + "\\a.tmp deleted!\r", "File " + Upper + "\\sub\\b.TMP deleted!\r"}),
              SortedLines(Out, &Rest));
    EXPECT_EQ("\r\nAction complete!\r\n\r\nTotal deleted :      2 files        7 bytes\r\n", Rest);
    EXPECT_EQ(0, Run->Status);
  }
  EXPECT_EQ((Strings{"KEEP1.TMP"}), Tree.Files());
}

// Wine shows a POSIX link to a directory as a directory link (a reparse
// point): kerv32.exe passes it over like a directory it does not enter.
TEST(Windows, DirectoryLinksAreNotEntered) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build under Wine";
  TTempTree Tree;
  Tree.File("outside/precious.tmp");
  Tree.File("t/a.tmp");
  Tree.Link("t/dirlink", Tree / "outside");
  const TRunResult R = RunProgram({"-R", Tree / "t/*.*"});
  EXPECT_EQ(0, R.Status) << R.Err;
  EXPECT_EQ(Summary(true, "     1", "       0"), R.Out.substr(R.Out.find('\n') + 1));
  EXPECT_EQ((Strings{"outside/precious.tmp", "t/dirlink"}), Tree.Files());
}

// Each bad input gives one clear message, status 1 and the summary, and
// deletes nothing.
TEST(SharedProgram, BadInput) {
  TTempTree Tree;
  Tree.File("ro/a.tmp", 3, 0444);
  Tree.File("ro/b.tmp", 3, 0444);
  struct Row { std::string What; Strings Args; std::string Err; };
  const Row Rows[] = {
      {"missing directory", {Tree / "missing/*.tmp"}, "Invalid path or filename!\n"},
      {"file as directory", {Tree / "ro/a.tmp/*.tmp"}, "Invalid path or filename!\n"},
      {"huge base spec", {Tree / std::string(10000, 'x') + "/*.tmp"}, "Invalid path or filename!\n"},
      {"deep missing path", {Tree / [] { std::string P; for (int I = 0; I < 50; ++I) P += std::string(200, 'y') + "/"; return P; }() + "*.tmp"},
       "Invalid path or filename!\n"},
      // Write permission for nobody protects a file, even from root.
      {"read-only file", {Tree / "ro/*.tmp"}, "Permission denied!\n"},
  };
  for (const Row& Case : Rows) {
    SCOPED_TRACE(Case.What);
    const TRunResult R = RunProgram(Case.Args);
    EXPECT_EQ(Case.Err, R.Err);
    EXPECT_EQ(Summary(false, "     0", "       0"), R.Out);
    EXPECT_EQ(1, R.Status);
  }
  EXPECT_EQ((Strings{"ro/a.tmp", "ro/b.tmp"}), Tree.Files());
}

// A tree far deeper than the path limit, under a limit of 64 descriptors:
// every level is reached and the printed paths are whole.
TEST(SharedProgram, DeepTreeUnderADescriptorLimit) {
  TTempTree Tree;
  // Wine turns every path into a POSIX one, so under Wine the tree stays
  // within PATH_MAX, though far past the 260 characters of a plain path.
  const int Depth = WineProgram() ? 300 : 3000;
  int Fd = ::open(Tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  std::string Path = Tree.Root() + "/";
  for (int Level = 0; Level < Depth; ++Level) {
    ::close(::openat(Fd, "f.tmp", O_WRONLY | O_CREAT, 0644));
    ::close(::openat(Fd, "keep.txt", O_WRONLY | O_CREAT, 0644));
    ASSERT_EQ(0, ::mkdirat(Fd, "level", 0755));
    const int Next = ::openat(Fd, "level", O_RDONLY | O_DIRECTORY);
    ::close(Fd);
    Fd = Next;
    Path += "level/";
  }
  ::close(::openat(Fd, "bottom.tmp", O_WRONLY | O_CREAT, 0644));
  ::close(Fd);

  TRunOptions Options;
  Options.DescriptorLimit = 64;
  const TRunResult R = RunProgram({"-R", Tree / "*.tmp"}, Options);
  EXPECT_EQ("", R.Err);
  EXPECT_EQ(0, R.Status);
  std::string Rest;
  const Strings Lines = SortedLines(R.Out, &Rest);
  char Count[16];
  std::snprintf(Count, sizeof Count, "%6d", Depth + 1);
  EXPECT_EQ(Summary(true, Count, "       0"), Rest);
  EXPECT_NE(Lines.end(), std::find(Lines.begin(), Lines.end(), "File " + Path + "bottom.tmp deleted!"));
  // Every keep.txt stays; count them on the way down.
  Fd = ::open(Tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
  int Kept = 0;
  for (int Level = 0; Level < Depth; ++Level) {
    struct stat St;
    Kept += ::fstatat(Fd, "keep.txt", &St, 0) == 0;
    EXPECT_NE(0, ::fstatat(Fd, "f.tmp", &St, 0));
    const int Next = ::openat(Fd, "level", O_RDONLY | O_DIRECTORY);
    ::close(Fd);
    Fd = Next;
  }
  ::close(Fd);
  EXPECT_EQ(Depth, Kept);
}

// A device that is always full: the line of the first deletion cannot be
// written, so it goes to standard error, and nothing more goes.
TEST(SharedProgram, StopsWhenItsLinesCannotBeWritten) {
  TTempTree Tree;
  for (int I = 0; I < 5; ++I) Tree.File("t/f" + std::to_string(I) + ".tmp");
  TRunOptions Options;
  Options.OutFile = "/dev/full";
  const TRunResult R = RunProgram({Tree / "t/*.tmp"}, Options);
  const Strings Left = Tree.Files();
  ASSERT_EQ(4u, Left.size());
  // The one file gone is named on standard error, before the message.
  std::string Gone;
  for (int I = 0; I < 5 && Gone.empty(); ++I)
    if (!std::binary_search(Left.begin(), Left.end(), "t/f" + std::to_string(I) + ".tmp")) Gone = "t/f" + std::to_string(I) + ".tmp";
  EXPECT_EQ("File " + Tree / Gone + " deleted!\nI/O Error number:28\n", R.Err);
  EXPECT_EQ(1, R.Status);
}

// A signal in the middle of a large sweep: the lines name exactly the files
// that are gone. Standard output is a pipe left unread for a while, so the
// sweep is caught blocked on writing a line whose file is already removed:
// the signal lands between a removal and its line, and must wait for it.
// Ctrl-C and Ctrl-\ end the run with the message and status 2, without a
// summary; SIGTERM and SIGHUP take their default action.
TEST(Program, SignalsKeepLinesAndRemovalsTogether) {
  struct Row { int Signal; int Status; const char* Err; };
  const Row Rows[] = {{SIGINT, 2, "Ctrl-Break pressed! Program aborted"},
                      {SIGQUIT, 2, "Ctrl-Break pressed! Program aborted"},
                      {SIGTERM, 128 + SIGTERM, ""},
                      {SIGHUP, 128 + SIGHUP, ""}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Signal);
    TTempTree Tree;
    constexpr int Count = 12000;
    for (int I = 0; I < Count; ++I) Tree.File("t/a-longer-file-name-for-the-lines-" + std::to_string(I) + ".tmp");
    const TStartedProgram Run = StartProgram({Tree / "t/*.tmp"});
    // The first line comes at once; then the pipe soon fills and the sweep
    // blocks on it, however slow the machine.
    pollfd FirstLine{Run.Out, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&FirstLine, 1, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(Run.Child, R.Signal);
    const std::string Out = ReadToEnd(Run.Out), Err = ReadToEnd(Run.Err);
    int Status = 0;
    ::waitpid(Run.Child, &Status, 0);
    EXPECT_EQ(R.Status, ExitStatus(Status));
    EXPECT_EQ(R.Err, Err);

    std::string Rest;
    std::set<std::string> Reported;
    for (const std::string& Line : SortedLines(Out, &Rest))
      Reported.insert(Line.substr(5 + Tree.Root().size() + 1, Line.size() - 5 - Tree.Root().size() - 1 - 9));
    EXPECT_EQ("", Rest);  // no summary, no torn line
    const Strings Left = Tree.Files();
    std::set<std::string> Gone;
    for (int I = 0; I < Count; ++I) Gone.insert("t/a-longer-file-name-for-the-lines-" + std::to_string(I) + ".tmp");
    for (const std::string& F : Left) Gone.erase(F);
    EXPECT_EQ(Gone, Reported);
    EXPECT_FALSE(Left.empty());  // it was stopped in the middle
    EXPECT_FALSE(Gone.empty());
  }
}

// On POSIX only '/' separates and there are no drives: "\\" and ":" are
// ordinary characters of a name, in specs and in the names matched. Each
// spec simulated from inside the tree, and the names it selects.
TEST(Program, NamesStayWhole) {
  TTempTree Tree;
  for (const char* F : {"b.tmp", "junk\\b.tmp", "x:b.tmp", "a:b.tmp", "keep.tmp", "c:foo.tmp", "c:/foo.tmp"}) Tree.File(F);
  struct Row { std::string Spec; Strings Selected; };
  const Row Rows[] = {
      {"b.tmp", {"File b.tmp deleted!"}},
      {"a*.tmp", {"File a:b.tmp deleted!"}},
      {"c:foo.tmp", {"File c:foo.tmp deleted!"}},  // a file here, not foo.tmp in "c:"
      {"c:/*.tmp", {"File c:/foo.tmp deleted!"}},
      {"junk\\b.tmp", {"File junk\\134b.tmp deleted!"}},
      {"?:b.tmp", {"File a:b.tmp deleted!", "File x:b.tmp deleted!"}},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Spec);
    const TRunResult Run = RunProgram({"-S", R.Spec}, {Tree.Root(), "", 0});
    EXPECT_EQ(0, Run.Status) << Run.Err;
    EXPECT_EQ(R.Selected, SortedLines(Run.Out));
  }
  const TRunResult Real = RunProgram({"c:foo.tmp"}, {Tree.Root(), "", 0});
  EXPECT_EQ(0, Real.Status);
  EXPECT_FALSE(Tree.Exists("c:foo.tmp"));
  EXPECT_TRUE(Tree.Exists("c:/foo.tmp"));
}

// Command lines that name nothing delete nothing: an empty argument as the
// base spec (an unset variable) is refused, and include specs that were to
// come from list files that hold no word select no file.
TEST(SharedProgram, EmptySelectionsDeleteNothing) {
  TTempTree Tree;
  Tree.File("a.tmp");
  Tree.File("b.txt");
  Tree.File("empty.lst");
  const std::string Nothing = Summary(true, "     0", "       0");
  struct Row { Strings Args; std::string Out, Err; int Status; };
  const Row Rows[] = {
      {{""}, Summary(false, "     0", "       0"), "Invalid path or filename!\n", 1},
      {{"-R", ""}, Summary(false, "     0", "       0"), "Invalid path or filename!\n", 1},
      {{"@empty.lst"}, Nothing, "", 0},
      {{"&", "@empty.lst"}, Nothing, "", 0},
      {{Tree.Root() + "/", "@empty.lst"}, Nothing, "", 0},
      {{"!", "*.x", "&", "@empty.lst"}, Nothing, "", 0},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(::testing::PrintToString(R.Args));
    const TRunResult Run = RunProgram(R.Args, {Tree.Root(), "", 0});
    EXPECT_EQ(R.Out, Run.Out);
    EXPECT_EQ(R.Err, Run.Err);
    EXPECT_EQ(R.Status, Run.Status);
    EXPECT_EQ((Strings{"a.tmp", "b.txt", "empty.lst"}), Tree.Files());
  }
}

// A NUL byte separates the words of a list file, so an exclude list with one
// in it still protects every name, and "find -print0" lists read as meant.
TEST(SharedProgram, NulSeparatesListWords) {
  TTempTree Tree;
  for (const char* F : {"keep.tmp", "x.tmp", "a.tmp"}) Tree.File(F);
  std::ofstream(Tree / "keep.lst", std::ios::binary) << std::string("keep.tmp\0junk", 13);
  std::ofstream(Tree / "found.lst", std::ios::binary) << std::string("./a.tmp\0./b.tmp\0", 16);
  EXPECT_EQ(0, RunProgram({"*.tmp", "!", "@keep.lst"}, {Tree.Root(), "", 0}).Status);
  EXPECT_EQ((Strings{"found.lst", "keep.lst", "keep.tmp"}), Tree.Files());
  for (const char* F : {"a.tmp", "b.tmp", "c.tmp"}) Tree.File(F);
  EXPECT_EQ(0, RunProgram({"@found.lst"}, {Tree.Root(), "", 0}).Status);
  EXPECT_EQ((Strings{"c.tmp", "found.lst", "keep.lst", "keep.tmp"}), Tree.Files());
}

// A name cannot forge a line or reach the terminal as a control sequence:
// control bytes, DEL and the backslash print as octal escapes, and one line
// names one file.
TEST(Program, PrintedNamesAreEscaped) {
  TTempTree Tree;
  for (const char* F : {"x\nFile important.doc", "esc\x1b[31m.tmp", "back\\slash.tmp", "del\x7f.tmp", "tab\there.tmp"})
    Tree.File(std::string("t/") + F);
  const TRunResult Run = RunProgram({Tree / "t/*.*"});
  EXPECT_EQ(0, Run.Status);
  std::string Rest;
  const std::string Dir = "File " + Tree / "t/";
  EXPECT_EQ((Strings{Dir + "back\\134slash.tmp deleted!", Dir + "del\\177.tmp deleted!",
                     Dir + "esc\\033[31m.tmp deleted!", Dir + "tab\\011here.tmp deleted!",
                     Dir + "x\\012File important.doc deleted!"}),
            SortedLines(Run.Out, &Rest));
  EXPECT_EQ(Summary(true, "     5", "       0"), Rest);
  const TRunResult List = RunProgram({"*.*", "!", "@no\tsuch\\.lst"}, {Tree.Root(), "", 0});
  EXPECT_EQ("Error opening List File no\\011such\\134.lst\n", List.Out);
}

// '*' reaches the program as a spec, never as the names of the files here
// (a runtime built to expand wildcards would do that): it selects only the
// names without an extension.
TEST(SharedProgram, StarIsASpecNotTheNamesHere) {
  TTempTree Tree;
  for (const char* F : {"a", "b.tmp", "c.txt", "sub/d"}) Tree.File(F);
  const TRunResult Run = RunProgram({"*"}, {Tree.Root(), "", 0});
  EXPECT_EQ(0, Run.Status) << Run.Err;
  EXPECT_EQ((Strings{"File a deleted!"}), SortedLines(Run.Out));
  EXPECT_EQ((Strings{"b.tmp", "c.txt", "sub/d"}), Tree.Files());
}

// Names reach the matcher in the ANSI code page, but never by best fit: a
// character the code page cannot show matches only a wildcard and prints
// as '?', and every file is removed by its own name.
TEST(Windows, NamesAreNeverTakenForLookAlikes) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build under Wine";
  TTempTree Tree;
  const std::string Omega = "\xce\xa9mega.tmp", WideA = "\xef\xbd\x81" "bc.tmp";  // U+03A9, U+FF41
  for (const std::string& F : {Omega, WideA, std::string("Omega.tmp"), std::string("abc.tmp")}) Tree.File(F);
  const TRunResult Named = RunProgram({"omega.tmp", "abc.tmp"}, {Tree.Root(), "", 0});
  EXPECT_EQ(0, Named.Status) << Named.Err;
  EXPECT_EQ((Strings{"File Omega.tmp deleted!", "File abc.tmp deleted!"}), SortedLines(Named.Out));
  EXPECT_EQ((Strings{Omega, WideA}), Tree.Files());
  const TRunResult All = RunProgram({"*.tmp"}, {Tree.Root(), "", 0});
  EXPECT_EQ(0, All.Status) << All.Err;
  EXPECT_EQ((Strings{"File ?bc.tmp deleted!", "File ?mega.tmp deleted!"}), SortedLines(All.Out));
  EXPECT_TRUE(Tree.Files().empty());
}

}  // namespace
}  // namespace kerv::testing
