// The remover object: everything one run needs, from the argument vector to
// the exit status.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/rules.h"
#include "sweep/sweep.h"

namespace kerv {

// The lists, options and counters (TSweepState) are members of the remover,
// which lends them to its sweep for the run.
class TKerv : public TSweepState {
public:
  explicit TKerv(TPlatform& Os = NativePlatform(), const TPathRules& Rules = NativeRules());

  // Takes the argument count and vector (the program's own path first) and
  // returns the exit status: -1 the usage text was shown instead of a run,
  // 0 the sweep ran to its end, 1 the run stopped (its message is already
  // printed), and the interrupt handler ends the process with 2.
  int Run(int Argc, const char* const* Argv);

  // The usage text, on standard error.
  void ShowUsage();

  // The sweep's operations, as the run uses them (see TSweep).
  int ScanDir(const std::string& Directory) { return Sweep.ScanDir(Directory); }
  void ShowError(const TFsStatus& Status) { Sweep.ShowError(Status); }
  char AskKey() { return Sweep.AskKey(); }

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
  bool StartsOption(std::string_view Arg) const;
  bool TakeOption(std::string_view Arg);
  int ReadListFile(const std::string& Name, stringList& List);
  int SweepBaseSpec(const TArguments& Args);
  void WriteSummary(int SweepResult);

  TPlatform& Os;
  const TPathRules& Rules;
  TSweep Sweep;
  std::string Line;  // the text in hand, kept to reuse its storage
};

}  // namespace kerv
