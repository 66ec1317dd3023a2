// The question as a person meets it: the built program on a pseudo-terminal
// that is its controlling terminal, with standard input from /dev/null.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Strings = std::vector<std::string>;

// Where the program's standard output goes: the terminal, a pipe, or a file.
struct TTerminalOptions {
  bool OutPipe = false;
  std::string OutFile;
  bool BlockBatchTimer = false;  // SIGALRM blocked: held lines wait for the next write
};

class TTerminalRun {
public:
  explicit TTerminalRun(const Strings& Args, const TTerminalOptions& Options = {}) {
    EXPECT_EQ(0, ::openpty(&Master, &Slave, nullptr, nullptr, nullptr));
    if (Options.OutPipe) {
      EXPECT_EQ(0, ::pipe(OutPipe));
    }
    EXPECT_EQ(0, ::tcgetattr(Slave, &Before));
    std::string Program = KERV32_PROGRAM;
    std::vector<std::string> Copy = Args;
    std::vector<char*> Argv{Program.data()};
    for (std::string& Arg : Copy) Argv.push_back(Arg.data());
    Argv.push_back(nullptr);
    Child = ::fork();
    if (Child == 0) {
      ::setsid();
      ::ioctl(Slave, TIOCSCTTY, 0);
      if (Options.OutPipe)
        ::dup2(OutPipe[1], 1);
      else if (!Options.OutFile.empty())
        ::dup2(::open(Options.OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      else
        ::dup2(Slave, 1);
      ::dup2(Slave, 2);
      if (Options.BlockBatchTimer) {
        sigset_t Alarm;
        sigemptyset(&Alarm);
        sigaddset(&Alarm, SIGALRM);
        ::sigprocmask(SIG_BLOCK, &Alarm, nullptr);
      }
      const int Null = ::open("/dev/null", O_RDONLY);
      ::dup2(Null, 0);  // the keys must come from the terminal all the same
      ::close(Master);
      ::close(Slave);
      ::execv(Argv[0], Argv.data());
      ::_exit(127);
    }
  }

  ~TTerminalRun() {
    if (Child > 0 && !Waited) {
      ::kill(Child, SIGKILL);
      ::waitpid(Child, nullptr, 0);
    }
    ::close(Master);
    ::close(Slave);
    if (OutPipe[0] >= 0) ::close(OutPipe[0]);
    if (OutPipe[1] >= 0) ::close(OutPipe[1]);
  }

  // Reads standard output's pipe until Text has appeared Times times; false
  // after five seconds.
  bool ReadPipeUntil(const std::string& Text, int Times = 1) {
    if (OutPipe[1] >= 0) {
      ::close(OutPipe[1]);
      OutPipe[1] = -1;
    }
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const auto Count = [&] {
      int Found = 0;
      for (std::size_t At = 0; (At = PipeOutput.find(Text, At)) != std::string::npos; At += Text.size()) ++Found;
      return Found;
    };
    while (Count() < Times) {
      pollfd Wait{OutPipe[0], POLLIN, 0};
      if (std::chrono::steady_clock::now() > Deadline) return false;
      if (::poll(&Wait, 1, 100) <= 0) continue;
      char Buffer[4096];
      const ssize_t Got = ::read(OutPipe[0], Buffer, sizeof Buffer);
      if (Got <= 0) return false;
      PipeOutput.append(Buffer, static_cast<std::size_t>(Got));
    }
    return true;
  }

  // Reads until Text has appeared in the output (carriage returns of the
  // terminal's newline translation removed); false after five seconds.
  bool ReadUntil(const std::string& Text) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Output.find(Text, Consumed) == std::string::npos) {
      if (std::chrono::steady_clock::now() > Deadline || !ReadSome(100)) return false;
    }
    Consumed = Output.find(Text, Consumed) + Text.size();
    return true;
  }

  // Waits until the program sits in its raw-mode read (echo off), so that
  // keys sent now are not echoed by the terminal before it gets them.
  bool WaitForRawMode() {
    for (int I = 0; I < 500; ++I) {
      termios Mode;
      ::tcgetattr(Slave, &Mode);
      if (!(Mode.c_lflag & ECHO)) return true;
      ::usleep(10000);
    }
    return false;
  }

  void Send(const std::string& Keys) { EXPECT_EQ(static_cast<ssize_t>(Keys.size()), ::write(Master, Keys.data(), Keys.size())); }
  void Signal(int Number) { ::kill(Child, Number); }

  // Reads the rest and waits for the program's end: its status, or 128 +
  // the signal that ended it.
  // A program still waiting after ten seconds is killed: -1.
  int Finish() {
    int Status = 0;
    for (int Tries = 0; Tries < 100; ++Tries) {
      while (ReadSome(100)) {
      }
      if (::waitpid(Child, &Status, WNOHANG) == Child) {
        while (ReadSome(0)) {
        }
        Waited = true;
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
      }
    }
    return -1;
  }

  // The terminal's mode is what it was before the program ran.
  bool ModeRestored() {
    termios After;
    ::tcgetattr(Slave, &After);
    return After.c_lflag == Before.c_lflag && After.c_iflag == Before.c_iflag &&
           After.c_cc[VMIN] == Before.c_cc[VMIN] && After.c_cc[VTIME] == Before.c_cc[VTIME];
  }

  std::string Output;
  std::string PipeOutput;

private:
  bool ReadSome(int TimeoutMilliseconds) {
    pollfd Wait{Master, POLLIN, 0};
    if (::poll(&Wait, 1, TimeoutMilliseconds) <= 0) return false;
    char Buffer[4096];
    const ssize_t Got = ::read(Master, Buffer, sizeof Buffer);
    if (Got <= 0) return false;  // the program has closed the terminal
    for (ssize_t I = 0; I < Got; ++I)
      if (Buffer[I] != '\r') Output += Buffer[I];
    return true;
  }

  int Master = -1, Slave = -1;
  int OutPipe[2] = {-1, -1};
  pid_t Child = -1;
  bool Waited = false;
  termios Before{};
  std::size_t Consumed = 0;
};

std::string Question(const TTempTree& Tree, const std::string& File) {
  return "Delete file " + Tree / File + " ? [Yes/No/X/Quit] ";
}

// The file that the question in the output just read is about.
std::string AskedFile(const std::string& Output, const TTempTree& Tree) {
  const std::size_t Start = Output.rfind("Delete file ") + 12 + Tree.Root().size() + 1;
  return Output.substr(Start, Output.rfind(" ? [") - Start);
}

// Each answer in both cases, one file each: y and Y delete, n and N keep.
TEST(Question, AnswersInEitherCase) {
  for (const char* Keys : {"yN", "Yn"}) {
    SCOPED_TRACE(Keys);
    TTempTree Tree;
    Tree.File("a.tmp", 5);
    Tree.File("b.tmp", 7);
    TTerminalRun Run({"-Q", Tree / "*.tmp"});
    std::string Kept;
    for (int I = 0; I < 2; ++I) {
      ASSERT_TRUE(Run.ReadUntil("? [Yes/No/X/Quit] "));
      const std::string File = AskedFile(Run.Output, Tree);
      ASSERT_TRUE(Run.WaitForRawMode());
      Run.Send(std::string(1, Keys[I]));
      const char Echo = static_cast<char>(std::toupper(Keys[I]));
      if (Echo == 'Y') {
        ASSERT_TRUE(Run.ReadUntil(std::string(1, Echo) + "\nFile " + Tree / File + " deleted!\n"));
      } else {
        ASSERT_TRUE(Run.ReadUntil("N\n"));
        Kept = File;
      }
    }
    EXPECT_EQ(0, Run.Finish());
    EXPECT_EQ((Strings{Kept}), Tree.Files());
    EXPECT_NE(std::string::npos, Run.Output.find("\nAction complete!\n\nTotal deleted :      1 files"));
    EXPECT_TRUE(Run.ModeRestored());
  }
}

// Enter, space, a digit, F2 (ESC O Q), a cursor key (ESC [ A) and a long
// sequence (F5: ESC [ 1 5 ~) are ignored without echo or a second question;
// then y answers.
TEST(Question, OtherKeysAreIgnored) {
  TTempTree Tree;
  Tree.File("a.tmp");
  TTerminalRun Run({"-Q", Tree / "*.tmp"});
  ASSERT_TRUE(Run.ReadUntil(Question(Tree, "a.tmp")));
  ASSERT_TRUE(Run.WaitForRawMode());
  Run.Send("\r 7\x1bOQ\x1b[A\x1b[15~");
  ::usleep(200000);
  Run.Send("y");
  EXPECT_EQ(0, Run.Finish());
  EXPECT_EQ(Question(Tree, "a.tmp") + "Y\nFile " + Tree / "a.tmp" + " deleted!\n\nAction complete!\n\n"
            "Total deleted :      1 files        0 bytes\n", Run.Output);
  EXPECT_TRUE(Tree.Files().empty());
  EXPECT_TRUE(Run.ModeRestored());
}

// X in one directory answers for every later one too.
TEST(Question, AllCoversLaterDirectories) {
  TTempTree Tree;
  Tree.File("a.tmp");
  Tree.File("s1/b.tmp");
  Tree.File("s2/deeper/c.tmp");
  Tree.File("s3/d.tmp");
  TTerminalRun Run({"-Q", "-R", Tree / "*.tmp"});
  ASSERT_TRUE(Run.ReadUntil("? [Yes/No/X/Quit] "));
  ASSERT_TRUE(Run.WaitForRawMode());
  Run.Send("x");
  EXPECT_EQ(0, Run.Finish());
  EXPECT_TRUE(Tree.Files().empty());
  std::size_t Questions = 0;
  for (std::size_t P = 0; (P = Run.Output.find("Delete file", P)) != std::string::npos; ++P) ++Questions;
  EXPECT_EQ(1u, Questions);
  EXPECT_NE(std::string::npos, Run.Output.find("Total deleted :      4 files"));
}

// Quit and Ctrl-C stop the run: nothing more goes, "Action incomplete!",
// status 1. Ctrl-C is not echoed.
TEST(Question, QuitAndCtrlC) {
  struct Row { const char* Key; const char* Echo; };
  for (const Row& R : {Row{"q", "Q\n"}, Row{"Q", "Q\n"}, Row{"\x03", ""}}) {
    SCOPED_TRACE(R.Echo);
    TTempTree Tree;
    Tree.File("a.tmp");
    Tree.File("b.tmp");
    TTerminalRun Run({"-Q", Tree / "*.tmp"});
    ASSERT_TRUE(Run.ReadUntil("? [Yes/No/X/Quit] "));
    const std::string First = AskedFile(Run.Output, Tree);
    ASSERT_TRUE(Run.WaitForRawMode());
    Run.Send(R.Key);
    EXPECT_EQ(1, Run.Finish());
    EXPECT_EQ(Question(Tree, First) + R.Echo + "\nAction incomplete!\n\nTotal deleted :      0 files        0 bytes\n",
              Run.Output);
    EXPECT_EQ((Strings{"a.tmp", "b.tmp"}), Tree.Files());
    EXPECT_TRUE(Run.ModeRestored());
  }
}

// Keys typed ahead are kept and answer the next questions in order.
TEST(Question, TypedAheadKeysAnswerInOrder) {
  TTempTree Tree;
  for (const char* F : {"a.tmp", "b.tmp", "c.tmp"}) Tree.File(F);
  TTerminalRun Run({"-Q", Tree / "*.tmp"});
  ASSERT_TRUE(Run.ReadUntil("? [Yes/No/X/Quit] "));
  ASSERT_TRUE(Run.WaitForRawMode());
  Run.Send("nyn");
  EXPECT_EQ(0, Run.Finish());
  Strings Asked;
  for (std::size_t P = 0; (P = Run.Output.find("Delete file ", P)) != std::string::npos; ++P) {
    const std::size_t Start = P + 12 + Tree.Root().size() + 1;
    Asked.push_back(Run.Output.substr(Start, Run.Output.find(" ? [", Start) - Start));
  }
  ASSERT_EQ(3u, Asked.size());
  Strings Kept = {Asked[0], Asked[2]};
  std::sort(Kept.begin(), Kept.end());
  EXPECT_EQ(Kept, Tree.Files());
  EXPECT_TRUE(Run.ModeRestored());
}

// Ctrl-Backslash at the question is Ctrl-Break; signals that end the process
// while it waits leave the terminal as they found it.
TEST(Question, EndingAtTheWaitRestoresTheTerminal) {
  struct Row { const char* What; const char* Key; int Signal; int Status; };
  const Row Rows[] = {{"ctrl-backslash", "\x1c", 0, 2},
                      {"SIGINT", "", SIGINT, 2},
                      {"SIGTERM", "", SIGTERM, 128 + SIGTERM},
                      {"SIGHUP", "", SIGHUP, 128 + SIGHUP}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TTempTree Tree;
    Tree.File("a.tmp");
    TTerminalRun Run({"-Q", Tree / "*.tmp"});
    ASSERT_TRUE(Run.ReadUntil("? [Yes/No/X/Quit] "));
    ASSERT_TRUE(Run.WaitForRawMode());
    if (R.Signal)
      Run.Signal(R.Signal);
    else
      Run.Send(R.Key);
    EXPECT_EQ(R.Status, Run.Finish());
    EXPECT_TRUE(Run.ModeRestored());
    EXPECT_EQ((Strings{"a.tmp"}), Tree.Files());
    if (R.Status == 2) {
      EXPECT_NE(std::string::npos, Run.Output.find("Ctrl-Break pressed! Program aborted"));
    }
  }
}

// Without a terminal nobody can answer: Quit, and a tidy summary.
TEST(SharedQuestion, NoTerminalMeansQuit) {
  TTempTree Tree;
  Tree.File("a.tmp");
  const TRunResult R = RunProgram({"-Q", Tree / "*.tmp"});
  EXPECT_EQ(Question(Tree, "a.tmp") + "\n\nAction incomplete!\n\nTotal deleted :      0 files        0 bytes\n", R.Out);
  EXPECT_EQ(1, R.Status);
  EXPECT_EQ((Strings{"a.tmp"}), Tree.Files());
}

// With -S nothing is asked: the terminal is never read.
TEST(Question, SimulateAsksNothing) {
  TTempTree Tree;
  Tree.File("a.tmp");
  TTerminalRun Run({"-Q", "-S", Tree / "*.tmp"});
  EXPECT_EQ(0, Run.Finish());
  EXPECT_EQ("File " + Tree / "a.tmp" + " deleted!\n\nAction complete!\n\nTotal deleted :      1 files        0 bytes\n",
            Run.Output);
  EXPECT_EQ((Strings{"a.tmp"}), Tree.Files());
}

// The question is on standard output before the key wait begins, whatever
// standard output is. On a pipe, lines go out in batches; the batch timer is
// blocked here, so only the question's own flush can show it.
TEST(Question, SeenBeforeTheWaitOnAPipe) {
  TTempTree Tree;
  Tree.File("a.tmp");
  Tree.File("b.tmp");
  TTerminalOptions Options;
  Options.OutPipe = true;
  Options.BlockBatchTimer = true;
  TTerminalRun Run({"-Q", Tree / "*.tmp"}, Options);
  ASSERT_TRUE(Run.ReadPipeUntil("? [Yes/No/X/Quit] "));
  ASSERT_TRUE(Run.WaitForRawMode());
  Run.Send("n");
  ASSERT_TRUE(Run.ReadPipeUntil("? [Yes/No/X/Quit] ", 2)) << Run.PipeOutput;
  ASSERT_TRUE(Run.WaitForRawMode());
  Run.Send("y");
  EXPECT_EQ(0, Run.Finish());
  EXPECT_EQ(1u, Tree.Files().size());
}

std::string ReadFile(const std::string& Path) {
  std::string Text;
  if (FILE* In = std::fopen(Path.c_str(), "rb")) {
    char Buffer[4096];
    for (std::size_t Got; (Got = std::fread(Buffer, 1, sizeof Buffer, In)) > 0;) Text.append(Buffer, Got);
    std::fclose(In);
  }
  return Text;
}

// Waits until the file at Path holds Text Times times; false after five seconds.
bool FileHas(const std::string& Path, const std::string& Text, int Times) {
  for (int Tries = 0; Tries < 500; ++Tries) {
    const std::string Now = ReadFile(Path);
    int Found = 0;
    for (std::size_t At = 0; (At = Now.find(Text, At)) != std::string::npos; At += Text.size()) ++Found;
    if (Found >= Times) return true;
    ::usleep(10000);
  }
  return false;
}

// Standard output on a regular file has room reserved ahead of its lines;
// however the run ends, that room is given back and the file holds exactly
// the bytes written: here after one deletion, at the next question.
TEST(Question, OutputFileHoldsExactlyItsBytesHoweverTheRunEnds) {
  struct Row { const char* What; const char* Key; int Signal; int Status; const char* Ending; };
  const Row Rows[] = {{"quit", "q", 0, 1, "Q\n\nAction incomplete!\n\nTotal deleted :      1 files        3 bytes\n"},
                      {"ctrl-backslash", "\x1c", 0, 2, ""},
                      {"SIGINT", "", SIGINT, 2, ""},
                      {"SIGTERM", "", SIGTERM, 128 + SIGTERM, ""}};
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.What);
    TTempTree Tree;
    Tree.File("t/a.tmp", 3);
    Tree.File("t/b.tmp", 3);
    const std::string OutPath = Tree / "out";
    TTerminalOptions Options;
    Options.OutFile = OutPath;
    TTerminalRun Run({"-Q", Tree / "t/*.tmp"}, Options);
    ASSERT_TRUE(FileHas(OutPath, "? [Yes/No/X/Quit] ", 1));
    ASSERT_TRUE(Run.WaitForRawMode());
    Run.Send("y");
    ASSERT_TRUE(FileHas(OutPath, "? [Yes/No/X/Quit] ", 2));
    ASSERT_TRUE(Run.WaitForRawMode());
    if (R.Signal)
      Run.Signal(R.Signal);
    else
      Run.Send(R.Key);
    EXPECT_EQ(R.Status, Run.Finish());
    const Strings Left = Tree.Files();
    ASSERT_EQ(2u, Left.size());  // the output file and the file asked about last
    const std::string Gone = Left[1] == "t/a.tmp" ? "t/b.tmp" : "t/a.tmp";
    EXPECT_EQ("Delete file " + Tree / Gone + " ? [Yes/No/X/Quit] Y\nFile " + Tree / Gone + " deleted!\n" +
                  Question(Tree, Left[1]) + R.Ending,
              ReadFile(OutPath));
    struct stat St;
    ASSERT_EQ(0, ::stat(OutPath.c_str(), &St));
    EXPECT_LE(St.st_blocks * 512, (St.st_size + 4095) / 4096 * 4096) << "room left reserved";
    EXPECT_TRUE(Run.ModeRestored());
  }
}

}  // namespace
}  // namespace kerv::testing
