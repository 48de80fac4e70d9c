// A failure of the download phase that the user is told about: its box shows
// kTransferFailed followed by the failure's message. Any other error that
// ends the download phase puts the installation back without a box.
#pragma once

#include <exception>
#include <string>

#include "base/error.h"

namespace UMain {

// The opening of that box (shipped text, kept byte for byte).
inline const std::string kTransferFailed = "升级过程中出现了错误了,错误信息如下：\r\r";

// The text a handler shows for a failure: the program's own errors carry it;
// any other (out of memory, a length error) is told by what the library says.
inline std::string ErrorMessage(const std::exception& e) {
  if (const auto* error = dynamic_cast<const base::Error*>(&e)) return error->message();
  return e.what();
}

class TransferFailure : public base::Error {
 public:
  using base::Error::Error;
};

}  // namespace UMain
