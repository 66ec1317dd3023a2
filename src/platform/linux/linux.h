// What the Linux files of the platform layer share, and nothing else of the
// tree sees: the rest knows only platform.h. The layer needs Linux itself
// (getdents64, statx, fallocate), not just POSIX.
//
//   listing.cpp   directory listings, inspection and removal, list files
//   output.cpp    standard output and error, batching, the signals
//   terminal.cpp  the keys that answer the question
//   platform.cpp  TPlatform over the three, and the error table
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kerv::os {

// What an errno value means. Async-signal-safe.
TFsStatus FromErrno(int Error);

// An open file descriptor, closed when it goes.
class TFd {
public:
  TFd() = default;
  explicit TFd(int Fd) : Fd(Fd) {}
  TFd(TFd&& Other) noexcept : Fd(Other.Release()) {}
  TFd& operator=(TFd&& Other) noexcept {
    Reset(Other.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Reset(); }

  int Get() const { return Fd; }
  explicit operator bool() const { return Fd >= 0; }
  int Release() {
    const int Old = Fd;
    Fd = -1;
    return Old;
  }
  void Reset(int New = -1) {
    if (Fd >= 0) ::close(Fd);
    Fd = New;
  }

private:
  int Fd = -1;
};

// Makes Call again while it fails with EINTR: a signal that was handled is
// no failure. Async-signal-safe when Call is.
template <typename TCall>
auto RetryOnEintr(TCall Call) -> decltype(Call()) {
  decltype(Call()) Result;
  do {
    Result = Call();
  } while (Result < 0 && errno == EINTR);
  return Result;
}

// listing.cpp
std::unique_ptr<TDirListing> OpenDirectory(const std::string& Path, TFsStatus& Status);
std::unique_ptr<TInputFile> OpenInputFile(const std::string& Name, TFsStatus& Status);

// output.cpp. Not signal-safe unless marked.
void SetUpOutput();  // once, before anything is written
bool WriteOut(std::string_view Text);
bool FlushOut();
int ReserveOut(std::size_t Length);  // 0, or the errno value of the failure
int OutputErrno();
void WriteErr(std::string_view Text);
void InstallSignalHandlers();
void RestoreSignalHandlers();  // also writes what is held, and gives reserved room back
void Hold();                   // signal-safe
void Unhold();                 // signal-safe
[[noreturn]] void TakeSignal(int Signal);  // signal-safe

// terminal.cpp
int ReadKey();
void RestoreTerminal();  // signal-safe

}  // namespace kerv::os
