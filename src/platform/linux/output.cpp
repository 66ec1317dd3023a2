// Standard output, standard error and the signals that may end the process.
// Linux calls only; nothing here decides what is deleted.
//
// Everything a signal handler touches lives here. The main program changes
// the output buffer only inside a hold; a handler that finds a hold in force
// leaves a note and returns, and the end of the hold acts on the note. So a
// handler always finds the buffer whole, and no signal ever falls between a
// removal and its report line.
//
// Lines are the user's record of what is gone, so none may be lost once its
// file is: on a regular file, room for the lines held back is reserved on
// the disk before the files they name are removed; where nothing can be
// reserved, each line is written before the next removal; and bytes that a
// failed write leaves over go to standard error, before the message that
// reports the failure.

#include <fcntl.h>
#include <linux/falloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/linux/linux.h"

namespace kerv::os {

namespace {

constexpr std::size_t OutCapacity = 64 * 1024;
char OutBuffer[OutCapacity];
volatile std::size_t OutLength = 0;
volatile sig_atomic_t OutErrno = 0;       // the first failed write's error
// What a failed write left unwritten, from the start of its line.
volatile std::size_t LostStart = 0;
volatile std::size_t LostLength = 0;
volatile sig_atomic_t HoldDepth = 0;
// An ending signal that waits for the end of a hold, or is being taken: a
// second one then ends the process at once.
volatile sig_atomic_t PendingSignal = 0;
volatile sig_atomic_t FlushDue = 0;       // the batch timer fired during a hold
volatile sig_atomic_t TimerArmed = 0;
volatile sig_atomic_t WroteOnce = 0;      // a write to standard output has succeeded
bool AlarmHandlerSet = false;

// How lines reach standard output.
enum TOutKind {
  Stream,        // a terminal (line by line), a pipe or a device (in batches)
  Reserving,     // a regular file: in batches, their room reserved ahead
  WriteThrough,  // a regular file that takes no reservation: line by line
};
TOutKind OutKind = Stream;
bool OutToTerminal = false;
bool OutAppends = false;  // O_APPEND: every write lands at the end of the file
std::uint64_t FileSizeLimit = UINT64_MAX;  // RLIMIT_FSIZE, which a reservation does not check
// Where the next byte written to a regular file lands, while PositionKnown;
// a write to standard error may share the file, and makes it unknown.
volatile std::uint64_t OutPosition = 0;
volatile sig_atomic_t PositionKnown = 0;
// Room is reserved up to this offset; 0 when none was ever reserved.
volatile std::uint64_t ReservedEnd = 0;

constexpr char BreakMessage[] = "Ctrl-Break pressed! Program aborted";

// A batch of lines waits at most this long, so that a program reading them
// through a pipe still sees them as they come.
constexpr suseconds_t BatchDelayMicroseconds = 100000;

// Writes Length bytes; Written says how many went when it fails.
// Async-signal-safe.
bool WriteAll(int Fd, const char* Data, std::size_t Length, int& Error, std::size_t& Written) {
  Written = 0;
  while (Written < Length) {
    const ssize_t Got = RetryOnEintr([&] { return ::write(Fd, Data + Written, Length - Written); });
    if (Got < 0) {
      Error = errno;
      return false;
    }
    Written += static_cast<std::size_t>(Got);
  }
  return true;
}

// Async-signal-safe.
void WriteErrBytes(const char* Data, std::size_t Length) {
  int Ignored = 0;
  std::size_t Written = 0;
  WriteAll(STDERR_FILENO, Data, Length, Ignored, Written);
}

// Where the unwritten part of Data starts when Written bytes went: at the
// start of the line it cuts, so that the line is found whole on one stream.
// Async-signal-safe.
std::size_t LineStart(const char* Data, std::size_t Written) {
  while (Written > 0 && Data[Written - 1] != '\n') --Written;
  return Written;
}

// Writes the buffer. Called inside a hold, or from a handler that found
// none; async-signal-safe.
void FlushBuffer() {
  const std::size_t Length = OutLength;
  OutLength = 0;
  TimerArmed = 0;
  if (Length == 0 || OutErrno != 0) return;
  int Error = 0;
  std::size_t Written = 0;
  if (WriteAll(STDOUT_FILENO, OutBuffer, Length, Error, Written)) {
    WroteOnce = 1;
    OutPosition = OutPosition + Length;
    return;
  }
  OutErrno = Error;
  LostStart = LineStart(OutBuffer, Written);
  LostLength = Length - LostStart;
}

// Lines that a failed write left over go to standard error. Async-signal-safe.
void WriteLost() {
  const std::size_t Length = LostLength;
  LostLength = 0;
  if (Length > 0) WriteErrBytes(OutBuffer + LostStart, Length);
}

// Gives back the room reserved past the end of the output file, so that it
// holds exactly the bytes written. Async-signal-safe.
void ReleaseReservation() {
  if (ReservedEnd == 0) return;
  ReservedEnd = 0;
  struct stat St;
  if (::fstat(STDOUT_FILENO, &St) != 0 || !S_ISREG(St.st_mode)) return;
  // Bytes past our own end were written by someone else: the room stays
  // rather than cut them. (An O_APPEND file's end is always ours.)
  if (!OutAppends && ::lseek(STDOUT_FILENO, 0, SEEK_CUR) != St.st_size) return;
  // Cutting a file to its own size frees the blocks allocated past its end.
  ::ftruncate(STDOUT_FILENO, St.st_size);
}

// Whether standard error takes a short message now, without waiting: a pipe
// that nobody reads must not hold up a process that is told to end.
bool ErrorTakesMessageNow() {
  pollfd Wait{STDERR_FILENO, POLLOUT, 0};
  return ::poll(&Wait, 1, 0) == 1 && (Wait.revents & POLLOUT);
}

// Ends the process for Signal. Ctrl-C and Ctrl-\ are the console's two
// interrupt keys: the message and status 2. Every other signal takes its
// default action. Async-signal-safe.
[[noreturn]] void EndProcess(int Signal, bool MayWait) {
  if (Signal == SIGINT || Signal == SIGQUIT) {
    if (MayWait || ErrorTakesMessageNow()) WriteErrBytes(BreakMessage, sizeof BreakMessage - 1);
    ::_exit(2);
  }
  ::signal(Signal, SIG_DFL);
  sigset_t Set;
  sigemptyset(&Set);
  sigaddset(&Set, Signal);
  ::sigprocmask(SIG_UNBLOCK, &Set, nullptr);
  ::raise(Signal);
  ::_exit(128 + Signal);
}

}  // namespace

// Ends the process for Signal, after writing what is held for standard
// output. Async-signal-safe.
[[noreturn]] void TakeSignal(int Signal) {
  // From here on a second signal ends the process at once: the writes below
  // may wait for a reader that never comes.
  PendingSignal = Signal;
  HoldDepth = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  RestoreTerminal();
  FlushBuffer();
  WriteLost();
  ReleaseReservation();
  EndProcess(Signal, true);
}

namespace {

// A second ending signal while the first waits for a line that cannot be
// written yet: the process ends now, writing nothing that might wait.
// Async-signal-safe.
[[noreturn]] void TakeSignalNow(int Signal) {
  RestoreTerminal();
  ReleaseReservation();
  EndProcess(Signal, false);
}

}  // namespace

// The main program's side of the hold; a handler that finds one in force
// leaves a note, which Unhold acts on. Both async-signal-safe.
void Hold() {
  HoldDepth = HoldDepth + 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void Unhold() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  HoldDepth = HoldDepth - 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (HoldDepth != 0) return;
  if (FlushDue) {
    FlushDue = 0;
    Hold();
    FlushBuffer();
    Unhold();
  }
  if (const int Signal = PendingSignal) TakeSignal(Signal);
}

namespace {

// The handler of the ending signals. Async-signal-safe.
extern "C" void OnEndingSignal(int Signal) {
  if (PendingSignal != 0) TakeSignalNow(Signal);
  if (HoldDepth != 0) {
    PendingSignal = Signal;
    return;
  }
  TakeSignal(Signal);
}

// The batch timer's handler: held lines are written at most this late.
// Async-signal-safe.
extern "C" void OnBatchTimer(int) {
  if (HoldDepth != 0) {
    FlushDue = 1;
    return;
  }
  const int SavedErrno = errno;
  // A hold of its own: an ending signal that comes while the batch is being
  // written waits for it, like one that comes during any other write.
  Hold();
  FlushBuffer();
  Unhold();
  errno = SavedErrno;
}

// The signals that end the process. Their handlers, and the batch timer's,
// block every other signal but these: a second ending signal must get
// through while a write waits for a reader.
constexpr int EndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Async-signal-safe.
void BlockAllButEnding(sigset_t& Mask) {
  sigfillset(&Mask);
  for (const int Signal : EndingSignals) sigdelset(&Mask, Signal);
}

// Not signal-safe: the main program's, inside a hold.
void ArmBatchTimer() {
  if (!AlarmHandlerSet) {
    struct sigaction Action {};
    Action.sa_handler = OnBatchTimer;
    Action.sa_flags = SA_RESTART;
    BlockAllButEnding(Action.sa_mask);
    ::sigaction(SIGALRM, &Action, nullptr);
    AlarmHandlerSet = true;
  }
  itimerval Delay{};
  Delay.it_value.tv_usec = BatchDelayMicroseconds;
  ::setitimer(ITIMER_REAL, &Delay, nullptr);
  TimerArmed = 1;
}

// At the end of a run and at exit: lines still held are written, and the
// room reserved for them is given back. Not signal-safe: the main program's.
extern "C" void FlushAtExit() {
  Hold();
  FlushBuffer();
  WriteLost();
  ReleaseReservation();
  Unhold();
}

// Where the next byte written to standard output lands. Not signal-safe:
// the main program's, inside a hold.
bool QueryPosition(int& Error) {
  std::uint64_t Position;
  if (OutAppends) {
    struct stat St;
    if (::fstat(STDOUT_FILENO, &St) != 0) {
      Error = errno;
      return false;
    }
    Position = static_cast<std::uint64_t>(St.st_size);
  } else {
    const off_t At = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    if (At < 0) {
      Error = errno;
      return false;
    }
    Position = static_cast<std::uint64_t>(At);
  }
  OutPosition = Position;
  PositionKnown = 1;
  return true;
}

// Makes sure that Length more bytes after those held will be kept once
// written. Not signal-safe: the main program's, inside a hold.
int Reserve(std::size_t Length) {
  if (OutErrno != 0) return OutErrno;
  if (OutKind == Stream) return 0;
  int Error = 0;
  if (!PositionKnown && !QueryPosition(Error)) return Error;
  const std::uint64_t Need = OutPosition + OutLength + Length;
  // The kernel would cut the write short there (SIGXFSZ, or EFBIG).
  if (Need > FileSizeLimit) return EFBIG;
  if (OutKind == WriteThrough || Need <= ReservedEnd) return 0;
  // A batch's worth more than is needed, so that a reservation is made
  // about once a batch; only what is needed when the disk has no more.
  std::uint64_t Want = Need + OutCapacity < FileSizeLimit ? Need + OutCapacity : FileSizeLimit;
  for (;;) {
    const auto From = static_cast<off_t>(OutPosition);
    if (RetryOnEintr([&] { return ::fallocate(STDOUT_FILENO, FALLOC_FL_KEEP_SIZE, From, static_cast<off_t>(Want) - From); }) == 0) {
      ReservedEnd = Want;
      return 0;
    }
    if ((errno == ENOSPC || errno == EDQUOT) && Want > Need) {
      Want = Need;
      continue;
    }
    if (errno == EOPNOTSUPP || errno == ENOSYS) {
      // This file system reserves nothing: every line from now on is
      // written before the next removal.
      OutKind = WriteThrough;
      FlushBuffer();
      return OutErrno;
    }
    return errno;
  }
}

struct TSavedAction {
  int Signal;
  struct sigaction Action;
  bool Replaced;
};
TSavedAction SavedActions[] = {{SIGINT, {}, false}, {SIGQUIT, {}, false},
                               {SIGTERM, {}, false}, {SIGHUP, {}, false},
                               {SIGPIPE, {}, false}};

}  // namespace

// ---------------------------------------------------------------------------
// What the platform offers: the main program's side, none of it called from
// a handler (not signal-safe), each inside a hold where it touches what a
// handler may.

void SetUpOutput() {
  OutToTerminal = ::isatty(STDOUT_FILENO) == 1;
  struct stat St;
  if (::fstat(STDOUT_FILENO, &St) == 0 && S_ISREG(St.st_mode)) {
    OutKind = Reserving;
    const int Flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    OutAppends = Flags >= 0 && (Flags & O_APPEND);
    rlimit Limit;
    if (::getrlimit(RLIMIT_FSIZE, &Limit) == 0 && Limit.rlim_cur != RLIM_INFINITY)
      FileSizeLimit = static_cast<std::uint64_t>(Limit.rlim_cur);
  }
  std::atexit(FlushAtExit);
}

bool WriteOut(std::string_view Text) {
  Hold();
  if (OutErrno == 0) {
    if (OutLength + Text.size() > OutCapacity) FlushBuffer();
    if (Text.size() > OutCapacity) {
      int Error = 0;
      std::size_t Written = 0;
      if (OutErrno == 0) {
        if (WriteAll(STDOUT_FILENO, Text.data(), Text.size(), Error, Written)) {
          OutPosition = OutPosition + Text.size();
        } else {
          OutErrno = Error;
          const std::size_t Start = LineStart(Text.data(), Written);
          WriteErrBytes(Text.data() + Start, Text.size() - Start);
        }
      }
    } else {
      std::memcpy(OutBuffer + OutLength, Text.data(), Text.size());
      OutLength = OutLength + Text.size();
      // A person watching a terminal sees each line as it happens. The
      // first line is written at once too: a closed pipe then stops the
      // run after one removal, not after a batch.
      if (OutToTerminal || OutKind == WriteThrough || !WroteOnce)
        FlushBuffer();
      else if (!TimerArmed && OutLength > 0)
        ArmBatchTimer();
    }
  }
  const bool Written = OutErrno == 0;
  Unhold();
  return Written;
}

bool FlushOut() {
  Hold();
  FlushBuffer();
  const bool Written = OutErrno == 0;
  Unhold();
  return Written;
}

int ReserveOut(std::size_t Length) {
  Hold();
  const int Error = Reserve(Length);
  Unhold();
  return Error;
}

int OutputErrno() { return OutErrno; }

void WriteErr(std::string_view Text) {
  Hold();
  FlushBuffer();
  WriteLost();
  WriteErrBytes(Text.data(), Text.size());
  // Standard error may be the same file: the next byte of standard output
  // lands where this text ended.
  PositionKnown = 0;
  Unhold();
}

void InstallSignalHandlers() {
  struct sigaction Action {};
  Action.sa_handler = OnEndingSignal;
  // A second ending signal must reach the handler while the first is still
  // writing what is held.
  Action.sa_flags = SA_RESTART | SA_NODEFER;
  BlockAllButEnding(Action.sa_mask);
  for (TSavedAction& Saved : SavedActions) {
    if (::sigaction(Saved.Signal, nullptr, &Saved.Action) != 0) continue;
    // A hang-up or termination ignored by whoever started us (nohup) stays
    // ignored.
    const bool Ignored = Saved.Action.sa_handler == SIG_IGN;
    if ((Saved.Signal == SIGTERM || Saved.Signal == SIGHUP) && Ignored) continue;
    if (Saved.Signal == SIGPIPE) {
      // A closed pipe must be an error the sweep sees, not a silent death.
      struct sigaction Ignore {};
      Ignore.sa_handler = SIG_IGN;
      Saved.Replaced = ::sigaction(SIGPIPE, &Ignore, nullptr) == 0;
      continue;
    }
    Saved.Replaced = ::sigaction(Saved.Signal, &Action, nullptr) == 0;
  }
}

void RestoreSignalHandlers() {
  FlushAtExit();
  for (TSavedAction& Saved : SavedActions)
    if (Saved.Replaced) {
      ::sigaction(Saved.Signal, &Saved.Action, nullptr);
      Saved.Replaced = false;
    }
}

}  // namespace kerv::os
