// Creating a file that must not exist yet, as the publisher's tool writes the
// keys it makes: the test for an existing file and the creation are one step,
// so that no key is ever replaced, and a secret key is created readable by its
// owner alone rather than made so afterwards.
#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace release {

enum class NewFile { Written, Exists, Failed };

// Creates the file and writes the bytes. With ownerOnly only the user who runs
// the program may open it (mode 0600 on POSIX; on Windows an access list that
// names that user alone, not inherited from the folder). Failed sets `error`
// and leaves no file behind.
NewFile writeNewFile(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly,
                     std::error_code& error);

}  // namespace release
