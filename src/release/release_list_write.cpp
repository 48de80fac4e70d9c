// writeReleaseList (release_list.h): update.ini as the publisher's tool
// writes it. It has a file of its own so that the updater, which only reads
// lists, links none of it: in a 64-bit Windows executable the linker keeps
// every function of an object it takes in, since each one's unwind entry
// refers to it.
#include <string>

#include "release/release_list.h"

namespace release {

std::string writeReleaseList(const ReleaseList& list) {
  std::string text;
  auto line = [&](const std::string& key, const std::string& value) {
    text += key + "=" + value + "\r\n";
  };
  text += "[Version]\r\n";
  line("NewVersion", list.newVersion);
  text += "[FileList]\r\n";
  line("Count", std::to_string(list.files.size()));
  for (size_t i = 0; i < list.files.size(); ++i) {
    const ListedFile& file = list.files[i];
    const std::string n = std::to_string(i + 1);
    line("File" + n, file.name);
    if (file.expected.size) line("Size" + n, std::to_string(*file.expected.size));
    if (file.expected.sha256) line("Hash" + n, hashText(*file.expected.sha256));
    if (file.copy) {
      line("Copy" + n, file.copy->name);
      line("CopySize" + n, std::to_string(file.copy->size));
      line("CopyHash" + n, hashText(file.copy->sha256));
    }
    for (size_t p = 0; p < file.patches.size(); ++p) {
      const Patch& patch = file.patches[p];
      const std::string m = n + "." + std::to_string(p + 1);
      line("Patch" + m, patch.name);
      line("PatchBase" + m, hashText(patch.baseSha256));
      line("PatchSize" + m, std::to_string(patch.size));
      line("PatchHash" + m, hashText(patch.sha256));
    }
  }
  if (!list.expires.empty()) {
    text += "[Release]\r\n";
    line("Expires", list.expires);
  }
  return text;
}

}  // namespace release
