// Win32 calls only; nothing here decides what is deleted. Each operation
// makes its call and turns the error into a meaning.
//
// Names reach the rest of the program in the ANSI code page, as the console
// program always saw them, but never through a best-fit mapping; underneath,
// the wide-character calls and the "\\?\" form take paths of any length, and
// each entry keeps its wide name, so that every operation uses the file's
// own name. Below the directory the user named, every directory is opened
// relative to its parent's handle and every file is removed through a handle
// opened relative to its directory: nothing goes by a path that another
// process could redirect.
#include "platform/platform.h"
#include "platform/rules.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // GetFileInformationByHandleEx: Vista and later
#endif
#include <windows.h>
#include <winternl.h>
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <vector>

namespace kerv {

namespace {

// The runtime's error numbers for the platform's codes, as the old runtime
// set them after a failed call: 2 no such file, 5 permission denied, 15 no
// such device, 19 for codes above 298. Other codes are passed on as they
// are, so that "I/O Error number:" names the real cause.
int RuntimeNumber(DWORD Code) {
  switch (Code) {
    case 2: case 3: case 18: case 53: case 63: case 64: case 67: case 110: case 123:
      return 2;
    case 5: case 12: case 15: case 16: case 32: case 33: case 65: case 145: case 158: case 167:
      return 5;
    case 50: case 55: case 66:
      return 15;
    default:
      return Code > 298 ? 19 : static_cast<int>(Code);
  }
}

TFsStatus FromCode(DWORD Code) {
  if (Code == 0) return {};
  const int Number = RuntimeNumber(Code);
  switch (Number) {
    case 2: return {TFsError::NotFound, Number};
    case 5: return {TFsError::AccessDenied, Number};
    case 15: return {TFsError::NoDevice, Number};
    case 16: return {TFsError::Busy, Number};
    default: return {TFsError::Other, Number};
  }
}

TFsStatus LastError() { return FromCode(GetLastError()); }

std::wstring Wide(std::string_view Text) {
  if (Text.empty()) return {};
  const int Length = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Result(static_cast<std::size_t>(Length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), Result.data(), Length);
  return Result;
}

// A name in the ANSI code page, without best fit: a character that the code
// page cannot show becomes '?', which only a wildcard matches and which
// prints as what it is, never a look-alike ('\u03a9mega' is not 'Omega').
std::string Narrow(std::wstring_view Text) {
  if (Text.empty()) return {};
  const UINT CodePage = GetACP();
  // UTF-8 shows every character; it takes no best-fit flag and no default.
  const bool Unicode = CodePage == CP_UTF8 || CodePage == CP_UTF7;
  const DWORD Flags = Unicode ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* const Default = Unicode ? nullptr : "?";
  const int Length = static_cast<int>(Text.size());
  const int Size = WideCharToMultiByte(CodePage, Flags, Text.data(), Length, nullptr, 0, Default, nullptr);
  std::string Result(static_cast<std::size_t>(Size > 0 ? Size : 0), '\0');
  if (Size > 0) WideCharToMultiByte(CodePage, Flags, Text.data(), Length, Result.data(), Size, Default, nullptr);
  return Result;
}

// The base spec is upper-cased in ASCII only, so a path compares with the
// current directory the same way.
bool SameIgnoringAsciiCase(std::string_view A, std::string_view B) {
  const auto Upper = [](char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C; };
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (Upper(A[I]) != Upper(B[I])) return false;
  return true;
}

// The current directory as the program saw it (in the code page, where it
// could not show every character) and as the system gives it: a path that
// begins with the first stands for the second, so that a directory the code
// page cannot spell is still swept.
std::string NarrowCurrent;
std::wstring WideCurrent;

// The full path of Path in the "\\?\" form, which no length limit applies
// to; empty on failure (the error is then the last error).
std::wstring FullPath(const std::string& Path) {
  std::wstring Given = Wide(Path.empty() ? std::string(".") : Path);
  if (!NarrowCurrent.empty() && Path.size() >= NarrowCurrent.size() &&
      SameIgnoringAsciiCase(std::string_view(Path).substr(0, NarrowCurrent.size()), NarrowCurrent))
    Given = WideCurrent + Wide(std::string_view(Path).substr(NarrowCurrent.size()));
  const DWORD Length = GetFullPathNameW(Given.c_str(), 0, nullptr, nullptr);
  if (Length == 0) return {};
  std::wstring Full(Length, L'\0');
  const DWORD Written = GetFullPathNameW(Given.c_str(), Length, Full.data(), nullptr);
  if (Written == 0 || Written >= Length) return {};
  Full.resize(Written);
  if (Full.rfind(L"\\\\?\\", 0) == 0) return Full;
  // A device path such as \\.\Z:\ keeps its meaning in the long form.
  if (Full.rfind(L"\\\\.\\", 0) == 0) return L"\\\\?\\" + Full.substr(4);
  if (Full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + Full.substr(2);
  return L"\\\\?\\" + Full;
}

// ---------------------------------------------------------------------------
// Output, the interrupt handler and the hold.
//
// The handler runs on a thread of the system's own. The main thread holds
// Guard from a removal until its line is written. A handler that finds Guard
// free keeps it and ends the process: no removal starts after it. One that
// finds it held leaves a note and returns, and the end of the hold ends the
// process, right after the line in hand. A handler that finds a note
// already there ends the process at once: a line that cannot be written
// (a pipe nobody reads) must not keep the user from stopping the program.
// (Wine runs one handler at a time, so a handler must never wait.)

CRITICAL_SECTION Guard;
bool GuardReady = false;
int OutErrno = 0;
std::string Lost;  // a line that standard output did not take
HANDLE ConsoleInput = INVALID_HANDLE_VALUE;
DWORD SavedConsoleMode = 0;
volatile LONG ConsoleRaw = 0;
volatile LONG BreakPending = 0;  // an interrupt waits for the line in hand
volatile LONG Ending = 0;        // a thread is ending the process
int HoldDepth = 0;               // the main thread's holds, one inside another

constexpr char BreakMessage[] = "Ctrl-Break pressed! Program aborted";

void EnsureGuard() {
  if (!GuardReady) {
    InitializeCriticalSection(&Guard);
    GuardReady = true;
  }
}

// Writes through the runtime's text mode: each newline becomes CR LF.
bool WriteAll(int Fd, const char* Data, std::size_t Length, int& Error) {
  while (Length > 0) {
    const unsigned Chunk = Length > 0x10000 ? 0x10000u : static_cast<unsigned>(Length);
    const int Written = _write(Fd, Data, Chunk);
    if (Written <= 0) {
      Error = Written < 0 ? errno : ENOSPC;
      return false;
    }
    Data += Written;
    Length -= static_cast<std::size_t>(Written);
  }
  return true;
}

// Writes the message, when MayWait or standard error cannot stall, and ends
// the process with status 2; only the first thread to come here does.
[[noreturn]] void EndForBreak(bool MayWait) {
  if (InterlockedExchange(&Ending, 1) != 0)
    for (;;) Sleep(INFINITE);  // the process is ending already
  if (ConsoleRaw) SetConsoleMode(ConsoleInput, SavedConsoleMode);
  int Ignored = 0;
  if (MayWait || GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_PIPE)
    WriteAll(2, BreakMessage, sizeof BreakMessage - 1, Ignored);
  ExitProcess(2);
}

BOOL WINAPI CtrlBreakHandler(DWORD Event) {
  if (Event != CTRL_C_EVENT && Event != CTRL_BREAK_EVENT) return FALSE;
  // A second interrupt while the first waits for a line that cannot be
  // written yet: the process ends now, writing nothing that might wait.
  if (InterlockedExchange(&BreakPending, 1) != 0) EndForBreak(false);
  // Guard is kept: no removal starts after this.
  if (TryEnterCriticalSection(&Guard)) EndForBreak(true);
  return TRUE;  // the end of the hold acts on the note
}

// ---------------------------------------------------------------------------
// Directory listings.

// The file index of an open file: what stays the same whatever its path.
ULONGLONG FileIndex(const BY_HANDLE_FILE_INFORMATION& Info) {
  return (static_cast<ULONGLONG>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow;
}

// Opens Name in the directory Dir, never following a reparse point. (Wine
// follows a POSIX link all the same; the callers' checks by file index
// catch that.)
HANDLE OpenRelative(HANDLE Dir, const std::wstring& Name, ACCESS_MASK Access, ULONG Options, DWORD& Error) {
  UNICODE_STRING Unicode;
  Unicode.Buffer = const_cast<wchar_t*>(Name.c_str());
  Unicode.Length = Unicode.MaximumLength = static_cast<USHORT>(Name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES Attributes;
  InitializeObjectAttributes(&Attributes, &Unicode, OBJ_CASE_INSENSITIVE, Dir, nullptr);
  IO_STATUS_BLOCK Io;
  HANDLE Handle = nullptr;
  const NTSTATUS Status =
      NtCreateFile(&Handle, Access | SYNCHRONIZE, &Attributes, &Io, nullptr, 0,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                   Options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                   nullptr, 0);
  if (Status < 0) {
    Error = RtlNtStatusToDosError(Status);
    return INVALID_HANDLE_VALUE;
  }
  return Handle;
}

constexpr DWORD DirectoryAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

class TWin32Listing final : public TDirListing {
public:
  // Dir: an open directory, whose full path is Path and file index Index.
  // Parent: the listing it was opened from, which outlives it; null for the
  // top of a walk.
  TWin32Listing(HANDLE Dir, std::wstring Path, ULONGLONG Index, TWin32Listing* Parent)
      : Dir(Dir), Path(std::move(Path)), Index(Index), Parent(Parent) {}
  ~TWin32Listing() override {
    if (Dir != INVALID_HANDLE_VALUE) CloseHandle(Dir);
  }

  bool Next(TDirEntry& Entry, TFsStatus& Status) override {
    if (FromSaved) {  // released once: the rest is in memory
      if (SavedPos >= Saved.size()) return false;
      Current = std::move(Saved[SavedPos++]);
    } else if (!ReadNext(Status)) {
      return false;
    }
    Entry.Name = Current.Name.c_str();
    Entry.NameLength = Current.Name.size();
    Entry.IsDirectory = (Current.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

  std::unique_ptr<TDirListing> OpenChild(const char* ChildName, TFsStatus& Status) override {
    const bool Listed = IsCurrent(ChildName);
    // A junction or a directory link is a directory that is never entered.
    if (Listed && (Current.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return nullptr;
    DWORD Error = 0;
    const HANDLE Child = OpenRelative(Dir, WideName(ChildName), DirectoryAccess, FILE_DIRECTORY_FILE, Error);
    if (Child == INVALID_HANDLE_VALUE) {
      // Swapped for a file since it was listed: never entered.
      if (Error == ERROR_DIRECTORY) return nullptr;
      Status = FromCode(Error);
      return nullptr;
    }
    // Checked by handle: a directory, no reparse point, and the very one
    // that was listed. One swapped for a link since is not entered.
    BY_HANDLE_FILE_INFORMATION Info;
    if (!GetFileInformationByHandle(Child, &Info)) {
      Status = LastError();
      CloseHandle(Child);
      return nullptr;
    }
    if (!(Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (Listed && Current.Index != 0 && FileIndex(Info) != Current.Index)) {
      CloseHandle(Child);
      return nullptr;
    }
    return std::make_unique<TWin32Listing>(Child, ChildPath(ChildName), FileIndex(Info), this);
  }

  // "\\?\C:\": the form OpenDir gives a drive's root.
  bool IsRoot() const override {
    return Path.size() == 7 && Path.compare(0, 4, L"\\\\?\\") == 0 && Path[5] == L':' && Path[6] == L'\\';
  }

  TFsStatus InspectChild(const char* ChildName, TFileInfo& Info) override {
    if (IsCurrent(ChildName)) {  // the listing's record has it all
      Info.Size = Current.Size;
      Info.ReadOnly = (Current.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
      return {};
    }
    DWORD Error = 0;
    const HANDLE File = OpenRelative(Dir, WideName(ChildName), FILE_READ_ATTRIBUTES, 0, Error);
    if (File == INVALID_HANDLE_VALUE) return FromCode(Error);
    BY_HANDLE_FILE_INFORMATION Attributes;
    const BOOL Got = GetFileInformationByHandle(File, &Attributes);
    const TFsStatus Status = Got ? TFsStatus{} : LastError();
    CloseHandle(File);
    if (!Got) return Status;
    Info.Size = (static_cast<std::uint64_t>(Attributes.nFileSizeHigh) << 32) | Attributes.nFileSizeLow;
    Info.ReadOnly = (Attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return {};
  }

  // Opens the file through this directory's handle, checks that it is the
  // one that was listed, and marks it for deletion: it goes when its handle
  // is closed. A link goes itself, never what it points to.
  TFsStatus RemoveChild(const char* ChildName) override {
    DWORD Error = 0;
    const HANDLE File =
        OpenRelative(Dir, WideName(ChildName), DELETE | FILE_READ_ATTRIBUTES, FILE_NON_DIRECTORY_FILE, Error);
    if (File == INVALID_HANDLE_VALUE) return FromCode(Error);
    DWORD Code = 0;
    BY_HANDLE_FILE_INFORMATION Info;
    if (IsCurrent(ChildName) && Current.Index != 0 &&
        (!GetFileInformationByHandle(File, &Info) || FileIndex(Info) != Current.Index)) {
      Code = ERROR_FILE_NOT_FOUND;  // not the file that was listed: it is gone
    } else {
      FILE_DISPOSITION_INFO Disposition{TRUE};
      if (!SetFileInformationByHandle(File, FileDispositionInfo, &Disposition, sizeof Disposition))
        Code = GetLastError();
    }
    CloseHandle(File);
    return FromCode(Code);
  }

  TFsStatus Release() override {
    if (Dir == INVALID_HANDLE_VALUE) return {};
    if (!FromSaved) {
      const TEntry InHand = Current;
      TFsStatus Status;
      while (ReadNext(Status)) Saved.push_back(std::move(Current));
      Current = InHand;
      if (Status.Failed()) return Status;
      FromSaved = true;
      Buffer.reset();
    }
    CloseHandle(Dir);
    Dir = INVALID_HANDLE_VALUE;
    return {};
  }

  TFsStatus Close() override {
    TFsStatus Status;
    if (Parent && Parent->Dir == INVALID_HANDLE_VALUE) Status = Parent->Reopen();
    if (Dir != INVALID_HANDLE_VALUE) CloseHandle(Dir);
    Dir = INVALID_HANDLE_VALUE;
    return Status;
  }

  // The top of a walk: the user's own path may pass through links.
  static std::unique_ptr<TDirListing> Open(const std::wstring& Path, TFsStatus& Status) {
    const HANDLE Dir = CreateFileW(Path.c_str(), DirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (Dir == INVALID_HANDLE_VALUE) {
      Status = LastError();
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION Info;
    if (!GetFileInformationByHandle(Dir, &Info) || !(Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      Status = FromCode(ERROR_PATH_NOT_FOUND);
      CloseHandle(Dir);
      return nullptr;
    }
    return std::make_unique<TWin32Listing>(Dir, Path, FileIndex(Info), nullptr);
  }

private:
  struct TEntry {
    std::string Name;   // in the code page, as the rest of the program sees it
    std::wstring Wide;  // its own name, which the code page may not spell
    DWORD Attributes = 0;
    std::uint64_t Size = 0;
    ULONGLONG Index = 0;  // the file index, where the file system gives one
  };

  bool ReadNext(TFsStatus& Status) {
    if (Pos >= End) {
      if (!Buffer) Buffer = std::make_unique<ULONGLONG[]>(BufferBytes / sizeof(ULONGLONG));
      if (!GetFileInformationByHandleEx(Dir, FileIdBothDirectoryInfo, Buffer.get(), BufferBytes)) {
        const DWORD Code = GetLastError();
        if (Code != ERROR_NO_MORE_FILES) Status = FromCode(Code);
        Pos = End = 0;
        return false;
      }
      Pos = 0;
      End = BufferBytes;
    }
    const auto* Record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(reinterpret_cast<const char*>(Buffer.get()) + Pos);
    Pos = Record->NextEntryOffset ? Pos + Record->NextEntryOffset : End;
    Current.Wide.assign(Record->FileName, Record->FileNameLength / sizeof(wchar_t));
    Current.Name = Narrow(Current.Wide);
    Current.Attributes = Record->FileAttributes;
    Current.Size = static_cast<std::uint64_t>(Record->EndOfFile.QuadPart);
    Current.Index = static_cast<ULONGLONG>(Record->FileId.QuadPart);
    return true;
  }

  // Reopens a released directory by its path, checked by handle to be the
  // very directory it was: one moved away meanwhile is gone for the walk.
  TFsStatus Reopen() {
    const HANDLE Again = CreateFileW(Path.c_str(), DirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr);
    if (Again == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION Info;
    if (!GetFileInformationByHandle(Again, &Info) || (Info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        FileIndex(Info) != Index) {
      CloseHandle(Again);
      return FromCode(ERROR_FILE_NOT_FOUND);
    }
    Dir = Again;
    return {};
  }

  bool IsCurrent(const char* ChildName) const { return Current.Name == ChildName; }
  std::wstring WideName(const char* ChildName) const { return IsCurrent(ChildName) ? Current.Wide : Wide(ChildName); }

  std::wstring ChildPath(const char* ChildName) const {
    std::wstring Child = Path;
    if (Child.empty() || Child.back() != L'\\') Child += L'\\';
    return Child + WideName(ChildName);
  }

  static constexpr DWORD BufferBytes = 64 * 1024;

  HANDLE Dir;  // INVALID_HANDLE_VALUE while released
  std::wstring Path;
  ULONGLONG Index;
  TWin32Listing* Parent;
  std::unique_ptr<ULONGLONG[]> Buffer;  // records, 8-byte aligned as the call wants
  DWORD Pos = 0;
  DWORD End = 0;
  TEntry Current;
  bool FromSaved = false;
  std::vector<TEntry> Saved;
  std::size_t SavedPos = 0;
};

class TWin32Input final : public TInputFile {
public:
  explicit TWin32Input(HANDLE File) : File(File) {}
  ~TWin32Input() override { CloseHandle(File); }
  long Read(char* Buffer, std::size_t Size, TFsStatus& Status) override {
    DWORD Got = 0;
    if (!ReadFile(File, Buffer, static_cast<DWORD>(Size > 0x100000 ? 0x100000 : Size), &Got, nullptr)) {
      Status = LastError();
      return -1;
    }
    return static_cast<long>(Got);
  }

private:
  HANDLE File;
};

class TWin32Platform final : public TPlatform {
public:
  TWin32Platform() {
    EnsureGuard();
    // The console itself answers questions, whatever standard input is.
    ConsoleInput = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  }

  std::unique_ptr<TDirListing> OpenDir(const std::string& Path, TFsStatus& Status) override {
    const std::wstring Full = FullPath(Path);
    if (Full.empty()) {
      Status = LastError();
      return nullptr;
    }
    std::wstring Directory = Full;
    while (Directory.size() > 7 && Directory.back() == L'\\') Directory.pop_back();
    return TWin32Listing::Open(Directory, Status);
  }

  std::unique_ptr<TInputFile> OpenInput(const std::string& Name, TFsStatus& Status) override {
    // The runtime's fopen shares a file for reading and writing: a list that
    // another program holds open can be read.
    const HANDLE File = CreateFileW(FullPath(Name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
      Status = LastError();
      return nullptr;
    }
    return std::make_unique<TWin32Input>(File);
  }

  TFsStatus CurrentDirectory(std::string& Path) override {
    const DWORD Length = GetCurrentDirectoryW(0, nullptr);
    std::wstring Wide(Length, L'\0');
    const DWORD Written = GetCurrentDirectoryW(Length, Wide.data());
    if (Written == 0 || Written >= Length) return LastError();
    Wide.resize(Written);
    if (Wide.rfind(L"\\\\?\\", 0) == 0 && Wide.size() > 6 && Wide[5] == L':') Wide.erase(0, 4);
    Path = Narrow(Wide);
    NarrowCurrent.clear();
    WideCurrent.clear();
    if (kerv::Wide(Path) != Wide) {
      NarrowCurrent = Path;
      WideCurrent = Wide;
    }
    return {};
  }

  int ReadKey() override {
    DWORD Mode = 0;
    if (ConsoleInput == INVALID_HANDLE_VALUE || !GetConsoleMode(ConsoleInput, &Mode)) return NoKey;
    // Mode 0: no line input, no echo, and Ctrl-C arrives as the key 3.
    SavedConsoleMode = Mode;
    ConsoleRaw = 1;
    if (!SetConsoleMode(ConsoleInput, 0)) {
      ConsoleRaw = 0;
      return NoKey;
    }
    int Key = NoKey;
    for (;;) {
      INPUT_RECORD Record;
      DWORD Got = 0;
      if (!ReadConsoleInputA(ConsoleInput, &Record, 1, &Got) || Got != 1) break;
      if (Record.EventType != KEY_EVENT || !Record.Event.KeyEvent.bKeyDown) continue;
      const unsigned char Ascii = static_cast<unsigned char>(Record.Event.KeyEvent.uChar.AsciiChar);
      // Shift, Ctrl and Alt alone are no key press; function and cursor
      // keys carry no character.
      const WORD Virtual = Record.Event.KeyEvent.wVirtualKeyCode;
      if (Virtual == VK_SHIFT || Virtual == VK_CONTROL || Virtual == VK_MENU) continue;
      Key = Ascii != 0 ? Ascii : OtherKey;
      break;
    }
    SetConsoleMode(ConsoleInput, SavedConsoleMode);
    ConsoleRaw = 0;
    return Key;
  }

  // Every line is written at once, so each one is on record before the
  // next removal; one that cannot be written goes to standard error, before
  // the message that reports the failure.
  bool WriteOut(std::string_view Text) override {
    if (OutErrno == 0) {
      int Error = 0;
      if (!WriteAll(1, Text.data(), Text.size(), Error)) {
        OutErrno = Error;
        Lost.assign(Text);
      }
    }
    return OutErrno == 0;
  }

  bool FlushOut() override { return OutErrno == 0; }

  TFsStatus ReserveOut(std::size_t) override { return OutputError(); }

  TFsStatus OutputError() const override {
    if (OutErrno == 0) return {};
    return {TFsError::Other, OutErrno};
  }

  void WriteErr(std::string_view Text) override {
    int Ignored = 0;
    if (!Lost.empty()) WriteAll(2, Lost.data(), Lost.size(), Ignored);
    Lost.clear();
    WriteAll(2, Text.data(), Text.size(), Ignored);
  }

  void InstallBreakHandler() override { SetConsoleCtrlHandler(CtrlBreakHandler, TRUE); }
  void RestoreBreakHandler() override { SetConsoleCtrlHandler(nullptr, FALSE); }

protected:
  void HoldInterrupts() override {
    EnterCriticalSection(&Guard);
    ++HoldDepth;
  }
  void ReleaseInterrupts() override {
    const bool Last = --HoldDepth == 0;
    LeaveCriticalSection(&Guard);
    if (Last && BreakPending) EndForBreak(true);
  }
};

}  // namespace

// The runtime's own wildcard expansion stays off, whatever it was built
// with: '*' and '?' must reach the program as specs, never as the names of
// the files in the current directory.
extern "C" {
int _dowildcard = 0;
}

TPlatform& NativePlatform() {
  static TWin32Platform Platform;
  return Platform;
}

TFsStatus SystemErrorStatus(long Code) { return FromCode(static_cast<DWORD>(Code)); }

namespace {
bool IsLeadByte(unsigned char Byte) { return IsDBCSLeadByte(Byte) != 0; }
}  // namespace

// Names reach the matcher in the ANSI code page, whose double-byte
// characters the splitter steps over whole.
const TPathRules& NativeRules() {
  static const TPathRules Rules = [] {
    TPathRules Native = WindowsRules;
    Native.IsLeadByte = IsLeadByte;
    return Native;
  }();
  return Rules;
}

}  // namespace kerv
