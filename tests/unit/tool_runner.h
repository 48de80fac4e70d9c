// The publisher's tool run in the test's own process, with what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "release/tool/tool.h"

namespace testing_doubles {

struct ToolResult {
  int code;
  std::string out;
  std::string err;
};

inline ToolResult Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = release::tool::run(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace testing_doubles
