// A failure of the download phase that the user is told about: its box shows
// kTransferFailed followed by the failure's message. Any other error that
// ends the download phase puts the installation back without a box.
#pragma once

#include <string>

#include "base/error.h"

namespace UMain {

// The opening of that box (shipped text, kept byte for byte).
inline const std::string kTransferFailed = "升级过程中出现了错误了,错误信息如下：\r\r";

class TransferFailure : public base::Error {
 public:
  using base::Error::Error;
};

}  // namespace UMain
