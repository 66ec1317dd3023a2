// Real directory trees in a fresh temporary directory, and the built program
// run over them, for the tests that need a real disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kerv::testing {

class TTempTree {
public:
  TTempTree();
  ~TTempTree();
  TTempTree(const TTempTree&) = delete;
  TTempTree& operator=(const TTempTree&) = delete;

  const std::string& Root() const { return RootPath; }
  std::string operator/(const std::string& Relative) const { return RootPath + "/" + Relative; }

  // Relative paths; parents are made as needed.
  void File(const std::string& Relative, std::size_t Size = 0, unsigned Mode = 0644);
  void Dir(const std::string& Relative);
  void Link(const std::string& Relative, const std::string& Target);
  bool Exists(const std::string& Relative) const;
  // Every entry that is not a directory, relative and sorted.
  std::vector<std::string> Files() const;

private:
  std::string RootPath;
};

struct TRunResult {
  std::string Out;
  std::string Err;
  int Status = -1;  // the exit status, or 128 + the signal that ended it
  long PeakKiB = 0;  // peak resident memory
};

struct TRunOptions {
  std::string Directory;        // working directory; empty: this one
  std::string OutFile;          // standard output to this file instead of a pipe
  long DescriptorLimit = 0;     // RLIMIT_NOFILE when not 0
  bool Raw = false;             // a Windows program's output as it is, untranslated
  bool AppendOut = false;       // OutFile opened for appending, its text kept
  long FileSizeLimit = 0;       // RLIMIT_FSIZE in bytes when not 0
  bool IgnoreFileSizeSignal = false;  // SIGXFSZ ignored: a write past the limit fails with EFBIG
};

// Runs the program. With KERV32_WINE_PROGRAM set to a kerv32.exe, that
// program runs under Wine instead, and what differs on Windows is
// translated both ways, so that one test serves both: arguments under the
// temporary directory become "Z:\\..." paths, and in the output the
// upper-cased directories and backslashes become those paths again and
// every CR LF a newline. A bare newline in a Windows program's output is a
// fault, reported in Err.
TRunResult RunProgram(const std::vector<std::string>& Args, const TRunOptions& Options = {});

// The program started with standard output and error on pipes of their
// own, which the caller reads, or leaves unread to stall the program.
struct TStartedProgram {
  int Child = -1;  // the process
  int Out = -1;    // the read ends of the pipes
  int Err = -1;
};
TStartedProgram StartProgram(const std::vector<std::string>& Args);
// Reads Fd to its end, then closes it.
std::string ReadToEnd(int Fd);
// What waitpid's status says: the exit status, or 128 + the signal.
int ExitStatus(int WaitStatus);

// The kerv32.exe the tests run under Wine, or null: they run kerv32.
const char* WineProgram();
// A path under the temporary directory as Wine's Windows programs name it.
std::string WindowsPath(const std::string& Path);

}  // namespace kerv::testing
