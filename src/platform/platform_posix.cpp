// POSIX calls only; nothing here decides what is deleted. Each operation
// makes its call and turns the error into a meaning.
#include "platform/platform.h"
#include "platform/rules.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <poll.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kerv {

namespace {

TFsStatus FromErrno(int Error) {
  switch (Error) {
    case 0: return {};
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:  // no file can have such a name
    case ELOOP:
      return {TFsError::NotFound, Error};
    case EACCES:
    case EPERM:
    case EROFS:
      return {TFsError::AccessDenied, Error};
    case ENODEV:
    case ENXIO:
      return {TFsError::NoDevice, Error};
    case EBUSY:
      return {TFsError::Busy, Error};
    default:
      return {TFsError::Other, Error};
  }
}

// ---------------------------------------------------------------------------
// Standard output, standard error and the signals that may end the process.
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

// The terminal that answers questions, and its mode while a key is awaited
// in raw mode: every way out of the process puts the saved mode back.
int TerminalFd = -1;
bool TerminalTried = false;
termios TerminalMode;
volatile sig_atomic_t TerminalRaw = 0;

// Async-signal-safe.
void RestoreTerminal() {
  if (TerminalRaw) {
    ::tcsetattr(TerminalFd, TCSANOW, &TerminalMode);
    TerminalRaw = 0;
  }
}

constexpr char BreakMessage[] = "Ctrl-Break pressed! Program aborted";

// A batch of lines waits at most this long, so that a program reading them
// through a pipe still sees them as they come.
constexpr suseconds_t BatchDelayMicroseconds = 100000;

// Writes Length bytes; Written says how many went when it fails.
// Async-signal-safe.
bool WriteAll(int Fd, const char* Data, std::size_t Length, int& Error, std::size_t& Written) {
  Written = 0;
  while (Written < Length) {
    const ssize_t Got = ::write(Fd, Data + Written, Length - Written);
    if (Got < 0) {
      if (errno == EINTR) continue;
      Error = errno;
      return false;
    }
    Written += static_cast<std::size_t>(Got);
  }
  return true;
}

void WriteErrBytes(const char* Data, std::size_t Length) {
  int Ignored = 0;
  std::size_t Written = 0;
  WriteAll(STDERR_FILENO, Data, Length, Ignored, Written);
}

// Where the unwritten part of Data starts when Written bytes went: at the
// start of the line it cuts, so that the line is found whole on one stream.
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
  // Cutting a file to its own size frees the blocks allocated past its end.
  if (::fstat(STDOUT_FILENO, &St) == 0 && S_ISREG(St.st_mode)) ::ftruncate(STDOUT_FILENO, St.st_size);
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

// A second ending signal while the first waits for a line that cannot be
// written yet: the process ends now, writing nothing that might wait.
[[noreturn]] void TakeSignalNow(int Signal) {
  RestoreTerminal();
  ReleaseReservation();
  EndProcess(Signal, false);
}

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

extern "C" void OnEndingSignal(int Signal) {
  if (PendingSignal != 0) TakeSignalNow(Signal);
  if (HoldDepth != 0) {
    PendingSignal = Signal;
    return;
  }
  TakeSignal(Signal);
}

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

void BlockAllButEnding(sigset_t& Mask) {
  sigfillset(&Mask);
  for (const int Signal : EndingSignals) sigdelset(&Mask, Signal);
}

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
// room reserved for them is given back.
void FlushAtExit() {
  Hold();
  FlushBuffer();
  WriteLost();
  ReleaseReservation();
  Unhold();
}

// Where the next byte written to standard output lands.
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
// written. Inside a hold.
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
    const std::uint64_t From = OutPosition;
    if (::fallocate(STDOUT_FILENO, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(From), static_cast<off_t>(Want - From)) == 0) {
      ReservedEnd = Want;
      return 0;
    }
    if (errno == EINTR) continue;
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

// ---------------------------------------------------------------------------
// Directory listings.

constexpr std::size_t ListingBufferSize = 32 * 1024;

struct TIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  bool MountRoot = false;
};

bool Identify(int Fd, TIdentity& Id, int& Error) {
#ifdef STATX_ATTR_MOUNT_ROOT
  struct statx Stx;
  if (::statx(Fd, "", AT_EMPTY_PATH, STATX_INO, &Stx) == 0) {
    Id.Device = makedev(Stx.stx_dev_major, Stx.stx_dev_minor);
    Id.Inode = Stx.stx_ino;
    Id.MountRoot = (Stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                   (Stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
  }
  if (errno != ENOSYS) {
    Error = errno;
    return false;
  }
#endif
  struct stat St;
  if (::fstat(Fd, &St) != 0) {
    Error = errno;
    return false;
  }
  Id.Device = St.st_dev;
  Id.Inode = St.st_ino;
  return true;
}

// Entries kept after Release: a type byte, the name and its terminator.
constexpr char SavedDirectory = 'd';
constexpr char SavedOther = '-';

class TPosixListing final : public TDirListing {
public:
  // Parent: the listing this one was opened from, which outlives it; null
  // for the top of a walk.
  TPosixListing(int Fd, const TIdentity& Id, TPosixListing* Parent = nullptr) : Fd(Fd), Id(Id), Parent(Parent) {}
  ~TPosixListing() override {
    if (Fd >= 0) ::close(Fd);
  }

  bool Next(TDirEntry& Entry, TFsStatus& Status) override {
    if (FromSaved) return NextSaved(Entry);
    if (Pos >= End && !Fill(Status)) return false;
    const auto* Record = reinterpret_cast<const dirent64*>(Buffer.get() + Pos);
    Pos += Record->d_reclen;
    Entry.Name = Record->d_name;
    Entry.NameLength = std::strlen(Record->d_name);
    return Classify(Record->d_name, Record->d_type, Entry.IsDirectory, Status);
  }

  std::unique_ptr<TDirListing> OpenChild(const char* Name, TFsStatus& Status) override {
    const int Child = ::openat(Fd, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (Child < 0) {
      // Swapped for a link or a file since it was listed: never followed.
      if (errno == ELOOP || errno == ENOTDIR) return nullptr;
      Status = FromErrno(errno);
      return nullptr;
    }
    TIdentity ChildId;
    int Error = 0;
    if (!Identify(Child, ChildId, Error)) {
      ::close(Child);
      Status = FromErrno(Error);
      return nullptr;
    }
    // Another file system's mount point is not part of this tree.
    if (ChildId.Device != Id.Device || ChildId.MountRoot) {
      ::close(Child);
      return nullptr;
    }
    return std::make_unique<TPosixListing>(Child, ChildId, this);
  }

  bool IsRoot() const override {
    struct stat Root;
    return ::stat("/", &Root) == 0 && Root.st_dev == Id.Device && Root.st_ino == Id.Inode;
  }

  TFsStatus InspectChild(const char* Name, TFileInfo& Info) override {
    mode_t Mode;
#ifdef STATX_SIZE
    // Only the size and the mode: the file system need not fill the rest.
    struct statx Stx;
    if (::statx(Fd, Name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_SIZE | STATX_MODE, &Stx) != 0)
      return FromErrno(errno);
    Info.Size = Stx.stx_size;
    Mode = Stx.stx_mode;
#else
    struct stat St;
    if (::fstatat(Fd, Name, &St, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
    Info.Size = static_cast<std::uint64_t>(St.st_size);
    Mode = St.st_mode;
#endif
    // Write permission for nobody is the POSIX form of the read-only mark.
    Info.ReadOnly = !S_ISLNK(Mode) && (Mode & 0222) == 0;
    return {};
  }

  TFsStatus RemoveChild(const char* Name) override {
    if (::unlinkat(Fd, Name, 0) != 0) return FromErrno(errno);
    return {};
  }

  TFsStatus Release() override {
    if (Fd < 0) return {};
    if (!FromSaved) {
      TFsStatus Status;
      TDirEntry Entry;
      while (Next(Entry, Status)) {
        Saved += Entry.IsDirectory ? SavedDirectory : SavedOther;
        Saved.append(Entry.Name, Entry.NameLength + 1);
      }
      if (Status.Failed()) return Status;
      FromSaved = true;
      Buffer.reset();
    }
    ::close(Fd);
    Fd = -1;
    return {};
  }

  TFsStatus Close() override {
    TFsStatus Status;
    if (Parent && Parent->Fd < 0 && Fd >= 0) Status = Parent->TakeHandleFrom(Fd);
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
    return Status;
  }

private:
  // Takes the handle back through Child's "..", checking that it leads to
  // the very directory this listing was.
  TFsStatus TakeHandleFrom(int Child) {
    const int Up = ::openat(Child, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (Up < 0) return FromErrno(errno);
    TIdentity UpId;
    int Error = 0;
    if (!Identify(Up, UpId, Error)) {
      ::close(Up);
      return FromErrno(Error);
    }
    // The subtree was moved away while the sweep was inside it: ".." is no
    // longer the directory the sweep came from.
    if (UpId.Device != Id.Device || UpId.Inode != Id.Inode) {
      ::close(Up);
      return FromErrno(ENOENT);
    }
    Fd = Up;
    return {};
  }

  bool Fill(TFsStatus& Status) {
    // Not zeroed: the kernel fills what is read.
    if (!Buffer) Buffer.reset(new char[ListingBufferSize]);
    const ssize_t Got = ::getdents64(Fd, Buffer.get(), ListingBufferSize);
    if (Got <= 0) {
      if (Got < 0) Status = FromErrno(errno);
      Pos = End = 0;
      return false;
    }
    Pos = 0;
    End = static_cast<std::size_t>(Got);
    return true;
  }

  // The listing's type says file or directory; only a file system that
  // gives no type costs a stat, and "." and ".." never do.
  bool Classify(const char* Name, unsigned char Type, bool& IsDirectory, TFsStatus& Status) {
    if (Type == DT_UNKNOWN && !(Name[0] == '.' && (Name[1] == '\0' || (Name[1] == '.' && Name[2] == '\0')))) {
      struct stat St;
      if (::fstatat(Fd, Name, &St, AT_SYMLINK_NOFOLLOW) != 0) {
        Status = FromErrno(errno);
        return false;
      }
      IsDirectory = S_ISDIR(St.st_mode);
      return true;
    }
    IsDirectory = Type == DT_DIR || Type == DT_UNKNOWN;
    return true;
  }

  bool NextSaved(TDirEntry& Entry) {
    if (SavedPos >= Saved.size()) return false;
    Entry.IsDirectory = Saved[SavedPos] == SavedDirectory;
    Entry.Name = Saved.data() + SavedPos + 1;
    Entry.NameLength = std::strlen(Entry.Name);
    SavedPos += Entry.NameLength + 2;
    return true;
  }

  int Fd;
  TIdentity Id;
  TPosixListing* Parent;
  std::unique_ptr<char[]> Buffer;
  std::size_t Pos = 0;
  std::size_t End = 0;
  bool FromSaved = false;
  std::string Saved;
  std::size_t SavedPos = 0;
};

// Opens a path too long for one call, a component at a time, following
// links as a single open of the whole path would.
int OpenLongPath(const std::string& Path) {
  int Current = Path[0] == '/' ? ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  if (Path[0] == '/' && Current < 0) return -1;
  std::size_t Start = 0;
  while (Start < Path.size()) {
    std::size_t Stop = Path.find('/', Start);
    if (Stop == std::string::npos) Stop = Path.size();
    if (Stop > Start) {
      const std::string Component = Path.substr(Start, Stop - Start);
      const int Next = ::openat(Current, Component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      const int Error = errno;
      if (Current != AT_FDCWD) ::close(Current);
      if (Next < 0) {
        errno = Error;
        return -1;
      }
      Current = Next;
    }
    Start = Stop + 1;
  }
  return Current == AT_FDCWD ? ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : Current;
}

class TPosixInput final : public TInputFile {
public:
  explicit TPosixInput(int Fd) : Fd(Fd) {}
  ~TPosixInput() override { ::close(Fd); }
  long Read(char* Buffer, std::size_t Size, TFsStatus& Status) override {
    for (;;) {
      const ssize_t Got = ::read(Fd, Buffer, Size);
      if (Got >= 0) return static_cast<long>(Got);
      if (errno == EINTR) continue;
      Status = FromErrno(errno);
      return -1;
    }
  }

private:
  int Fd;
};

constexpr int CtrlBackslash = 0x1c;
constexpr int Escape = 0x1b;
// How long the rest of an escape sequence may take to arrive after its ESC.
constexpr int EscapeSequenceMilliseconds = 50;

constexpr int TimedOut = -2;

// One byte from the terminal: the byte, TimedOut when none came within the
// timeout (negative: wait as long as it takes), or NoKey when reading fails.
int ReadTerminalByte(int TimeoutMilliseconds) {
  if (TimeoutMilliseconds >= 0) {
    pollfd Wait{TerminalFd, POLLIN, 0};
    int Ready;
    while ((Ready = ::poll(&Wait, 1, TimeoutMilliseconds)) < 0 && errno == EINTR) {
    }
    if (Ready == 0) return TimedOut;
  }
  unsigned char Byte;
  for (;;) {
    const ssize_t Got = ::read(TerminalFd, &Byte, 1);
    if (Got == 1) return Byte;
    if (Got < 0 && errno == EINTR) continue;
    return NoKey;
  }
}

// The rest of an escape sequence, read whole so that none of its bytes is
// taken for a key: F2 arrives as ESC O Q, and that Q must not quit. ESC [
// starts a control sequence that ends with a byte from '@' to '~'; ESC O
// has one byte more; ESC and any other byte is Alt and that key.
void SkipEscapeSequence() {
  const int Second = ReadTerminalByte(EscapeSequenceMilliseconds);
  if (Second == '[') {
    for (int Byte; (Byte = ReadTerminalByte(EscapeSequenceMilliseconds)) >= 0;)
      if (Byte >= 0x40 && Byte <= 0x7e) break;
  } else if (Second == 'O') {
    ReadTerminalByte(EscapeSequenceMilliseconds);
  }
}

int ReadRawKey() {
  int Key = ReadTerminalByte(-1);
  if (Key == Escape) {
    SkipEscapeSequence();
    Key = OtherKey;
  }
  return Key;
}

class TPosixPlatform final : public TPlatform {
public:
  TPosixPlatform() {
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

  std::unique_ptr<TDirListing> OpenDir(const std::string& Path, TFsStatus& Status) override {
    // The user's own path may pass through links; only what the sweep finds
    // below it is never followed.
    int Fd = ::open(Path.empty() ? "." : Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0 && errno == ENAMETOOLONG) Fd = OpenLongPath(Path);
    if (Fd < 0) {
      Status = FromErrno(errno);
      return nullptr;
    }
    TIdentity Id;
    int Error = 0;
    if (!Identify(Fd, Id, Error)) {
      ::close(Fd);
      Status = FromErrno(Error);
      return nullptr;
    }
    return std::make_unique<TPosixListing>(Fd, Id);
  }

  std::unique_ptr<TInputFile> OpenInput(const std::string& Name, TFsStatus& Status) override {
    const int Fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
      Status = FromErrno(errno);
      return nullptr;
    }
    return std::make_unique<TPosixInput>(Fd);
  }

  TFsStatus CurrentDirectory(std::string& Path) override {
    for (std::size_t Size = 256;; Size *= 2) {
      Path.resize(Size);
      if (::getcwd(Path.data(), Size)) {
        Path.resize(std::strlen(Path.c_str()));
        return {};
      }
      if (errno != ERANGE) return FromErrno(errno);
    }
  }

  int ReadKey() override {
    if (!TerminalTried) {
      TerminalTried = true;
      TerminalFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    if (TerminalFd < 0 || ::tcgetattr(TerminalFd, &TerminalMode) != 0) return NoKey;
    termios Raw = TerminalMode;
    // No line editing, no echo, and no signal keys: Ctrl-C arrives as 3.
    Raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    Raw.c_iflag &= ~static_cast<tcflag_t>(IXON);
    Raw.c_cc[VMIN] = 1;
    Raw.c_cc[VTIME] = 0;
    // TCSANOW, never TCSAFLUSH: keys typed ahead answer the next questions.
    TerminalRaw = 1;
    if (::tcsetattr(TerminalFd, TCSANOW, &Raw) != 0) {
      TerminalRaw = 0;
      return NoKey;
    }
    const int Key = ReadRawKey();
    RestoreTerminal();
    // Ctrl-\ is the terminal's second interrupt key: Ctrl-Break.
    if (Key == CtrlBackslash) TakeSignal(SIGQUIT);
    return Key;
  }

  bool WriteOut(std::string_view Text) override {
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

  bool FlushOut() override {
    Hold();
    FlushBuffer();
    const bool Written = OutErrno == 0;
    Unhold();
    return Written;
  }

  TFsStatus ReserveOut(std::size_t Length) override {
    Hold();
    const int Error = Reserve(Length);
    Unhold();
    return FromErrno(Error);
  }

  TFsStatus OutputError() const override { return FromErrno(OutErrno); }

  void WriteErr(std::string_view Text) override {
    Hold();
    FlushBuffer();
    WriteLost();
    WriteErrBytes(Text.data(), Text.size());
    // Standard error may be the same file: the next byte of standard
    // output lands where this text ended.
    PositionKnown = 0;
    Unhold();
  }

  void InstallBreakHandler() override {
    struct sigaction Action {};
    Action.sa_handler = OnEndingSignal;
    // A second ending signal must reach the handler while the first is
    // still writing what is held.
    Action.sa_flags = SA_RESTART | SA_NODEFER;
    BlockAllButEnding(Action.sa_mask);
    for (TSavedAction& Saved : SavedActions) {
      if (::sigaction(Saved.Signal, nullptr, &Saved.Action) != 0) continue;
      // A hang-up or termination ignored by whoever started us (nohup)
      // stays ignored.
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

  void RestoreBreakHandler() override {
    FlushAtExit();
    for (TSavedAction& Saved : SavedActions)
      if (Saved.Replaced) {
        ::sigaction(Saved.Signal, &Saved.Action, nullptr);
        Saved.Replaced = false;
      }
  }

protected:
  void HoldInterrupts() override { Hold(); }
  void ReleaseInterrupts() override { Unhold(); }
};

}  // namespace

TPlatform& NativePlatform() {
  static TPosixPlatform Platform;
  return Platform;
}

TFsStatus SystemErrorStatus(long Code) { return FromErrno(static_cast<int>(Code)); }

const TPathRules& NativeRules() { return PosixRules; }

}  // namespace kerv
