// kerv32.exe on a real Wine console: standard input is a pseudo-terminal
// that is the controlling terminal, so Wine gives the program a console
// whose keys are what is typed on the terminal, and Ctrl-C typed there
// reaches the console control handler. Standard output and error are pipes,
// so that their bytes are exact. Only with KERV32_WINE_PROGRAM set.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>

#include "temp_tree.h"

namespace kerv::testing {
namespace {

using Strings = std::vector<std::string>;

class TConsoleRun {
public:
  explicit TConsoleRun(const Strings& Args) {
    EXPECT_EQ(0, ::openpty(&Master, &Slave, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, ::pipe(OutPipe));
    EXPECT_EQ(0, ::pipe(ErrPipe));
    std::vector<std::string> Words = {"/usr/bin/wine", WineProgram()};
    Words.insert(Words.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (std::string& Word : Words) Argv.push_back(Word.data());
    Argv.push_back(nullptr);
    Child = ::fork();
    if (Child == 0) {
      ::setsid();
      ::ioctl(Slave, TIOCSCTTY, 0);  // so that Ctrl-C typed on it is an interrupt
      ::dup2(Slave, 0);
      ::dup2(OutPipe[1], 1);
      ::dup2(ErrPipe[1], 2);
      for (int Fd = 3; Fd < 64; ++Fd) ::close(Fd);
      ::setenv("WINEDEBUG", "-all", 1);
      ::execv(Argv[0], Argv.data());
      ::_exit(127);
    }
    ::close(Slave);
    ::close(OutPipe[1]);
    ::close(ErrPipe[1]);
  }

  ~TConsoleRun() {
    if (!Waited) {
      ::kill(Child, SIGKILL);
      ::waitpid(Child, nullptr, 0);
    }
    ::close(Master);
    ::close(OutPipe[0]);
    ::close(ErrPipe[0]);
  }

  // Reads until Text has appeared Times times on standard output; false
  // after ten seconds. What the console writes to the terminal is read and
  // dropped, so that it never fills up.
  bool ReadUntil(const std::string& Text, int Times = 1) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Count(Out, Text) < Times) {
      if (std::chrono::steady_clock::now() > Deadline || !ReadSome(100)) {
        if (std::chrono::steady_clock::now() > Deadline) return false;
      }
    }
    return true;
  }

  void Type(const std::string& Keys) { EXPECT_EQ(static_cast<ssize_t>(Keys.size()), ::write(Master, Keys.data(), Keys.size())); }

  // Reads the rest and waits for the end: the status, or -1 when the program
  // is still running after twenty seconds.
  int Finish() {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int Status = 0;
    while (std::chrono::steady_clock::now() < Deadline) {
      ReadSome(50);
      if (::waitpid(Child, &Status, WNOHANG) == Child) {
        Waited = true;
        while (ReadSome(0)) {
        }
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
      }
    }
    return -1;
  }

  // Bytes of standard output that wait in the pipe, unread.
  int Waiting() const {
    int Bytes = 0;
    ::ioctl(OutPipe[0], FIONREAD, &Bytes);
    return Bytes;
  }

  static int Count(const std::string& In, const std::string& Text) {
    int Found = 0;
    for (std::size_t At = 0; (At = In.find(Text, At)) != std::string::npos; At += Text.size()) ++Found;
    return Found;
  }

  std::string Out, Err;
  pid_t Child = -1;

private:
  bool ReadSome(int TimeoutMilliseconds) {
    pollfd Fds[3] = {{OutPipe[0], POLLIN, 0}, {ErrPipe[0], POLLIN, 0}, {Master, POLLIN, 0}};
    if (::poll(Fds, 3, TimeoutMilliseconds) <= 0) return false;
    bool Got = false;
    std::string* Sinks[3] = {&Out, &Err, nullptr};
    for (int I = 0; I < 3; ++I) {
      if (!(Fds[I].revents & POLLIN)) continue;
      char Buffer[65536];
      const ssize_t Read = ::read(Fds[I].fd, Buffer, sizeof Buffer);
      if (Read > 0 && Sinks[I]) Sinks[I]->append(Buffer, static_cast<std::size_t>(Read));
      Got |= Read > 0;
    }
    return Got;
  }

  int Master = -1, Slave = -1;
  int OutPipe[2] = {-1, -1}, ErrPipe[2] = {-1, -1};
  bool Waited = false;
};

std::string Upper(std::string Text) {
  for (char& C : Text) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return Text;
}

constexpr char Prompt[] = " ? [Yes/No/X/Quit] ";

// The files asked about, in order: the listing's order is the disk's.
Strings Asked(const std::string& Out, const std::string& Directory) {
  Strings Files;
  const std::string Head = "Delete file " + Directory;
  for (std::size_t At = 0; (At = Out.find(Head, At)) != std::string::npos; At += Head.size()) {
    const std::size_t Start = At + Head.size();
    Files.push_back(Out.substr(Start, Out.find(Prompt, Start) - Start));
  }
  return Files;
}

// The answers, one key at each question over three files, in either case:
// what is echoed, what goes, and the status.
TEST(WindowsConsole, Answers) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build on a Wine console";
  struct Row { const char* Keys; const char* Echoes; const char* Goes; int Status; };
  const Row Rows[] = {
      {"yNy", "YNY", "yny", 0},
      {"nYn", "NYN", "nyn", 0},
      {"x", "X", "yyy", 0},   // this file and every later one, unasked
      {"Nx", "NX", "nyy", 0},
      {"yq", "YQ", "ynn", 1}, // nothing more goes
      {"Q", "Q", "nnn", 1},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Keys);
    TTempTree Tree;
    for (const char* F : {"a.tmp", "b.tmp", "c.tmp"}) Tree.File(F);
    const std::string Directory = Upper(WindowsPath(Tree.Root())) + "\\";
    TConsoleRun Run({"-Q", WindowsPath(Tree / "*.tmp")});
    for (int I = 0; R.Keys[I]; ++I) {
      ASSERT_TRUE(Run.ReadUntil(Prompt, I + 1)) << Run.Out;
      Run.Type(std::string(1, R.Keys[I]));
    }
    EXPECT_EQ(R.Status, Run.Finish());
    const Strings Files = Asked(Run.Out, Directory);
    ASSERT_EQ(std::strlen(R.Keys), Files.size());
    Strings Left;
    std::string Expected;
    for (std::size_t I = 0; I < 3; ++I) {
      // After X nothing more is asked: the files come in the order of the
      // lines of the files that went.
      const bool Goes = R.Goes[I] == 'y';
      if (I < Files.size()) {
        Expected += "Delete file " + Directory + Files[I] + Prompt + R.Echoes[I] + "\r\n";
        if (Goes) Expected += "File " + Directory + Files[I] + " deleted!\r\n";
        if (!Goes) Left.push_back(Files[I]);
      }
    }
    EXPECT_EQ(Expected, Run.Out.substr(0, Expected.size()));
    const int Gone = static_cast<int>(std::count(R.Goes, R.Goes + 3, 'y'));
    EXPECT_EQ(3 - Gone, static_cast<int>(Tree.Files().size()));
    for (const std::string& F : Left) EXPECT_TRUE(Tree.Exists(F)) << F;
    EXPECT_NE(std::string::npos, Run.Out.find(R.Status ? "\r\nAction incomplete!\r\n" : "\r\nAction complete!\r\n"));
  }
}

// Keys that answer nothing are ignored without echo or a second question:
// Enter, space, a digit, cursor and function keys. Keys typed ahead answer
// the next questions, in order.
TEST(WindowsConsole, OtherKeysAndKeysTypedAhead) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build on a Wine console";
  TTempTree Tree;
  for (const char* F : {"a.tmp", "b.tmp", "c.tmp"}) Tree.File(F);
  const std::string Directory = Upper(WindowsPath(Tree.Root())) + "\\";
  TConsoleRun Run({"-Q", WindowsPath(Tree / "*.tmp")});
  ASSERT_TRUE(Run.ReadUntil(Prompt));
  Run.Type("\r 7\x1b[A\x1bOQ\x1b[15~");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Run.Type("ynY");
  EXPECT_EQ(0, Run.Finish());
  const Strings Files = Asked(Run.Out, Directory);
  ASSERT_EQ(3u, Files.size());
  EXPECT_EQ("Delete file " + Directory + Files[0] + Prompt + "Y\r\nFile " + Directory + Files[0] + " deleted!\r\n" +
                "Delete file " + Directory + Files[1] + Prompt + "N\r\n" +
                "Delete file " + Directory + Files[2] + Prompt + "Y\r\nFile " + Directory + Files[2] + " deleted!\r\n" +
                "\r\nAction complete!\r\n\r\nTotal deleted :      2 files        0 bytes\r\n",
            Run.Out);
  EXPECT_EQ((Strings{Files[1]}), Tree.Files());
}

// Ctrl-C typed while the sweep is blocked on a line whose file is gone
// (standard output is a pipe nobody reads) waits for that line, then ends
// the run with the message and status 2: the lines name exactly the files
// that are gone. A second Ctrl-C while the line still cannot be written
// ends the run at once.
TEST(WindowsConsole, CtrlCKeepsLinesAndRemovalsTogether) {
  if (!WineProgram()) GTEST_SKIP() << "runs the Windows build on a Wine console";
  for (const bool Twice : {false, true}) {
    SCOPED_TRACE(Twice ? "twice" : "once");
    TTempTree Tree;
    std::set<std::string> All;
    for (int I = 0; I < 3000; ++I) {
      const std::string Name = "a-longer-file-name-for-the-lines-" + std::to_string(I) + ".tmp";
      Tree.File("t/" + Name);
      All.insert(Name);
    }
    TConsoleRun Run({WindowsPath(Tree / "t/*.tmp")});
    // Nobody reads standard output until the pipe is full and the sweep waits.
    for (int Tries = 0; Tries < 2000 && Run.Waiting() < 60000; ++Tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(Run.Waiting(), 60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Run.Type("\x03");
    if (Twice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      Run.Type("\x03");
      // Ends without the line in hand being written: nobody reads yet.
      int Status = 0;
      pid_t Ended = 0;
      for (int Tries = 0; Tries < 500 && Ended == 0; ++Tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Ended = ::waitpid(Run.Child, &Status, WNOHANG);
      }
      ASSERT_EQ(Run.Child, Ended) << "a second Ctrl-C did not end the run";
      EXPECT_EQ(2, WEXITSTATUS(Status));
      continue;
    }
    EXPECT_EQ(2, Run.Finish());
    EXPECT_NE(std::string::npos, Run.Err.find("Ctrl-Break pressed! Program aborted"));
    std::set<std::string> Reported;
    const std::string Head = "File " + Upper(WindowsPath(Tree / "t")) + "\\", Tail = " deleted!\r";
    std::size_t Start = 0;
    for (std::size_t End; (End = Run.Out.find('\n', Start)) != std::string::npos; Start = End + 1) {
      const std::string Line = Run.Out.substr(Start, End - Start);
      ASSERT_EQ(0u, Line.rfind(Head, 0)) << Line;
      Reported.insert(Line.substr(Head.size(), Line.size() - Head.size() - Tail.size()));
    }
    EXPECT_EQ("", Run.Out.substr(Start));  // no summary, no torn line
    std::set<std::string> Gone = All;
    for (const std::string& F : Tree.Files()) Gone.erase(F.substr(2));
    EXPECT_EQ(Gone, Reported);
    EXPECT_FALSE(Gone.empty());
    EXPECT_NE(All.size(), Gone.size());
  }
}

}  // namespace
}  // namespace kerv::testing
