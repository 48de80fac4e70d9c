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
      line("CopySize" + n, std::to_string(file.copy->expected.size.value_or(0)));
      line("CopyHash" + n, hashText(file.copy->expected.sha256.value_or(Digest{})));
    }
    for (size_t p = 0; p < file.patches.size(); ++p) {
      const Delta& patch = file.patches[p];
      const std::string m = n + "." + std::to_string(p + 1);
      line("Patch" + m, patch.name);
      line("PatchBase" + m, hashText(patch.base.value_or(Digest{})));
      line("PatchSize" + m, std::to_string(patch.expected.size.value_or(0)));
      line("PatchHash" + m, hashText(patch.expected.sha256.value_or(Digest{})));
    }
  }
  if (!list.expires.empty()) {
    text += "[Release]\r\n";
    line("Expires", list.expires);
  }
  return text;
}

}  // namespace release
