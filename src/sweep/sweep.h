// The directory sweep's fixed texts and limits, shared with its tests.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace kerv {

// Directories the sweep keeps open at once, whatever the depth: ancestors
// further up give their handles back and take them again on the way up.
// Small enough for a process limited to 64 descriptors.
inline constexpr std::size_t HeldDirectoryLimit = 16;

// The message for a failure, without its newline.
std::string ErrorMessage(const TFsStatus& Status);

}  // namespace kerv
