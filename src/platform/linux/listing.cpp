// Directory listings, inspection and removal, and list files. Linux calls
// only; nothing here decides what is deleted. Every operation on an entry
// goes through the open directory that listed it, never by a path that
// another process could redirect.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "platform/linux/linux.h"

namespace kerv::os {

namespace {

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

class TLinuxListing final : public TDirListing {
public:
  // Parent: the listing this one was opened from, which outlives it; null
  // for the top of a walk.
  TLinuxListing(TFd Fd, const TIdentity& Id, TLinuxListing* Parent = nullptr)
      : Fd(std::move(Fd)), Id(Id), Parent(Parent) {}

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
    TFd Child(::openat(Fd.Get(), Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!Child) {
      // Swapped for a link or a file since it was listed: never followed.
      if (errno == ELOOP || errno == ENOTDIR) return nullptr;
      Status = FromErrno(errno);
      return nullptr;
    }
    TIdentity ChildId;
    int Error = 0;
    if (!Identify(Child.Get(), ChildId, Error)) {
      Status = FromErrno(Error);
      return nullptr;
    }
    // Another file system's mount point is not part of this tree.
    if (ChildId.Device != Id.Device || ChildId.MountRoot) return nullptr;
    return std::make_unique<TLinuxListing>(std::move(Child), ChildId, this);
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
    if (::statx(Fd.Get(), Name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_SIZE | STATX_MODE, &Stx) != 0)
      return FromErrno(errno);
    Info.Size = Stx.stx_size;
    Mode = Stx.stx_mode;
#else
    struct stat St;
    if (::fstatat(Fd.Get(), Name, &St, AT_SYMLINK_NOFOLLOW) != 0) return FromErrno(errno);
    Info.Size = static_cast<std::uint64_t>(St.st_size);
    Mode = St.st_mode;
#endif
    // Write permission for nobody is the POSIX form of the read-only mark.
    Info.ReadOnly = !S_ISLNK(Mode) && (Mode & 0222) == 0;
    return {};
  }

  TFsStatus RemoveChild(const char* Name) override {
    if (::unlinkat(Fd.Get(), Name, 0) != 0) return FromErrno(errno);
    return {};
  }

  TFsStatus Release() override {
    if (!Fd) return {};
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
    Fd.Reset();
    return {};
  }

  TFsStatus Close() override {
    TFsStatus Status;
    if (Parent && !Parent->Fd && Fd) Status = Parent->TakeHandleFrom(Fd.Get());
    Fd.Reset();
    return Status;
  }

private:
  // Takes the handle back through Child's "..", checking that it leads to
  // the very directory this listing was.
  TFsStatus TakeHandleFrom(int Child) {
    TFd Up(::openat(Child, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!Up) return FromErrno(errno);
    TIdentity UpId;
    int Error = 0;
    if (!Identify(Up.Get(), UpId, Error)) return FromErrno(Error);
    // The subtree was moved away while the sweep was inside it: ".." is no
    // longer the directory the sweep came from.
    if (UpId.Device != Id.Device || UpId.Inode != Id.Inode) return FromErrno(ENOENT);
    Fd = std::move(Up);
    return {};
  }

  bool Fill(TFsStatus& Status) {
    // Not zeroed: the kernel fills what is read.
    if (!Buffer) Buffer.reset(new char[ListingBufferSize]);
    const ssize_t Got = ::getdents64(Fd.Get(), Buffer.get(), ListingBufferSize);
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
      if (::fstatat(Fd.Get(), Name, &St, AT_SYMLINK_NOFOLLOW) != 0) {
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

  TFd Fd;  // none while released
  TIdentity Id;
  TLinuxListing* Parent;
  std::unique_ptr<char[]> Buffer;
  std::size_t Pos = 0;
  std::size_t End = 0;
  bool FromSaved = false;
  std::string Saved;
  std::size_t SavedPos = 0;
};

// Opens a path too long for one call, a component at a time, following
// links as a single open of the whole path would.
TFd OpenLongPath(const std::string& Path) {
  TFd Current;
  if (Path[0] == '/') {
    Current.Reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!Current) return Current;
  }
  std::size_t Start = 0;
  while (Start < Path.size()) {
    std::size_t Stop = Path.find('/', Start);
    if (Stop == std::string::npos) Stop = Path.size();
    if (Stop > Start) {
      const std::string Component = Path.substr(Start, Stop - Start);
      TFd Next(::openat(Current ? Current.Get() : AT_FDCWD, Component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!Next) return Next;
      Current = std::move(Next);
    }
    Start = Stop + 1;
  }
  if (!Current) Current.Reset(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return Current;
}

class TLinuxInput final : public TInputFile {
public:
  explicit TLinuxInput(TFd Fd) : Fd(std::move(Fd)) {}
  long Read(char* Buffer, std::size_t Size, TFsStatus& Status) override {
    const ssize_t Got = RetryOnEintr([&] { return ::read(Fd.Get(), Buffer, Size); });
    if (Got >= 0) return static_cast<long>(Got);
    Status = FromErrno(errno);
    return -1;
  }

private:
  TFd Fd;
};

}  // namespace

std::unique_ptr<TDirListing> OpenDirectory(const std::string& Path, TFsStatus& Status) {
  // The user's own path may pass through links; only what the sweep finds
  // below it is never followed.
  TFd Fd(::open(Path.empty() ? "." : Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!Fd && errno == ENAMETOOLONG) Fd = OpenLongPath(Path);
  if (!Fd) {
    Status = FromErrno(errno);
    return nullptr;
  }
  TIdentity Id;
  int Error = 0;
  if (!Identify(Fd.Get(), Id, Error)) {
    Status = FromErrno(Error);
    return nullptr;
  }
  return std::make_unique<TLinuxListing>(std::move(Fd), Id);
}

std::unique_ptr<TInputFile> OpenInputFile(const std::string& Name, TFsStatus& Status) {
  TFd Fd(::open(Name.c_str(), O_RDONLY | O_CLOEXEC));
  if (!Fd) {
    Status = FromErrno(errno);
    return nullptr;
  }
  return std::make_unique<TLinuxInput>(std::move(Fd));
}

}  // namespace kerv::os
