#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "matching/matching.h"
#include "sweep/sweep.h"

namespace kerv {
namespace {

// Each system error code, the number the old runtime turned it into, what
// it means, and the one message the user sees for it.
TEST(Win32Errors, MeaningAndMessage) {
  struct Row { long Code; int Number; TFsError Kind; const char* Message; };
  const Row Rows[] = {
      {2, 2, TFsError::NotFound, "Invalid path or filename!"},      // file not found
      {3, 2, TFsError::NotFound, "Invalid path or filename!"},      // path not found
      {18, 2, TFsError::NotFound, "Invalid path or filename!"},     // no more files
      {53, 2, TFsError::NotFound, "Invalid path or filename!"},     // bad network path
      {67, 2, TFsError::NotFound, "Invalid path or filename!"},     // bad network name
      {123, 2, TFsError::NotFound, "Invalid path or filename!"},    // invalid name
      {5, 5, TFsError::AccessDenied, "Permission denied!"},          // access denied
      {16, 5, TFsError::AccessDenied, "Permission denied!"},         // current directory
      {32, 5, TFsError::AccessDenied, "Permission denied!"},         // sharing violation
      {33, 5, TFsError::AccessDenied, "Permission denied!"},         // lock violation
      {145, 5, TFsError::AccessDenied, "Permission denied!"},        // directory not empty
      {19, 19, TFsError::Other, "I/O Error number:19"},              // write protected
      {50, 15, TFsError::NoDevice, "Invalid device!"},               // not supported
      {55, 15, TFsError::NoDevice, "Invalid device!"},               // device gone
      {66, 15, TFsError::NoDevice, "Invalid device!"},               // bad device type
      {112, 112, TFsError::Other, "I/O Error number:112"},           // disk full: its own number
      {299, 19, TFsError::Other, "I/O Error number:19"},             // above 298
      {1920, 19, TFsError::Other, "I/O Error number:19"},
  };
  for (const Row& R : Rows) {
    SCOPED_TRACE(R.Code);
    const TFsStatus Status = SystemErrorStatus(R.Code);
    EXPECT_EQ(R.Kind, Status.Kind);
    EXPECT_EQ(R.Number, Status.Code);
    EXPECT_EQ(R.Message, ErrorMessage(Status));
  }
  EXPECT_FALSE(SystemErrorStatus(0).Failed());
}

// A folder of its own under the temporary folder, removed with what it holds.
class TTempFolder {
public:
  explicit TTempFolder(const std::wstring& Leaf) {
    wchar_t Temp[MAX_PATH];
    GetTempPathW(MAX_PATH, Temp);
    Path = std::wstring(Temp) + Leaf;
    CreateDirectoryW(Path.c_str(), nullptr);
  }
  ~TTempFolder() {
    for (const std::wstring& File : Files) DeleteFileW((Path + L"\\" + File).c_str());
    RemoveDirectoryW(Path.c_str());
  }
  void Add(const std::wstring& File) {
    CloseHandle(CreateFileW((Path + L"\\" + File).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Files.push_back(File);
  }
  std::wstring Path;
  std::vector<std::wstring> Files;
};

std::string Ansi(const std::wstring& Text) {
  const int Size = WideCharToMultiByte(CP_ACP, 0, Text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string Result(static_cast<std::size_t>(Size > 0 ? Size - 1 : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, Text.c_str(), -1, Result.data(), Size, nullptr, nullptr);
  return Result;
}

std::vector<std::string> Names(TDirListing& Dir) {
  std::vector<std::string> Result;
  TDirEntry Entry;
  TFsStatus Status;
  while (Dir.Next(Entry, Status)) Result.emplace_back(Entry.Name, Entry.NameLength);
  EXPECT_FALSE(Status.Failed());
  std::sort(Result.begin(), Result.end());
  return Result;
}

// A list file that another program holds open for writing is read all the
// same, with the sharing the runtime's fopen uses.
TEST(Win32Platform, ReadsAListThatAnotherProgramWrites) {
  TTempFolder Folder(L"kerv32-list");
  const std::wstring List = Folder.Path + L"\\keep.lst";
  const HANDLE Writer =
      CreateFileW(List.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, Writer);
  Folder.Files.push_back(L"keep.lst");
  DWORD Wrote = 0;
  WriteFile(Writer, "a.tmp b.tmp", 11, &Wrote, nullptr);
  TFsStatus Status;
  auto Input = NativePlatform().OpenInput(Ansi(List), Status);
  ASSERT_TRUE(Input) << Status.Code;
  char Buffer[64];
  const long Got = Input->Read(Buffer, sizeof Buffer, Status);
  EXPECT_EQ("a.tmp b.tmp", std::string(Buffer, Got > 0 ? static_cast<std::size_t>(Got) : 0));
  Input.reset();
  CloseHandle(Writer);
}

// The current directory is swept by its own wide name, even where the code
// page cannot spell it: as "&" and "!" make the base spec of it, with a
// separator added and upper-cased.
TEST(Win32Platform, SweepsACurrentDirectoryTheCodePageCannotSpell) {
  TTempFolder Folder(L"kerv32-\u03a9\u4e2d");
  Folder.Add(L"a.tmp");
  wchar_t Before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, Before);
  ASSERT_TRUE(SetCurrentDirectoryW(Folder.Path.c_str()));
  std::string Current;
  EXPECT_FALSE(NativePlatform().CurrentDirectory(Current).Failed());
  for (const std::string& Base : {Current + "\\", UpperCased(Current) + "\\"}) {
    SCOPED_TRACE(Base);
    TFsStatus Status;
    auto Dir = NativePlatform().OpenDir(Base, Status);
    ASSERT_TRUE(Dir) << Status.Code;
    EXPECT_EQ((std::vector<std::string>{".", "..", "a.tmp"}), Names(*Dir));
  }
  SetCurrentDirectoryW(Before);
}

// A drive's root, and a directory in the device form \\.\C:\..., are
// listed as they are.
TEST(Win32Platform, ListsDriveRootsAndDevicePaths) {
  TTempFolder Folder(L"kerv32-device");
  Folder.Add(L"a.tmp");
  TFsStatus Status;
  auto Root = NativePlatform().OpenDir("C:\\", Status);
  ASSERT_TRUE(Root) << Status.Code;
  EXPECT_TRUE(Root->IsRoot());
  const std::vector<std::string> InRoot = Names(*Root);
  EXPECT_NE(InRoot.end(), std::find(InRoot.begin(), InRoot.end(), "windows"));
  auto Device = NativePlatform().OpenDir("\\\\.\\" + Ansi(Folder.Path) + "\\", Status);
  ASSERT_TRUE(Device) << Status.Code;
  EXPECT_FALSE(Device->IsRoot());
  EXPECT_EQ((std::vector<std::string>{".", "..", "a.tmp"}), Names(*Device));
}

}  // namespace
}  // namespace kerv
