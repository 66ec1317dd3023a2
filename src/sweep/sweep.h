// The directory sweep's fixed texts and limits, shared with its tests.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kerv {

// Directories the sweep keeps open at once, whatever the depth: ancestors
// further up give their handles back and take them again on the way up.
// Small enough for a process limited to 64 descriptors.
inline constexpr std::size_t HeldDirectoryLimit = 16;

// The message for a failure, without its newline.
std::string ErrorMessage(const TFsStatus& Status);

// Appends Name as kerv32 prints a path: where the platform lets a name hold
// any byte, a byte below 32, the byte 127 and '\' are written as '\' and
// three octal digits ("\012" for a line feed), so that a line names exactly
// one file and no name reaches the terminal as a control sequence.
void AppendPrintable(std::string& Text, std::string_view Name);

// What a run refuses outright: every file under the root, for real.
inline constexpr char RootRefusal[] = "Refusing to delete every file under the root directory";

}  // namespace kerv
