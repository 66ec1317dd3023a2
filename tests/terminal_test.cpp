// The question as a person meets it: the built program on a pseudo-terminal
// that is its controlling terminal, with standard input from /dev/null.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>

#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Strings = std::vector<std::string>;

class TTerminalRun {
public:
  explicit TTerminalRun(const Strings& Args) {
    EXPECT_EQ(0, ::openpty(&Master, &Slave, nullptr, nullptr, nullptr));
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
      ::dup2(Slave, 1);
      ::dup2(Slave, 2);
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
TEST(Question, NoTerminalMeansQuit) {
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

}  // namespace
}  // namespace kerv::testing
