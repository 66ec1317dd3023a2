// The remover object: everything one run needs, from the argument vector to
// the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "matching/matching.h"
#include "platform/platform.h"

namespace kerv {

class TKerv {
public:
  explicit TKerv(TPlatform& Os = NativePlatform());

  // Takes the argument count and vector (the program's own path first) and
  // returns the exit status: -1 the usage text was shown instead of a run,
  // 0 the sweep ran to its end, 1 the run stopped (its message is already
  // printed), and the interrupt handler ends the process with 2.
  int Run(int Argc, const char* const* Argv);

  // The usage text, on standard error.
  void ShowUsage();

  // Sweeps Directory (empty: the current directory; otherwise ending in a
  // separator, or a bare drive) and with Recurse its subtree, dealing with
  // every file that Include and Exclude select. 0: every entry was dealt
  // with; 1: the run must stop, and the reason is already printed.
  int ScanDir(const std::string& Directory);

  // The one message for a failure, on standard error.
  void ShowError(const TFsStatus& Status);

  // Waits for one of the answers to the delete question and returns its
  // upper-case letter: 'Y', 'N', 'X' or 'Q'. The letter is echoed; Ctrl-C
  // is 'Q' without echo, and so is a console that cannot be read.
  char AskKey();

  stringList Include;  // a file must match one of these; empty admits every file
  stringList Exclude;  // a file must match none of these
  bool Recurse = false;
  bool Ask = false;
  bool Simulate = false;
  std::int64_t DeletedFiles = 0;
  std::int64_t DeletedBytes = 0;

private:
  // The state of the argument walk.
  struct TArguments {
    bool IncludeMode = true;       // plain specs go to Include (true) or Exclude
    bool AwaitingBase = true;      // options are recognised only while true
    bool IncludeFromList = false;  // a list file was read into Include
    bool EmptyBase = false;        // the base spec was an empty argument
    bool UsageShown = false;
    std::string BaseSpec;
  };
  int TakeArgument(std::string_view Arg, TArguments& Args);
  int ReadListFile(const std::string& Name, stringList& List);
  int SweepBaseSpec(const TArguments& Args);
  bool IsSelected(const TNameParts& Parts) const;
  // Path holds the directory's path in its first PathLength characters.
  int DealWithFile(TDirListing& Dir, const TDirEntry& Entry, std::string& Path, std::size_t PathLength);
  bool Write(std::string_view Text, bool Flush = false);
  bool TakeOption(std::string_view Arg);
  void WriteSummary(int SweepResult);

  // Room kept on standard output for the summary: its longest text.
  static constexpr std::size_t SummaryRoom = 128;

  TPlatform& Os;
  std::string Line;         // the line in hand, kept to reuse its storage
  bool OutputLost = false;  // a failure of standard output was already reported
};

}  // namespace kerv
