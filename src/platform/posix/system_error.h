// Windows error codes and texts for failures of POSIX calls, so that the
// program words them as it does on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "base/error.h"

namespace platform::posix {

inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorShortWrite = base::kIoDiskFull;  // the runtime's "Disk full"
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorFilenameTooLong = 206;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;

// The directory a path names its entry in: "a/b/" and "a/b" -> "a", "b" -> ".".
std::string parentOf(std::string path);

// The Windows code for an errno value from a call on the (POSIX) path: a
// missing entry is "file not found" when its directory exists and "path not
// found" otherwise.
uint32_t windowsError(int error, const std::string& path);
// The same for calls that name no path.
uint32_t windowsError(int error);

// The system's English text for a Windows code, with its final period.
std::string windowsErrorText(uint32_t code);

}  // namespace platform::posix
