// The platform on Linux: TPlatform over the listing, output and terminal
// files, and the one table from errno values to meanings. Linux calls only;
// nothing here decides what is deleted.
#include <unistd.h>

#include <cstring>

#include "platform/linux/linux.h"
#include "platform/rules.h"

namespace kerv {

namespace os {

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

namespace {

class TLinuxPlatform final : public TPlatform {
public:
  TLinuxPlatform() { SetUpOutput(); }

  std::unique_ptr<TDirListing> OpenDir(const std::string& Path, TFsStatus& Status) override {
    return OpenDirectory(Path, Status);
  }
  std::unique_ptr<TInputFile> OpenInput(const std::string& Name, TFsStatus& Status) override {
    return OpenInputFile(Name, Status);
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

  int ReadKey() override { return os::ReadKey(); }

  bool WriteOut(std::string_view Text) override { return os::WriteOut(Text); }
  bool FlushOut() override { return os::FlushOut(); }
  TFsStatus ReserveOut(std::size_t Length) override { return FromErrno(os::ReserveOut(Length)); }
  TFsStatus OutputError() const override { return FromErrno(OutputErrno()); }
  void WriteErr(std::string_view Text) override { os::WriteErr(Text); }

  void InstallBreakHandler() override { InstallSignalHandlers(); }
  void RestoreBreakHandler() override { RestoreSignalHandlers(); }

protected:
  void HoldInterrupts() override { Hold(); }
  void ReleaseInterrupts() override { Unhold(); }
};

}  // namespace
}  // namespace os

TPlatform& NativePlatform() {
  static os::TLinuxPlatform Platform;
  return Platform;
}

TFsStatus SystemErrorStatus(long Code) { return os::FromErrno(static_cast<int>(Code)); }

const TPathRules& NativeRules() { return PosixRules; }

}  // namespace kerv
