// The directory sweep: what happens to each entry the walk gives. Dot names
// are hidden, directories are entered with Recurse, and each file that the
// lists select is asked about, removed (or under Simulate only reported),
// reported and counted. The first failure stops the run, with one message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "matching/matching.h"
#include "platform/platform.h"
#include "platform/rules.h"
#include "sweep/walk.h"

namespace kerv {

// What a run's sweep reads and changes: the lists and options that the
// command line set, the answer X, and the counters of the summary.
struct TSweepState {
  explicit TSweepState(const TPathRules& Rules) : Include(Rules), Exclude(Rules) {}

  stringList Include;  // a file must match one of these; empty admits every file
  stringList Exclude;  // a file must match none of these
  bool Recurse = false;
  bool Ask = false;    // cleared by the answer X
  bool Simulate = false;
  std::int64_t DeletedFiles = 0;
  std::int64_t DeletedBytes = 0;
};

class TSweep {
public:
  // The sweep borrows State for the run and changes only Ask and the counters.
  TSweep(TPlatform& Os, const TPathRules& Rules, TSweepState& State) : Os(Os), Rules(Rules), State(State) {}

  // Sweeps Directory (empty: the current directory; otherwise ending in a
  // separator, or a bare drive) and with Recurse its subtree. 0: every
  // entry was dealt with; 1: the run must stop, and the reason is printed.
  int ScanDir(const std::string& Directory);

  // The one message for a failure, on standard error.
  void ShowError(const TFsStatus& Status);

  // Waits for one of the answers to the delete question and returns its
  // upper-case letter: 'Y', 'N', 'X' or 'Q'. The letter is echoed; Ctrl-C
  // is 'Q' without echo, and so is a console that cannot be read.
  char AskKey();

  // Writes to standard output, with Flush everything held before it too.
  // False on a failure, which is reported here, the first time only.
  bool Write(std::string_view Text, bool Flush = false);
  bool OutputLost() const { return Lost; }

private:
  bool IsSelected(std::string_view Name) const;
  int DealWithFile(TWalk& Walk, const TDirEntry& Entry);
  int RemoveAndReport(TDirListing& Dir, const char* Name, const TFileInfo& Info);
  // Line = Head, the printable path of Name in the walk's directory, Tail.
  void SetLine(const char* Head, const TWalk& Walk, std::string_view Name, const char* Tail);

  // Room kept on standard output for the summary: its longest text.
  static constexpr std::size_t SummaryRoom = 128;

  TPlatform& Os;
  const TPathRules& Rules;
  TSweepState& State;
  std::string Line;   // the line in hand, kept to reuse its storage
  bool Lost = false;  // a failure of standard output was already reported
};

// The message for a failure, without its newline.
std::string ErrorMessage(const TFsStatus& Status);

// Appends Name as kerv32 prints a path: where the rules let a name hold any
// byte, a byte below 32, the byte 127 and '\' are written as '\' and three
// octal digits ("\012" for a line feed), so that a line names exactly one
// file and no name reaches the terminal as a control sequence.
void AppendPrintable(std::string& Text, std::string_view Name, const TPathRules& Rules);

// What a run refuses outright: every file under the root, for real.
inline constexpr char RootRefusal[] = "Refusing to delete every file under the root directory";

}  // namespace kerv
