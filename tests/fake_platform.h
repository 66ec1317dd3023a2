// An in-memory platform for the sweep and the driver: a tree of files and
// directories, captured output, and failures on request.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/rules.h"

namespace kerv {

// A '/'-separated path in the platform's own form: '\\' on Windows.
inline std::string Native(std::string Slashed) {
  for (char& C : Slashed)
    if (C == '/') C = NativeRules().Separator;
  return Slashed;
}

// Text as Run makes it of a base spec: upper-cased where the platform's
// file names ignore case.
inline std::string AsBase(std::string Text) {
  if (NativeRules().UpperCaseBaseSpec)
    for (char& C : Text)
      if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return Text;
}

// The fake's tree: paths use either separator, a drive ("C:") is skipped,
// and names compare without regard to case where the platform's do.
class TFakePlatform final : public TPlatform {
public:
  struct TNode {
    bool IsDirectory = false;
    bool IsLink = false;       // a link to a directory: listed as a non-directory entry
    bool MountRoot = false;    // another file system's root: never entered
    bool ReadOnly = false;
    bool Gone = false;
    std::uint64_t Size = 0;
    std::vector<std::pair<std::string, std::unique_ptr<TNode>>> Children;  // in listing order
  };

  TFakePlatform();

  // Paths use '/' and are relative to the fake's root; parents are made.
  TNode& AddFile(const std::string& Path, std::uint64_t Size = 0);
  TNode& AddDir(const std::string& Path);
  bool Exists(const std::string& Path) const;

  void FailRemove(const std::string& Path, TFsError Error, int Code = 0) { RemoveFailures[Native(Path)] = {Error, Code}; }
  void FailOpen(const std::string& Path, TFsError Error, int Code = 0) { OpenFailures[Native(Path)] = {Error, Code}; }
  // The listing fails where the entry Path would come.
  void FailListingAt(const std::string& Path, TFsError Error, int Code = 0) { NextFailures[Native(Path)] = {Error, Code}; }
  void FailInspect(const std::string& Path, TFsError Error, int Code = 0) { InspectFailures[Native(Path)] = {Error, Code}; }
  // The directory Path cannot give its handle back, or take it again when
  // its child is closed.
  void FailRelease(const std::string& Path, TFsError Error, int Code = 0) { ReleaseFailures[Native(Path)] = {Error, Code}; }
  void FailReacquire(const std::string& Path, TFsError Error, int Code = 0) { ReacquireFailures[Native(Path)] = {Error, Code}; }
  // Standard output fails while Path is inspected, as a batch written in
  // the background would: nothing the sweep writes fails by itself.
  void LoseOutputAt(const std::string& Path, TFsError Error, int Code) { LossPath = Native(Path); LossFailure = {Error, Code}; }
  // Standard output fails from the Count-th write on.
  void FailWritesFrom(int Count, TFsError Error, int Code) { WriteFailAt = Count; WriteFailure = {Error, Code}; }
  // Room on standard output cannot be had from the Count-th reservation on.
  void FailReservationsFrom(int Count, TFsError Error, int Code) { ReserveFailAt = Count; ReserveFailure = {Error, Code}; }
  // An interrupt arrives the moment Path has been removed. As with the real
  // handler, it takes effect at once unless a hold is in force, and then
  // when the hold ends.
  void InterruptOnRemove(const std::string& Path) { InterruptPath = Native(Path); }

  // Input files by name; reading one fails after its text when Broken.
  struct TInput { std::string Text; bool Broken = false; };
  std::map<std::string, TInput> Inputs;
  std::string Cwd;  // the root unless set
  std::deque<int> Keys;  // key presses to come; then NoKey
  int KeysRead = 0;

  std::vector<std::string> Removed;  // paths, in order of removal
  std::string Out;
  std::string Err;
  // Where the real handler would have ended the process: what standard
  // output held and what was removed by then. The fake lets the run go on.
  void TakeInterrupt();
  bool Interrupted = false;
  std::string OutAtInterrupt;
  std::vector<std::string> RemovedAtInterrupt;
  int HeldNow = 0;                   // directory handles held at the moment
  int HeldMost = 0;
  int HandlerInstalls = 0;
  int HandlerRestores = 0;

  std::unique_ptr<TDirListing> OpenDir(const std::string& Path, TFsStatus& Status) override;
  std::unique_ptr<TInputFile> OpenInput(const std::string& Name, TFsStatus& Status) override;
  TFsStatus CurrentDirectory(std::string& Path) override {
    Path = Cwd;
    return {};
  }
  int ReadKey() override {
    ++KeysRead;
    if (Keys.empty()) return NoKey;
    const int Key = Keys.front();
    Keys.pop_front();
    return Key;
  }
  bool WriteOut(std::string_view Text) override;
  bool FlushOut() override { return !OutFailure.Failed(); }
  TFsStatus ReserveOut(std::size_t Length) override;
  TFsStatus OutputError() const override { return OutFailure; }
  // As the platforms do: what standard output did not take comes first.
  void WriteErr(std::string_view Text) override {
    Err += Lost;
    Lost.clear();
    Err += Text;
  }
  int Reservations = 0;
  std::size_t ReservedMost = 0;  // the largest Length asked for
  void InstallBreakHandler() override { ++HandlerInstalls; }
  void RestoreBreakHandler() override { ++HandlerRestores; }

protected:
  void HoldInterrupts() override { ++HoldDepth; }
  void ReleaseInterrupts() override;

private:
  friend class TFakeListing;
  TNode* Find(const std::string& Path) const;
  TNode& Make(const std::string& Path, bool IsDirectory);

  std::unique_ptr<TNode> Root;
  std::map<std::string, TFsStatus> RemoveFailures;
  std::map<std::string, TFsStatus> OpenFailures;
  std::map<std::string, TFsStatus> NextFailures;
  std::map<std::string, TFsStatus> InspectFailures;
  std::map<std::string, TFsStatus> ReleaseFailures;
  std::map<std::string, TFsStatus> ReacquireFailures;
  std::string LossPath;
  TFsStatus LossFailure;
  int Writes = 0;
  int WriteFailAt = -1;
  TFsStatus WriteFailure;
  TFsStatus OutFailure;
  std::string Lost;  // text of a failed write, for standard error
  int ReserveFailAt = -1;
  TFsStatus ReserveFailure;
  std::string InterruptPath;
  bool InterruptPending = false;
  int HoldDepth = 0;
};

}  // namespace kerv
