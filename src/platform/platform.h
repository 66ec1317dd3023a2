// The operating system as kerv32 sees it. This header is the only way into
// the OS for the rest of the tree; it includes only standard headers, and
// the files of linux/ or platform_win32.cpp implement it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kerv {

// What a failure means, so that the sweep can choose its message without
// knowing the platform's numbers.
enum class TFsError { None, NotFound, AccessDenied, NoDevice, Busy, Other };

struct TFsStatus {
  TFsError Kind = TFsError::None;
  int Code = 0;  // the platform's own number, printed for TFsError::Other
  bool Failed() const { return Kind != TFsError::None; }
};

// One directory entry. Name points into the listing's own storage and stays
// valid until the next call of Next on the same listing.
struct TDirEntry {
  const char* Name = nullptr;
  std::size_t NameLength = 0;
  // A real directory. Links, junctions and special files are not: a link is
  // an entry like a file, and its own name is what gets removed.
  bool IsDirectory = false;
};

struct TFileInfo {
  std::uint64_t Size = 0;
  bool ReadOnly = false;  // the platform's read-only mark on the file itself
};

// One open directory, closed by the destructor. Every operation on a child
// is relative to this directory and never follows a link, so a child that
// is swapped for a link while the sweep runs cannot redirect it.
// @note Under Wine, which follows a POSIX link even when told not to, the
// Win32 layer keeps this by checking each child's file index against the
// listing's; a POSIX link to a file is deleted through the link there.
class TDirListing {
public:
  virtual ~TDirListing() = default;

  // The next entry, "." and ".." included; false at the end of the listing
  // (Status untouched) or on a failure (Status set).
  virtual bool Next(TDirEntry& Entry, TFsStatus& Status) = 0;

  // Opens the subdirectory Name for listing. Null with Status clear means the
  // child is not to be entered: it is a link now, or the root of another
  // file system. Null with Status set is a failure.
  virtual std::unique_ptr<TDirListing> OpenChild(const char* Name, TFsStatus& Status) = 0;

  // Whether this is the root of the whole tree of directories: POSIX "/"
  // (the process's root), Win32 a drive's root such as "C:\".
  virtual bool IsRoot() const = 0;

  // Size and read-only mark of the child Name, without following a link.
  virtual TFsStatus InspectChild(const char* Name, TFileInfo& Info) = 0;

  // Removes the child Name (a file, a link, a special file; never a
  // directory, never the target of a link).
  virtual TFsStatus RemoveChild(const char* Name) = 0;

  // Gives the operating system's handle back while the listing waits for a
  // deep subtree: the entries not yet delivered stay in memory, so Next still
  // works, but nothing else does until the child it opened last is closed.
  // The walk calls this so that it holds a fixed number of handles whatever
  // the depth.
  virtual TFsStatus Release() = 0;
  // Ends the listing. A listing that OpenChild gave hands its parent the
  // handle back, if the parent released it, through this very directory,
  // checked to lead to the same directory as before: set when the subtree
  // was moved away meanwhile. The listing is of no use afterwards.
  virtual TFsStatus Close() = 0;
};

// What ReadKey returns for a key that the console sends as several codes
// (cursor and function keys): a key, but none that answers a question.
inline constexpr int OtherKey = 0x100;
// What ReadKey returns when no key can be read: no console, or it failed.
inline constexpr int NoKey = -1;

// A file read as a stream of bytes, closed by the destructor.
class TInputFile {
public:
  virtual ~TInputFile() = default;
  // Reads up to Size bytes; the count, 0 at the end, -1 on failure (Status set).
  virtual long Read(char* Buffer, std::size_t Size, TFsStatus& Status) = 0;
};

class TPlatform;
// Keeps the interrupt handler from ending the process while a removal and
// its report line are not both done: one that arrives meanwhile takes effect
// when the hold ends. A second one that arrives while the first waits ends
// the process at once: a line that cannot be written must not keep the
// user from stopping the program.
class TInterruptHold {
public:
  explicit TInterruptHold(TPlatform& Os);
  ~TInterruptHold();
  TInterruptHold(const TInterruptHold&) = delete;
  TInterruptHold& operator=(const TInterruptHold&) = delete;

private:
  TPlatform& Os;
};

class TPlatform {
public:
  virtual ~TPlatform() = default;

  // Opens Path (empty: the current directory) for listing; null and Status
  // set on failure. Path may be longer than the platform's path limit.
  virtual std::unique_ptr<TDirListing> OpenDir(const std::string& Path, TFsStatus& Status) = 0;

  // Opens a file for reading (a relative name: from the current directory).
  virtual std::unique_ptr<TInputFile> OpenInput(const std::string& Name, TFsStatus& Status) = 0;

  // The full path of the current directory: no trailing separator except
  // at a root.
  virtual TFsStatus CurrentDirectory(std::string& Path) = 0;

  // Waits for one key press on the console itself, never on redirected
  // standard input, without echo and with Ctrl-C delivered as the key 3.
  // Keys typed ahead are kept for later reads. Ctrl-Break at the wait (POSIX:
  // Ctrl-Backslash) is no key: it ends the process like the interrupt handler.
  // Returns the key's byte, OtherKey or NoKey.
  virtual int ReadKey() = 0;

  // Standard output. Text may be held back and written in batches; false
  // when the text, or text held back before it, could not be written.
  virtual bool WriteOut(std::string_view Text) = 0;
  // Writes everything held back; false when that fails.
  virtual bool FlushOut() = 0;
  // Makes sure that Length more bytes of standard output, after everything
  // held back, will be kept once written, so that the caller may do what
  // they are to report. Where standard output is a regular file, room for
  // them is reserved on its disk, within the file-size limit; where nothing
  // can be reserved, held text is written at once. Set when standard output
  // has failed already, or when the room cannot be had (a full disk, a
  // quota, the size limit): the caller must not do what the text reports.
  virtual TFsStatus ReserveOut(std::size_t Length) = 0;
  // Why the last failed WriteOut or FlushOut failed.
  virtual TFsStatus OutputError() const = 0;
  // Standard error, written at once, after everything held for standard
  // output, so that the two streams read in program order. Lines that
  // standard output failed to take come first, whole, so that none is lost.
  virtual void WriteErr(std::string_view Text) = 0;

  // The console interrupt handler: Ctrl-C and Ctrl-Break (POSIX: SIGINT and
  // SIGQUIT) write "Ctrl-Break pressed! Program aborted" to standard error
  // and end the process with status 2.
  virtual void InstallBreakHandler() = 0;
  virtual void RestoreBreakHandler() = 0;

protected:
  friend class TInterruptHold;
  virtual void HoldInterrupts() = 0;
  virtual void ReleaseInterrupts() = 0;
};

inline TInterruptHold::TInterruptHold(TPlatform& Os) : Os(Os) { Os.HoldInterrupts(); }
inline TInterruptHold::~TInterruptHold() { Os.ReleaseInterrupts(); }

// The operating system this program was built for.
TPlatform& NativePlatform();

// What the platform's own error number means (POSIX: an errno value; Win32:
// a system error code), as every operation here reports it.
TFsStatus SystemErrorStatus(long Code);

}  // namespace kerv
