// Win32 calls only; nothing here decides what is deleted. Each operation
// makes its call and turns the error into a meaning.
//
// Names reach the rest of the program in the ANSI code page, as the console
// program always saw them; underneath, the wide-character calls and the
// "\\?\" form take paths of any length, and each entry keeps its wide name,
// so that a name the code page cannot spell is still deleted by its own name.
#include "platform/platform.h"
#include "platform/rules.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
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

std::string Narrow(const wchar_t* Text) {
  const int Length = WideCharToMultiByte(CP_ACP, 0, Text, -1, nullptr, 0, nullptr, nullptr);
  std::string Result(static_cast<std::size_t>(Length > 0 ? Length - 1 : 0), '\0');
  if (Length > 1) WideCharToMultiByte(CP_ACP, 0, Text, -1, Result.data(), Length, nullptr, nullptr);
  return Result;
}

// The full path of Path in the "\\?\" form, which no length limit applies
// to; empty on failure (the error is then the last error).
std::wstring FullPath(const std::string& Path) {
  const std::wstring Given = Wide(Path.empty() ? std::string(".") : Path);
  const DWORD Length = GetFullPathNameW(Given.c_str(), 0, nullptr, nullptr);
  if (Length == 0) return {};
  std::wstring Full(Length, L'\0');
  const DWORD Written = GetFullPathNameW(Given.c_str(), Length, Full.data(), nullptr);
  if (Written == 0 || Written >= Length) return {};
  Full.resize(Written);
  if (Full.rfind(L"\\\\?\\", 0) == 0) return Full;
  if (Full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + Full.substr(2);
  return L"\\\\?\\" + Full;
}

// ---------------------------------------------------------------------------
// Output, the interrupt handler and the hold.
//
// The handler runs on a thread of the system's own. The main thread holds
// Guard from a removal until its line is written; the handler takes Guard
// before it ends the process, so it waits for the line in hand and no
// removal starts after it.

CRITICAL_SECTION Guard;
bool GuardReady = false;
int OutErrno = 0;
std::string Lost;  // a line that standard output did not take
HANDLE ConsoleInput = INVALID_HANDLE_VALUE;
DWORD SavedConsoleMode = 0;
volatile LONG ConsoleRaw = 0;
volatile LONG BreakWaiting = 0;  // an interrupt waits for the line in hand

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

BOOL WINAPI CtrlBreakHandler(DWORD Event) {
  if (Event != CTRL_C_EVENT && Event != CTRL_BREAK_EVENT) return FALSE;
  int Ignored = 0;
  if (InterlockedExchange(&BreakWaiting, 1) != 0) {
    // A second interrupt while the first waits for a line that cannot be
    // written yet: the process ends now, writing nothing that might wait.
    if (ConsoleRaw) SetConsoleMode(ConsoleInput, SavedConsoleMode);
    if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_PIPE)
      WriteAll(2, BreakMessage, sizeof BreakMessage - 1, Ignored);
    ExitProcess(2);
  }
  EnterCriticalSection(&Guard);  // never left: the process ends here
  if (ConsoleRaw) SetConsoleMode(ConsoleInput, SavedConsoleMode);
  WriteAll(2, BreakMessage, sizeof BreakMessage - 1, Ignored);
  ExitProcess(2);
}

// ---------------------------------------------------------------------------
// Directory listings.

class TWin32Listing final : public TDirListing {
public:
  TWin32Listing(HANDLE Find, std::wstring Directory, const WIN32_FIND_DATAW& First)
      : Find(Find), Directory(std::move(Directory)), Data(First) {}
  ~TWin32Listing() override {
    if (Find != INVALID_HANDLE_VALUE) FindClose(Find);
  }

  bool Next(TDirEntry& Entry, TFsStatus& Status) override {
    if (Find == INVALID_HANDLE_VALUE) {  // released: the rest is in memory
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
    // A junction or a directory link is a directory that is never entered.
    if (IsCurrent(ChildName) && (Current.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return nullptr;
    return Open(ChildPath(ChildName), Status);
  }

  // "\\?\C:\": the form OpenDir gives a drive's root.
  bool IsRoot() const override {
    return Directory.size() == 7 && Directory.compare(0, 4, L"\\\\?\\") == 0 && Directory[5] == L':' &&
           Directory[6] == L'\\';
  }

  TFsStatus InspectChild(const char* ChildName, TFileInfo& Info) override {
    if (IsCurrent(ChildName)) {  // the listing's record has it all
      Info.Size = Current.Size;
      Info.ReadOnly = (Current.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
      return {};
    }
    WIN32_FILE_ATTRIBUTE_DATA Attributes;
    if (!GetFileAttributesExW(ChildPath(ChildName).c_str(), GetFileExInfoStandard, &Attributes)) return LastError();
    Info.Size = (static_cast<std::uint64_t>(Attributes.nFileSizeHigh) << 32) | Attributes.nFileSizeLow;
    Info.ReadOnly = (Attributes.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return {};
  }

  TFsStatus RemoveChild(const char* ChildName) override {
    if (!DeleteFileW(ChildPath(ChildName).c_str())) return LastError();
    return {};
  }

  // Every operation goes by full path, so a released listing needs no
  // handle back: the entries still to come wait in memory.
  TFsStatus Release() override {
    if (Find == INVALID_HANDLE_VALUE) return {};
    const TEntry InHand = Current;
    TFsStatus Status;
    while (ReadNext(Status)) Saved.push_back(std::move(Current));
    Current = InHand;
    if (Status.Failed()) return Status;
    FindClose(Find);
    Find = INVALID_HANDLE_VALUE;
    return {};
  }
  TFsStatus Close() override {
    if (Find != INVALID_HANDLE_VALUE) FindClose(Find);
    Find = INVALID_HANDLE_VALUE;
    return {};
  }

  static std::unique_ptr<TDirListing> Open(const std::wstring& Directory, TFsStatus& Status) {
    WIN32_FIND_DATAW First;
    const HANDLE Find = FindFirstFileW((Directory + L"\\*.*").c_str(), &First);
    if (Find == INVALID_HANDLE_VALUE) {
      Status = LastError();
      return nullptr;
    }
    return std::make_unique<TWin32Listing>(Find, Directory, First);
  }

private:
  struct TEntry {
    std::string Name;   // in the code page, as the rest of the program sees it
    std::wstring Wide;  // its own name, which the code page may not spell
    DWORD Attributes = 0;
    std::uint64_t Size = 0;
  };

  bool ReadNext(TFsStatus& Status) {
    if (!Started) {
      Started = true;
    } else if (!FindNextFileW(Find, &Data)) {
      const DWORD Code = GetLastError();
      if (Code != ERROR_NO_MORE_FILES) Status = FromCode(Code);
      return false;
    }
    Current.Name = Narrow(Data.cFileName);
    Current.Wide = Data.cFileName;
    Current.Attributes = Data.dwFileAttributes;
    Current.Size = (static_cast<std::uint64_t>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
    return true;
  }

  bool IsCurrent(const char* ChildName) const { return Current.Name == ChildName; }

  std::wstring ChildPath(const char* ChildName) const {
    std::wstring Path = Directory;
    if (Path.empty() || Path.back() != L'\\') Path += L'\\';
    Path += IsCurrent(ChildName) ? Current.Wide : Wide(ChildName);
    return Path;
  }

  HANDLE Find;
  std::wstring Directory;
  WIN32_FIND_DATAW Data;
  bool Started = false;
  TEntry Current;
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
    const HANDLE File = CreateFileW(FullPath(Name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
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
    Path = Narrow(Wide.c_str());
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
  void HoldInterrupts() override { EnterCriticalSection(&Guard); }
  void ReleaseInterrupts() override { LeaveCriticalSection(&Guard); }
};

}  // namespace

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
