#include "sweep/sweep.h"

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "remover/remover.h"

namespace kerv {
namespace {

using Strings = std::vector<std::string>;

TEST(ScanDir, SelectsByBothListsAndCounts) {
  TFakePlatform Os;
  Os.AddFile("T/old.tmp", 10);
  Os.AddFile("T/KEEP1.TMP", 20);
  Os.AddFile("T/notes.txt", 30);
  Os.AddFile("T/sub/deep.tmp", 5);
  TKerv Kerv(Os);
  Kerv.Include.Add("*.TMP");
  Kerv.Exclude.Add("KEEP*.*");
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  EXPECT_EQ(Strings{Native("T/old.tmp")}, Os.Removed);  // no recursion without Recurse
  EXPECT_EQ(Native("File T/old.tmp deleted!\n"), Os.Out);
  EXPECT_EQ(1, Kerv.DeletedFiles);
  EXPECT_EQ(10, Kerv.DeletedBytes);
  EXPECT_TRUE(Os.Err.empty());
}

TEST(ScanDir, SweepsEachSubdirectoryWhenItsEntryComesUp) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp", 1);
  Os.AddFile("T/sub/b.tmp", 2);
  Os.AddFile("T/sub/inner/c.tmp", 3);
  Os.AddFile("T/z.tmp", 4);
  TKerv Kerv(Os);
  Kerv.Recurse = true;
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  EXPECT_EQ((Strings{Native("T/a.tmp"), Native("T/sub/b.tmp"), Native("T/sub/inner/c.tmp"), Native("T/z.tmp")}), Os.Removed);
  EXPECT_EQ(Native("File T/a.tmp deleted!\nFile T/sub/b.tmp deleted!\n"
                   "File T/sub/inner/c.tmp deleted!\nFile T/z.tmp deleted!\n"),
            Os.Out);
  EXPECT_TRUE(Os.Exists("T/sub/inner"));  // directories are never deleted
  EXPECT_EQ(4, Kerv.DeletedFiles);
  EXPECT_EQ(10, Kerv.DeletedBytes);
}

TEST(ScanDir, NeverTouchesDotNamesLinksOrOtherFileSystems) {
  TFakePlatform Os;
  Os.AddFile("T/.profile");
  Os.AddFile("T/.cache/x.tmp");
  Os.AddFile("T/link/outside.tmp").IsDirectory = false;
  Os.AddDir("T/link").IsLink = true;
  Os.AddFile("T/mnt/y.tmp");
  Os.AddDir("T/mnt").MountRoot = true;
  Os.AddFile("T/plain");
  TKerv Kerv(Os);
  Kerv.Recurse = true;
  Kerv.Include.Add("*.*");
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  // The link itself is an entry like a file: selected, it is removed, and
  // what it points to is not.
  EXPECT_EQ((Strings{Native("T/link"), Native("T/plain")}), Os.Removed);
}

TEST(ScanDir, SimulateRemovesNothingButReportsAndCounts) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp", 10);
  Os.AddFile("T/sub/b.tmp", 5);
  Os.AddFile("T/ro.tmp", 7).ReadOnly = true;  // only a real removal is refused
  TKerv Kerv(Os);
  Kerv.Recurse = Kerv.Simulate = Kerv.Ask = true;
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  EXPECT_TRUE(Os.Removed.empty());
  EXPECT_EQ(0, Os.KeysRead);
  EXPECT_EQ(Native("File T/a.tmp deleted!\nFile T/sub/b.tmp deleted!\nFile T/ro.tmp deleted!\n"), Os.Out);
  EXPECT_EQ(3, Kerv.DeletedFiles);
  EXPECT_EQ(22, Kerv.DeletedBytes);
}

TEST(ScanDir, EmptyIncludeAdmitsAllAndFullExcludeNone) {
  TFakePlatform Os;
  Os.AddFile("T/a.x", 1);
  Os.AddFile("T/b", 2);
  TKerv All(Os);
  All.Simulate = true;
  EXPECT_EQ(0, All.ScanDir(Native("T/")));
  EXPECT_EQ(2, All.DeletedFiles);

  TKerv None(Os);
  None.Exclude.Add("*.*");
  EXPECT_EQ(0, None.ScanDir(Native("T/")));
  EXPECT_EQ(0, None.DeletedFiles);
  EXPECT_TRUE(Os.Removed.empty());
}

// Each failure prints its one message, stops the run at once and leaves the
// later files alone.
TEST(ScanDir, FailuresStopTheRun) {
  struct Row {
    const char* What;
    void (*Arrange)(TFakePlatform&);
    const char* Message;
    Strings Removed;
  };
  const Row Rows[] = {
      {"vanished file", [](TFakePlatform& Os) { Os.FailRemove("T/b.tmp", TFsError::NotFound, 2); },
       "Invalid path or filename!\n", {Native("T/a.tmp")}},
      {"refused removal", [](TFakePlatform& Os) { Os.FailRemove("T/b.tmp", TFsError::AccessDenied, 13); },
       "Permission denied!\n", {Native("T/a.tmp")}},
      {"read-only file", [](TFakePlatform& Os) { Os.AddFile("T/b.tmp").ReadOnly = true; },
       "Permission denied!\n", {Native("T/a.tmp")}},
      {"busy file", [](TFakePlatform& Os) { Os.FailRemove("T/b.tmp", TFsError::Busy, 16); },
       "Attempted to remove current directory\n", {Native("T/a.tmp")}},
      {"no device", [](TFakePlatform& Os) { Os.FailRemove("T/b.tmp", TFsError::NoDevice, 19); },
       "Invalid device!\n", {Native("T/a.tmp")}},
      {"other error", [](TFakePlatform& Os) { Os.FailRemove("T/b.tmp", TFsError::Other, 5); },
       "I/O Error number:5\n", {Native("T/a.tmp")}},
      {"unlistable subdirectory", [](TFakePlatform& Os) { Os.FailOpen("T/b.tmp", TFsError::AccessDenied, 13); Os.AddDir("T/b.tmp"); },
       "Permission denied!\n", {Native("T/a.tmp")}},
      {"missing base directory", [](TFakePlatform& Os) { Os.FailOpen("T/", TFsError::NotFound, 2); },
       "Invalid path or filename!\n", {}},
      {"listing breaks off", [](TFakePlatform& Os) { Os.FailListingAt("T/b.tmp", TFsError::Other, 5); },
       "I/O Error number:5\n", {Native("T/a.tmp")}},
      {"file vanished before its inspection", [](TFakePlatform& Os) { Os.FailInspect("T/b.tmp", TFsError::NotFound, 2); },
       "Invalid path or filename!\n", {Native("T/a.tmp")}},
      // A batch written in the background failed: the record is lost, so
      // nothing more may go.
      {"output lost meanwhile", [](TFakePlatform& Os) { Os.LoseOutputAt("T/b.tmp", TFsError::Other, 32); },
       "I/O Error number:32\n", {Native("T/a.tmp")}},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TFakePlatform Os;
    Os.AddFile("T/a.tmp", 1);
    Os.AddFile("T/b.tmp", 2);
    Os.AddFile("T/c.tmp", 4);
    R.Arrange(Os);
    TKerv Kerv(Os);
    Kerv.Recurse = true;
    EXPECT_EQ(1, Kerv.ScanDir(Native("T/")));
    EXPECT_EQ(R.Message, Os.Err);
    EXPECT_EQ(R.Removed, Os.Removed);
    EXPECT_TRUE(Os.Exists("T/c.tmp"));
    EXPECT_EQ(static_cast<std::int64_t>(R.Removed.size()), Kerv.DeletedFiles);
  }
}

TEST(ScanDir, StopsDeletingOnceALineCannotBeWritten) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp");
  Os.AddFile("T/b.tmp");
  Os.AddFile("T/c.tmp");
  Os.FailWritesFrom(1, TFsError::Other, 28);
  TKerv Kerv(Os);
  EXPECT_EQ(1, Kerv.ScanDir(Native("T/")));
  // b went before its line failed, so that line goes to standard error,
  // before the message; c must not go at all.
  EXPECT_EQ((Strings{Native("T/a.tmp"), Native("T/b.tmp")}), Os.Removed);
  EXPECT_EQ(Native("File T/b.tmp deleted!\n") + "I/O Error number:28\n", Os.Err);
}

TEST(ScanDir, AnInterruptWaitsForTheLineOfTheRemovalInHand) {
  TFakePlatform Os;
  Os.AddFile("T/a.tmp");
  Os.AddFile("T/b.tmp");
  Os.AddFile("T/c.tmp");
  Os.InterruptOnRemove("T/b.tmp");
  TKerv Kerv(Os);
  Kerv.ScanDir(Native("T/"));
  ASSERT_TRUE(Os.Interrupted);
  EXPECT_EQ((Strings{Native("T/a.tmp"), Native("T/b.tmp")}), Os.RemovedAtInterrupt);
  EXPECT_EQ(Native("File T/a.tmp deleted!\nFile T/b.tmp deleted!\n"), Os.OutAtInterrupt);
}

// An ancestor that cannot give its handle back on the way down, or take it
// again on the way up, stops the run with its message: the sweep never goes
// on in a directory it no longer holds.
TEST(ScanDir, HandleFailuresInDeepTreesStopTheRun) {
  const std::string Far = "T/d/";  // the second level: released once the sweep is 16 deeper
  struct Row { const char* What; void (*Arrange)(TFakePlatform&, const std::string&); std::size_t Removed; const char* Err; };
  const Row Rows[] = {
      {"release", [](TFakePlatform& Os, const std::string& Dir) { Os.FailRelease(Dir, TFsError::Other, 24); }, 16,
       "I/O Error number:24\n"},
      // The subtree was moved away while the sweep was inside it.
      {"reacquire", [](TFakePlatform& Os, const std::string& Dir) { Os.FailReacquire(Dir, TFsError::NotFound, 2); }, 40,
       "Invalid path or filename!\n"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TFakePlatform Os;
    std::string Path = "T/";
    for (int Depth = 0; Depth < 40; ++Depth) {
      Path += "d/";
      Os.AddFile(Path + "f.tmp", 1);
    }
    Os.AddFile(Far + "z.tmp", 1);  // after the subtree: reached only with the handle back
    R.Arrange(Os, Far);
    TKerv Kerv(Os);
    Kerv.Recurse = true;
    EXPECT_EQ(1, Kerv.ScanDir(Native("T/")));
    EXPECT_EQ(R.Removed, Os.Removed.size());
    EXPECT_TRUE(Os.Exists(Far + "z.tmp"));
    EXPECT_EQ(R.Err, Os.Err);
  }
}

// Ancestors beyond the limit give their handles back and take them again on
// the way up, so a deep tree needs no more handles than a shallow one.
TEST(ScanDir, HoldsAFixedNumberOfDirectoriesWhateverTheDepth) {
  TFakePlatform Os;
  std::string Path = Native("T/");
  for (int Depth = 0; Depth < 200; ++Depth) {
    Os.AddFile(Path + "f.tmp", 1);
    Path += Native("d/");
  }
  Os.AddFile(Path + "bottom.tmp", 1);
  TKerv Kerv(Os);
  Kerv.Recurse = true;
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  EXPECT_EQ(201, Kerv.DeletedFiles);
  EXPECT_EQ(Path + "bottom.tmp", Os.Removed[200]);
  EXPECT_EQ(static_cast<int>(HeldDirectoryLimit), Os.HeldMost);
  EXPECT_EQ(0, Os.HeldNow);
}

TEST(ScanDir, PrintsPathsFromTheDirectoryAsGiven) {
  TFakePlatform Os;
  Os.AddFile("a.tmp");
  Os.AddFile("sub/b.tmp");
  TKerv Kerv(Os);
  Kerv.Recurse = Kerv.Simulate = true;
  EXPECT_EQ(0, Kerv.ScanDir(""));  // the current directory: bare names
  EXPECT_EQ(Native("File a.tmp deleted!\nFile sub/b.tmp deleted!\n"), Os.Out);
}

// The question before each deletion, over a.tmp, sub/b.tmp and c.tmp: the
// keys pressed, what goes, what is printed, and the result.
TEST(ScanDir, AnswersToTheQuestion) {
  const std::string A = "Delete file " + Native("T/a.tmp") + " ? [Yes/No/X/Quit] ";
  const std::string B = "Delete file " + Native("T/sub/b.tmp") + " ? [Yes/No/X/Quit] ";
  const std::string C = "Delete file " + Native("T/c.tmp") + " ? [Yes/No/X/Quit] ";
  const std::string GoneA = Native("File T/a.tmp deleted!\n"), GoneB = Native("File T/sub/b.tmp deleted!\n"),
                    GoneC = Native("File T/c.tmp deleted!\n");
  struct Row { const char* What; std::vector<int> Keys; Strings Removed; std::string Out; int Result; };
  const Row Rows[] = {
      {"yes, no, yes", {'y', 'N', 'Y'}, {Native("T/a.tmp"), Native("T/c.tmp")},
       A + "Y\n" + GoneA + B + "N\n" + C + "Y\n" + GoneC, 0},
      // X answers this question and every later one, in every directory.
      {"all", {'x'}, {Native("T/a.tmp"), Native("T/sub/b.tmp"), Native("T/c.tmp")}, A + "X\n" + GoneA + GoneB + GoneC, 0},
      {"no, then all", {'n', 'X'}, {Native("T/sub/b.tmp"), Native("T/c.tmp")}, A + "N\n" + B + "X\n" + GoneB + GoneC, 0},
      {"quit", {'y', 'q'}, {Native("T/a.tmp")}, A + "Y\n" + GoneA + B + "Q\n", 1},
      {"ctrl-c quits without echo", {'n', 3}, {}, A + "N\n" + B, 1},
      // Other keys are passed over silently; the question is not repeated.
      {"ignored keys", {'\r', ' ', '7', OtherKey, 'z', 'Y', 'n', 'n'}, {Native("T/a.tmp")},
       A + "Y\n" + GoneA + B + "N\n" + C + "N\n", 0},
      {"no console", {}, {}, A + "\n", 1},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TFakePlatform Os;
    Os.AddFile("T/a.tmp", 1);
    Os.AddFile("T/sub/b.tmp", 2);
    Os.AddFile("T/c.tmp", 4);
    Os.Keys.assign(R.Keys.begin(), R.Keys.end());
    TKerv Kerv(Os);
    Kerv.Ask = Kerv.Recurse = true;
    EXPECT_EQ(R.Result, Kerv.ScanDir(Native("T/")));
    EXPECT_EQ(R.Removed, Os.Removed);
    EXPECT_EQ(R.Out, Os.Out);
    EXPECT_EQ(static_cast<std::int64_t>(R.Removed.size()), Kerv.DeletedFiles);
    EXPECT_EQ("", Os.Err);
  }
}

// No file goes unless its line is sure to be kept: room for it is asked for
// before each removal, and a refusal stops the run before the next one. A
// simulated run removes nothing, so it needs no room.
TEST(ScanDir, NoFileGoesUnlessItsLineIsSureToBeKept) {
  struct Row { const char* What; int FailFrom; bool Simulate; int Result; Strings Removed; std::string Out, Err; };
  const Row Rows[] = {
      {"no room at all", 0, false, 1, {}, "", "I/O Error number:28\n"},
      {"room for one", 1, false, 1, {Native("T/a.tmp")}, Native("File T/a.tmp deleted!\n"), "I/O Error number:28\n"},
      {"simulated", 0, true, 0, {}, Native("File T/a.tmp deleted!\nFile T/b.tmp deleted!\n"), ""},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TFakePlatform Os;
    Os.AddFile("T/a.tmp");
    Os.AddFile("T/b.tmp");
    Os.FailReservationsFrom(R.FailFrom, TFsError::Other, 28);
    TKerv Kerv(Os);
    Kerv.Simulate = R.Simulate;
    EXPECT_EQ(R.Result, Kerv.ScanDir(Native("T/")));
    EXPECT_EQ(R.Removed, Os.Removed);
    EXPECT_EQ(R.Out, Os.Out);
    EXPECT_EQ(R.Err, Os.Err);
  }
}

// Every file of the whole system, for real, is refused before anything goes;
// naming the files, simulating or staying in the root directory works.
TEST(ScanDir, RefusesEveryFileUnderTheRoot) {
  const std::string Root = NativeRules().UpperCaseBaseSpec ? "C:\\" : "/";
  struct Row { const char* What; bool Recurse, Simulate, Ask; const char* Include; const char* Exclude; bool Refused; };
  const Row Rows[] = {
      {"every file, recursively", true, false, false, nullptr, nullptr, true},
      {"every file but some", true, false, false, nullptr, "*.doc", true},
      {"every file, asking", true, false, true, nullptr, nullptr, true},
      {"simulated", true, true, false, nullptr, nullptr, false},
      {"named files", true, false, false, "*.tmp", nullptr, false},
      {"the root directory alone", false, false, false, nullptr, nullptr, false},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TFakePlatform Os;
    Os.AddFile("a.tmp");
    Os.AddFile("etc/b.tmp");
    Os.Keys = {'x'};
    TKerv Kerv(Os);
    Kerv.Recurse = R.Recurse;
    Kerv.Simulate = R.Simulate;
    Kerv.Ask = R.Ask;
    if (R.Include) Kerv.Include.Add(R.Include);
    if (R.Exclude) Kerv.Exclude.Add(R.Exclude);
    EXPECT_EQ(R.Refused ? 1 : 0, Kerv.ScanDir(Root));
    EXPECT_EQ(R.Refused ? std::string(RootRefusal) + "\n" : "", Os.Err);
    if (R.Refused) {
      EXPECT_TRUE(Os.Removed.empty());
      EXPECT_EQ("", Os.Out);
    } else {
      EXPECT_EQ(R.Simulate ? 0u : R.Recurse ? 2u : 1u, Os.Removed.size());
    }
  }
}

// Where names may hold any byte, the question and the line write control
// bytes and the backslash as octal escapes: one line, one file.
TEST(ScanDir, PrintedPathsEscapeControlBytes) {
  TFakePlatform Os;
  Os.AddFile("T/a\nb\x1b.tmp");
  Os.Keys = {'y'};
  TKerv Kerv(Os);
  Kerv.Ask = true;
  EXPECT_EQ(0, Kerv.ScanDir(Native("T/")));
  const std::string Printed = Native("T/") + (NativeRules().EscapesPrintedNames ? "a\\012b\\033.tmp" : "a\nb\x1b.tmp");
  EXPECT_EQ("Delete file " + Printed + " ? [Yes/No/X/Quit] Y\nFile " + Printed + " deleted!\n", Os.Out);
}

}  // namespace
}  // namespace kerv
