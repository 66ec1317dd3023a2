// Texts of the program's own that more than one test expects, byte for byte.
#pragma once

namespace kerv::testing {

inline const char* const UsageText =
    "\nKERV32 (Win32) 3.2 Jul 21 1999\n\nMulti-pattern file remover\n\n"
    "Usage: KERV [options] [d:][path]filename [&|!] [filename] [@filelist]...\n"
    "options:\n\n  -Q ask before delete file\n  -R recourse subdirectories\n  -S simulate\n\n";

}  // namespace kerv::testing
