// What differs between the platforms in what a user sees: how a path is
// split, how options are told from specs, how the base spec and printed
// names are treated. A value, not a set of #ifdefs: the platform supplies
// its own (NativeRules), and the core takes it, so one test binary tests
// both sets. Standard headers only, and no platform's code.
#pragma once

namespace kerv {

struct TPathRules {
  // What the sweep joins names with; it separates the parts of a path too.
  char Separator;
  // '\' separates as well as '/'.
  bool BackslashSeparates;
  // "x:" at the start of a path names a drive ("C:" alone: the current
  // directory of drive C:).
  bool Drives;
  // File names ignore case: the base spec is upper-cased whole, so every
  // printed directory comes out in upper case. Where names are
  // case-sensitive, an upper-cased "/tmp/a/" would name another directory.
  bool UpperCaseBaseSpec;
  // Every argument that starts with '/' is an option. Where '/' starts an
  // absolute path, only "/?", "/Q", "/R" and "/S" (either case) are, as a
  // DOS habit.
  bool SlashStartsOptions;
  // Names may hold any byte but '/' and NUL: printed paths write control
  // bytes, DEL and '\' as octal escapes.
  bool EscapesPrintedNames;
  // The first byte of a double-byte character of the active code page,
  // whose second byte is never a separator, a dot or a wildcard; null where
  // there are none (UTF-8 never puts an ASCII byte inside a character).
  bool (*IsLeadByte)(unsigned char);
};

inline constexpr TPathRules PosixRules{'/', false, false, false, false, true, nullptr};
inline constexpr TPathRules WindowsRules{'\\', true, true, true, true, false, nullptr};

// The rules of the platform this program was built for.
const TPathRules& NativeRules();

}  // namespace kerv
