// The keys that answer the question: one at a time from the controlling
// terminal in raw mode, whatever standard input is. Linux calls only;
// nothing here decides what is deleted.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "platform/linux/linux.h"

namespace kerv::os {

namespace {

// The terminal, and its mode while a key is awaited in raw mode: every way
// out of the process puts the saved mode back.
int TerminalFd = -1;
bool TerminalTried = false;
termios TerminalMode;
volatile sig_atomic_t TerminalRaw = 0;

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
    if (RetryOnEintr([&] { return ::poll(&Wait, 1, TimeoutMilliseconds); }) == 0) return TimedOut;
  }
  unsigned char Byte;
  return RetryOnEintr([&] { return ::read(TerminalFd, &Byte, 1); }) == 1 ? Byte : NoKey;
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

}  // namespace

void RestoreTerminal() {
  if (TerminalRaw) {
    ::tcsetattr(TerminalFd, TCSANOW, &TerminalMode);
    TerminalRaw = 0;
  }
}

int ReadKey() {
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

}  // namespace kerv::os
