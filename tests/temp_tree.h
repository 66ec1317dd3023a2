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
};

TRunResult RunProgram(const std::vector<std::string>& Args, const TRunOptions& Options = {});

}  // namespace kerv::testing
