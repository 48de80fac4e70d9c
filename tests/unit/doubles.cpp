#include "doubles.h"

#include <fstream>
#include <random>
#include <sstream>

namespace testing_doubles {

namespace {

class FakeKey : public platform::RegistryKey {
 public:
  explicit FakeKey(const std::map<std::string, RegistryValue>& values) : values_(values) {}
  bool valueExists(const std::string& name) override { return values_.count(name) != 0; }
  std::string readString(const std::string& name) override {
    auto it = values_.find(name);
    if (it == values_.end()) return "";
    if (it->second.type != RegistryValue::String)
      throw base::Error("Invalid data type for '" + name + "'");
    return it->second.data;
  }

 private:
  const std::map<std::string, RegistryValue>& values_;
};

// A run that has ended already, after one wait that found it running.
class EndedProcess : public platform::Process {
 public:
  explicit EndedProcess(uint32_t code) : code_(code) {}
  std::optional<uint32_t> wait(uint32_t) override {
    if (!waited_) {
      waited_ = true;
      return std::nullopt;
    }
    return code_;
  }

 private:
  uint32_t code_;
  bool waited_ = false;
};

}  // namespace

uint32_t FakePlatform::startElevated(const std::string& arguments, const std::string& directory,
                                     std::unique_ptr<platform::Process>& process) {
  elevatedStarts.push_back(arguments + "|" + directory);
  if (elevationFailure) return elevationFailure;
  process = std::make_unique<EndedProcess>(elevatedExitCode);
  return 0;
}

std::unique_ptr<platform::RegistryKey> FakePlatform::openKeyReadOnly(const std::string& path,
                                                                     uint32_t access) {
  openAttempts.push_back(access);
  auto it = registry.find(path);
  if (it == registry.end()) return nullptr;
  return std::make_unique<FakeKey>(it->second);
}

TempWorkDir::TempWorkDir() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("updater-test-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(path_);
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(path_);
}

TempWorkDir::~TempWorkDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempWorkDir::windowsForm() const {
  std::string s = path_.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  if (s.back() != '\\') s += '\\';
  return s;
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testing_doubles
