#include "umain/integrity.h"

#include "base/error.h"

namespace UMain {

std::string LargerThanListed(const std::string& name, uint64_t listed) {
  return "\"" + name + "\" is larger than the release lists (" + std::to_string(listed) + " bytes)";
}

std::string ShorterThanListed(const std::string& name, uint64_t received, uint64_t listed) {
  return "\"" + name + "\" is shorter than the release lists (" + std::to_string(received) +
         " of " + std::to_string(listed) + " bytes)";
}

std::string NotMatchingRelease(const std::string& name) {
  return "\"" + name + "\" does not match the release (SHA-256)";
}

CheckedSink::CheckedSink(http::BodySink& target, const std::string& name,
                         const release::Expected& expected)
    : target_(target), name_(name), expected_(expected) {
  if (expected.sha256) sha256_.emplace();
}

void CheckedSink::announced(int64_t length) {
  if (expected_.size && static_cast<uint64_t>(length) > *expected_.size - received_)
    throw base::Error(LargerThanListed(name_, *expected_.size));
}

void CheckedSink::kept(const char* data, size_t size) {
  if (sha256_) sha256_->update(data, size);
  received_ += size;
}

void CheckedSink::restart() {
  received_ = 0;
  if (sha256_) sha256_.emplace();
}

void CheckedSink::write(const char* data, size_t size) {
  bool tooLong = false;
  if (expected_.size && size > *expected_.size - received_) {
    size = static_cast<size_t>(*expected_.size - received_);
    tooLong = true;
  }
  if (size > 0) {
    if (sha256_) sha256_->update(data, size);
    target_.write(data, size);
    received_ += size;
  }
  if (tooLong) throw base::Error(LargerThanListed(name_, *expected_.size));
}

void CheckedSink::finish() {
  if (expected_.size && received_ < *expected_.size)
    throw NotAsListed(ShorterThanListed(name_, received_, *expected_.size));
  if (sha256_ && sha256_->finish() != *expected_.sha256)
    throw NotAsListed(NotMatchingRelease(name_));
}

}  // namespace UMain
