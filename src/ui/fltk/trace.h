// A record of what the window showed, for the end-to-end tests: when the
// environment names a file in UPDATER_UI_TRACE, every text as it is drawn on
// the screen ("text") and as it is set ("set"), every progress value, message
// box and the layout go there as tab-separated lines.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace ui {

class Trace {
 public:
  Trace() {
    if (const char* path = std::getenv("UPDATER_UI_TRACE"); path && *path)
      file_ = std::fopen(path, "a");
  }
  ~Trace() {
    if (file_) std::fclose(file_);
  }
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  bool enabled() const { return file_ != nullptr; }

  void line(std::initializer_list<std::string> fields) {
    if (!file_) return;
    std::string out;
    for (const std::string& field : fields) {
      if (!out.empty()) out += '\t';
      for (char c : field) {
        switch (c) {
          case '\\':
            out += "\\\\";
            break;
          case '\t':
            out += "\\t";
            break;
          case '\r':
            out += "\\r";
            break;
          case '\n':
            out += "\\n";
            break;
          default:
            out += c;
        }
      }
    }
    out += '\n';
    std::fputs(out.c_str(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace ui
