#include "temp_tree.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace kerv::testing {

namespace {

void MakeParents(const std::string& Path) {
  for (std::size_t Slash = Path.find('/', 1); Slash != std::string::npos; Slash = Path.find('/', Slash + 1))
    ::mkdir(Path.substr(0, Slash).c_str(), 0755);
}

}  // namespace

TTempTree::TTempTree() {
  char Template[] = "/tmp/kerv32-test-XXXXXX";
  if (!::mkdtemp(Template)) throw std::runtime_error("mkdtemp failed");
  RootPath = Template;
}

TTempTree::~TTempTree() {
  // rm copes with trees deeper than the path limit, which nftw does not.
  const std::string Command = "chmod -R u+rwx '" + RootPath + "' 2>/dev/null; rm -rf '" + RootPath + "'";
  if (std::system(Command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", RootPath.c_str());
}

void TTempTree::File(const std::string& Relative, std::size_t Size, unsigned Mode) {
  const std::string Path = *this / Relative;
  MakeParents(Path);
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (Fd < 0) throw std::runtime_error("cannot create " + Path);
  if (Size > 0 && ::ftruncate(Fd, static_cast<off_t>(Size)) != 0) throw std::runtime_error("ftruncate failed");
  ::close(Fd);
  ::chmod(Path.c_str(), Mode);
}

void TTempTree::Dir(const std::string& Relative) {
  const std::string Path = *this / Relative;
  MakeParents(Path);
  ::mkdir(Path.c_str(), 0755);
}

void TTempTree::Link(const std::string& Relative, const std::string& Target) {
  const std::string Path = *this / Relative;
  MakeParents(Path);
  if (::symlink(Target.c_str(), Path.c_str()) != 0) throw std::runtime_error("symlink failed");
}

bool TTempTree::Exists(const std::string& Relative) const {
  struct stat St;
  return ::lstat((*this / Relative).c_str(), &St) == 0;
}

namespace {
std::vector<std::string>* Collected;
std::size_t PrefixLength;
int CollectFile(const char* Path, const struct stat*, int Type, struct FTW*) {
  if (Type != FTW_D && Type != FTW_DP && Type != FTW_DNR) Collected->push_back(Path + PrefixLength);
  return 0;
}
}  // namespace

std::vector<std::string> TTempTree::Files() const {
  std::vector<std::string> Result;
  Collected = &Result;
  PrefixLength = RootPath.size() + 1;
  ::nftw(RootPath.c_str(), CollectFile, 16, FTW_PHYS);
  std::sort(Result.begin(), Result.end());
  return Result;
}

TStartedProgram StartProgram(const std::vector<std::string>& Args) {
  int OutPipe[2], ErrPipe[2];
  if (::pipe(OutPipe) != 0 || ::pipe(ErrPipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> Words = {KERV32_PROGRAM};
  Words.insert(Words.end(), Args.begin(), Args.end());
  std::vector<char*> Argv;
  for (std::string& Word : Words) Argv.push_back(Word.data());
  Argv.push_back(nullptr);
  const pid_t Child = ::fork();
  if (Child == 0) {
    ::dup2(OutPipe[1], 1);
    ::dup2(ErrPipe[1], 2);
    ::close(OutPipe[0]);
    ::close(ErrPipe[0]);
    ::execv(Argv[0], Argv.data());
    ::_exit(127);
  }
  ::close(OutPipe[1]);
  ::close(ErrPipe[1]);
  return {Child, OutPipe[0], ErrPipe[0]};
}

std::string ReadToEnd(int Fd) {
  std::string Text;
  char Buffer[65536];
  for (ssize_t Got; (Got = ::read(Fd, Buffer, sizeof Buffer)) > 0;) Text.append(Buffer, static_cast<std::size_t>(Got));
  ::close(Fd);
  return Text;
}

int ExitStatus(int WaitStatus) {
  return WIFEXITED(WaitStatus) ? WEXITSTATUS(WaitStatus) : 128 + WTERMSIG(WaitStatus);
}

const char* WineProgram() {
  const char* Exe = std::getenv("KERV32_WINE_PROGRAM");
  return Exe && *Exe ? Exe : nullptr;
}

std::string WindowsPath(const std::string& Path) {
  std::string Result = "Z:" + Path;
  std::replace(Result.begin(), Result.end(), '/', '\\');
  return Result;
}

namespace {

std::string Upper(std::string Text) {
  for (char& C : Text) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return Text;
}

void ReplaceAll(std::string& Text, const std::string& From, const std::string& To) {
  if (From.empty()) return;
  for (std::size_t At = 0; (At = Text.find(From, At)) != std::string::npos; At += To.size())
    Text.replace(At, From.size(), To);
}

// A Windows program's output as its POSIX twin would print it.
void FromWindows(std::string& Text, const std::vector<std::pair<std::string, std::string>>& Paths, std::string& Err) {
  for (std::size_t I = 0; I < Text.size(); ++I)
    if (Text[I] == '\n' && (I == 0 || Text[I - 1] != '\r')) {
      Err += "[a line ended without CR LF]";
      break;
    }
  ReplaceAll(Text, "\r\n", "\n");
  for (const auto& [Windows, Posix] : Paths) ReplaceAll(Text, Windows, Posix);
  // What remains of backslashes are the separators the sweep added.
  std::size_t Line = 0;
  while (Line < Text.size()) {
    std::size_t End = Text.find('\n', Line);
    if (End == std::string::npos) End = Text.size();
    if (Text.compare(Line, 5, "File ") == 0 || Text.compare(Line, 12, "Delete file ") == 0)
      std::replace(Text.begin() + static_cast<std::ptrdiff_t>(Line), Text.begin() + static_cast<std::ptrdiff_t>(End), '\\', '/');
    Line = End + 1;
  }
}

}  // namespace

namespace {

// One run of Argv with the options' directory, output and limits.
TRunResult Launch(std::vector<char*>& Argv, const TRunOptions& Options) {
  int OutPipe[2], ErrPipe[2];
  if (::pipe(OutPipe) != 0 || ::pipe(ErrPipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t Child = ::fork();
  if (Child == 0) {
    if (!Options.Directory.empty() && ::chdir(Options.Directory.c_str()) != 0) ::_exit(120);
    const int OutFd = Options.OutFile.empty()
                          ? OutPipe[1]
                          : ::open(Options.OutFile.c_str(), O_WRONLY | O_CREAT | (Options.AppendOut ? O_APPEND : O_TRUNC), 0644);
    ::dup2(OutFd, 1);
    ::dup2(ErrPipe[1], 2);
    const int Null = ::open("/dev/null", O_RDONLY);
    ::dup2(Null, 0);
    if (Options.DescriptorLimit > 0) {
      const rlimit Limit{static_cast<rlim_t>(Options.DescriptorLimit), static_cast<rlim_t>(Options.DescriptorLimit)};
      ::setrlimit(RLIMIT_NOFILE, &Limit);
    }
    if (Options.FileSizeLimit > 0) {
      const rlimit Limit{static_cast<rlim_t>(Options.FileSizeLimit), static_cast<rlim_t>(Options.FileSizeLimit)};
      ::setrlimit(RLIMIT_FSIZE, &Limit);
    }
    ::signal(SIGXFSZ, Options.IgnoreFileSizeSignal ? SIG_IGN : SIG_DFL);
    // No controlling terminal: the program must never wait for a key here.
    ::setsid();
    for (int Fd = 3; Fd < 64; ++Fd) ::close(Fd);
    ::execv(Argv[0], Argv.data());
    ::_exit(127);
  }
  ::close(OutPipe[1]);
  ::close(ErrPipe[1]);
  TRunResult Result;
  // Read both pipes together, so that neither can fill up and stall the child.
  pollfd Fds[2] = {{OutPipe[0], POLLIN, 0}, {ErrPipe[0], POLLIN, 0}};
  std::string* Sinks[2] = {&Result.Out, &Result.Err};
  int Open = 2;
  while (Open > 0) {
    ::poll(Fds, 2, -1);
    for (int I = 0; I < 2; ++I) {
      if (Fds[I].fd < 0 || !(Fds[I].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char Buffer[65536];
      const ssize_t Got = ::read(Fds[I].fd, Buffer, sizeof Buffer);
      if (Got > 0) {
        Sinks[I]->append(Buffer, static_cast<std::size_t>(Got));
      } else {
        ::close(Fds[I].fd);
        Fds[I].fd = -1;
        --Open;
      }
    }
  }
  int Status = 0;
  rusage Usage{};
  ::wait4(Child, &Status, 0, &Usage);
  Result.PeakKiB = Usage.ru_maxrss;
  Result.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  return Result;
}

}  // namespace

TRunResult RunProgram(const std::vector<std::string>& Args, const TRunOptions& Options) {
  std::string Program = KERV32_PROGRAM;
  std::vector<std::string> Copy = Args;
  std::vector<std::pair<std::string, std::string>> Paths;  // Windows form, POSIX form; longest first
  std::vector<char*> Argv;
  std::string Wine = "/usr/bin/wine", Exe;
  if (const char* WineExe = WineProgram()) {
    Exe = WineExe;
    Argv.push_back(Wine.data());
    Argv.push_back(Exe.data());
    for (std::string& Arg : Copy) {
      const std::size_t At = Arg.find("/tmp/kerv32-test-");
      if (At == std::string::npos) continue;
      const std::string Posix = Arg.substr(At);
      const std::string Directory = Posix.substr(0, Posix.rfind('/') + 1);
      Arg = Arg.substr(0, At) + WindowsPath(Posix);
      Paths.emplace_back(WindowsPath(Posix), Posix);
      Paths.emplace_back(Upper(WindowsPath(Directory)), Directory);
      Paths.emplace_back(WindowsPath(Directory), Directory);
    }
    std::sort(Paths.begin(), Paths.end(), [](const auto& A, const auto& B) { return A.first.size() > B.first.size(); });
    ::setenv("WINEDEBUG", "-all", 1);
  } else {
    Argv.push_back(Program.data());
  }
  for (std::string& Arg : Copy) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);

  TRunResult Result;
  // Now and then Wine fails to start a program at all, with no output: such a
  // launch is tried again. kerv32 itself always prints something.
  for (int Try = 0; Try < 3; ++Try) {
    Result = Launch(Argv, Options);
    if (!WineProgram() || !Result.Out.empty() || !Result.Err.empty()) break;
  }
  if (WineProgram() && !Options.Raw) {
    FromWindows(Result.Out, Paths, Result.Err);
    FromWindows(Result.Err, Paths, Result.Err);
  }
  return Result;
}

}  // namespace kerv::testing
