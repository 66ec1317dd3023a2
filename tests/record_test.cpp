// The lines are the user's only record of what is gone: whatever stops a run
// (a file-size limit, a full disk, signals), the files gone are exactly the
// files the lines name, and an output file holds exactly the bytes written.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>

#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Names = std::set<std::string>;

// Count files named t/f<N>.tmp, each with a line some 45 bytes long.
Names MakeFiles(TTempTree& Tree, int Count) {
  Names All;
  for (int I = 0; I < Count; ++I) {
    const std::string Name = "t/f" + std::to_string(I) + ".tmp";
    Tree.File(Name);
    All.insert(Name);
  }
  return All;
}

Names Gone(const TTempTree& Tree, Names All) {
  for (const std::string& Left : Tree.Files()) All.erase(Left);
  return All;
}

// The files that the "deleted!" lines of Out name, relative to the tree.
Names Reported(const TTempTree& Tree, const std::string& Out) {
  Names Result;
  const std::string Head = "File " + Tree.Root() + "/", Tail = " deleted!";
  std::istringstream Lines(Out);
  for (std::string Line; std::getline(Lines, Line);)
    if (Line.rfind(Head, 0) == 0 && Line.size() > Head.size() + Tail.size() &&
        Line.compare(Line.size() - Tail.size(), Tail.size(), Tail) == 0)
      Result.insert(Line.substr(Head.size(), Line.size() - Head.size() - Tail.size()));
  return Result;
}

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

// No room is left reserved past the end of the file: it takes no more
// blocks than its bytes need.
bool HoldsOnlyItsBytes(const std::string& Path) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0) return false;
  const long long Rounded = (static_cast<long long>(St.st_size) + 4095) / 4096 * 4096;
  return static_cast<long long>(St.st_blocks) * 512 <= Rounded;
}

std::string IncompleteSummary(std::size_t Files) {
  char Count[16];
  std::snprintf(Count, sizeof Count, "%6zu", Files);
  return std::string("\nAction incomplete!\n\nTotal deleted : ") + Count + " files        0 bytes\n";
}

// A file-size limit stops the run before the deletion whose line would not
// fit, whether SIGXFSZ is ignored or would kill the process, and whether the
// output is written from the start or appended to what the file holds.
TEST(Record, FileSizeLimitStopsBeforeTheNextDeletion) {
  struct Row { const char* What; bool Append; bool IgnoreSignal; };
  const Row Rows[] = {{"from the start, SIGXFSZ ignored", false, true},
                      {"appended, SIGXFSZ as it comes", true, false}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TTempTree Tree;
    const Names All = MakeFiles(Tree, 3000);
    const std::string OutPath = Tree / "out";
    const std::string Before = R.Append ? std::string(1000, 'x') + "\n" : "";
    std::ofstream(OutPath) << Before;
    TRunOptions Options;
    Options.OutFile = OutPath;
    Options.AppendOut = R.Append;
    Options.FileSizeLimit = 4096;
    Options.IgnoreFileSizeSignal = R.IgnoreSignal;
    const TRunResult Run = RunProgram({Tree / "t/*.tmp"}, Options);
    EXPECT_EQ(1, Run.Status);
    EXPECT_EQ("I/O Error number:27\n", Run.Err);  // EFBIG
    const std::string Out = ReadFile(OutPath);
    ASSERT_EQ(Before, Out.substr(0, Before.size()));
    const Names GoneNow = Gone(Tree, All);
    EXPECT_EQ(GoneNow, Reported(Tree, Out));
    EXPECT_GT(GoneNow.size(), 50u);
    EXPECT_LT(GoneNow.size(), All.size());
    // The summary was kept room for: it closes the file whole.
    const std::string Summary = IncompleteSummary(GoneNow.size());
    ASSERT_GE(Out.size(), Summary.size());
    EXPECT_EQ(Summary, Out.substr(Out.size() - Summary.size()));
    EXPECT_LE(Out.size(), 4096u);
    EXPECT_TRUE(HoldsOnlyItsBytes(OutPath));
  }
}

// The output file on a file system of its own, in a mount namespace of the
// test's own (root only): a tmpfs that fills up, and a ramfs, which takes no
// reservation, so that each line is written before the next deletion.
TEST(Record, FullDiskStopsBeforeTheNextDeletion) {
  struct Row { const char* What; const char* Type; const char* Data; long FillBytes; long SizeLimit; const char* Err; };
  const Row Rows[] = {
      {"tmpfs with 12 KiB free", "tmpfs", "size=256k", 256 * 1024 - 12 * 1024, 0, "I/O Error number:28\n"},
      {"ramfs under a size limit", "ramfs", "", 0, 4096, "I/O Error number:27\n"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TTempTree Tree;
    const Names All = MakeFiles(Tree, 3000);
    Tree.Dir("disk");
    int Report[2];
    ASSERT_EQ(0, ::pipe(Report));
    const pid_t Child = ::fork();
    if (Child == 0) {
      ::close(Report[0]);
      if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount(R.Type, (Tree / "disk").c_str(), R.Type, 0, R.Data) != 0)
        ::_exit(77);
      if (R.FillBytes > 0) {
        const int Fill = ::open((Tree / "disk/fill").c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string Block(4096, 'f');
        for (long Done = 0; Done < R.FillBytes; Done += 4096)
          if (::write(Fill, Block.data(), Block.size()) != 4096) break;
        ::close(Fill);
      }
      TRunOptions Options;
      Options.OutFile = Tree / "disk/out";
      Options.FileSizeLimit = R.SizeLimit;
      Options.IgnoreFileSizeSignal = true;
      const TRunResult Run = RunProgram({Tree / "t/*.tmp"}, Options);
      const std::string Out = ReadFile(Tree / "disk/out");
      std::ostringstream Failures;
      const Names GoneNow = Gone(Tree, All);
      if (Run.Status != 1) Failures << "status " << Run.Status << "; ";
      if (Run.Err != R.Err) Failures << "stderr [" << Run.Err << "]; ";
      if (GoneNow != Reported(Tree, Out)) Failures << GoneNow.size() << " gone, " << Reported(Tree, Out).size() << " lines; ";
      if (GoneNow.empty() || GoneNow.size() == All.size()) Failures << GoneNow.size() << " gone; ";
      const std::string Summary = IncompleteSummary(GoneNow.size());
      if (Out.size() < Summary.size() || Out.compare(Out.size() - Summary.size(), Summary.size(), Summary) != 0)
        Failures << "no whole summary at the end; ";
      if (!HoldsOnlyItsBytes(Tree / "disk/out")) Failures << "room left reserved; ";
      const std::string Text = Failures.str();
      if (::write(Report[1], Text.data(), Text.size()) < 0) ::_exit(1);
      ::umount2((Tree / "disk").c_str(), MNT_DETACH);
      ::_exit(0);
    }
    ::close(Report[1]);
    std::string Failures;
    char Buffer[4096];
    for (ssize_t Got; (Got = ::read(Report[0], Buffer, sizeof Buffer)) > 0;) Failures.append(Buffer, static_cast<std::size_t>(Got));
    ::close(Report[0]);
    int Status = 0;
    ::waitpid(Child, &Status, 0);
    ASSERT_TRUE(WIFEXITED(Status));
    if (WEXITSTATUS(Status) == 77) GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(0, WEXITSTATUS(Status));
    EXPECT_EQ("", Failures);
  }
}

// A run whose standard output is a pipe that nobody reads: the sweep blocks
// on a line whose file is gone. The first interrupt waits for that line; a
// second one ends the process at once, as the first would have. Every line
// that got out names a file that is gone.
TEST(Record, SecondInterruptEndsAStalledRun) {
  struct Row { int First, Second; int Status; const char* Err; };
  const Row Rows[] = {{SIGINT, SIGINT, 2, "Ctrl-Break pressed! Program aborted"},
                      {SIGTERM, SIGTERM, 128 + SIGTERM, ""},
                      {SIGINT, SIGQUIT, 2, "Ctrl-Break pressed! Program aborted"}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(std::to_string(R.First) + " then " + std::to_string(R.Second));
    TTempTree Tree;
    Names All;
    for (int I = 0; I < 6000; ++I) {
      const std::string Name = "t/a-longer-file-name-for-the-lines-" + std::to_string(I) + ".tmp";
      Tree.File(Name);
      All.insert(Name);
    }
    const TStartedProgram Run = StartProgram({Tree / "t/*.tmp"});
    const pid_t Child = Run.Child;
    // Wait until the pipe is full: the sweep is then blocked on a write.
    int Waiting = 0;
    for (int Tries = 0; Tries < 1000 && Waiting < 60000; ++Tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ::ioctl(Run.Out, FIONREAD, &Waiting);
    }
    ASSERT_GE(Waiting, 60000);
    ::kill(Child, R.First);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int Status = 0;
    EXPECT_EQ(0, ::waitpid(Child, &Status, WNOHANG)) << "the first interrupt must wait for the line in hand";
    ::kill(Child, R.Second);
    pid_t Ended = 0;
    for (int Tries = 0; Tries < 500 && Ended == 0; ++Tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      Ended = ::waitpid(Child, &Status, WNOHANG);
    }
    if (Ended == 0) {
      ::kill(Child, SIGKILL);
      ::waitpid(Child, &Status, 0);
      ADD_FAILURE() << "a second interrupt did not end the run";
    } else {
      EXPECT_EQ(R.Status, ExitStatus(Status));
    }
    const std::string Out = ReadToEnd(Run.Out), Err = ReadToEnd(Run.Err);
    EXPECT_EQ(R.Err, Err);
    const Names GoneNow = Gone(Tree, All);
    for (const std::string& Line : Reported(Tree, Out)) EXPECT_TRUE(GoneNow.count(Line)) << Line << " is still there";
    EXPECT_LT(GoneNow.size(), All.size());
  }
}

}  // namespace
}  // namespace kerv::testing
