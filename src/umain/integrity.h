// The check of a downloaded file against what the release lists for it: its
// size (an announced or received body longer than listed stops at once,
// nothing past the listed size is written) and its SHA-256, computed as the
// bytes arrive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/error.h"
#include "http/http_client.h"
#include "release/release_list.h"

namespace UMain {

// "<name>" is larger than the release lists (N bytes), and so on: the texts
// shown after the failed transfer's fixed text.
std::string LargerThanListed(const std::string& name, uint64_t listed);
std::string ShorterThanListed(const std::string& name, uint64_t received, uint64_t listed);
std::string NotMatchingRelease(const std::string& name);

// The whole file has arrived and is not what the release lists: shorter, or
// another SHA-256.
class NotAsListed : public base::Error {
 public:
  using base::Error::Error;
};

// Passes a body on to `target` while checking it; without a listed size or
// hash it only passes the body on. The file may be checked in several
// pieces: the bytes it already holds (kept), then bodies that go on from
// there.
class CheckedSink : public http::BodySink {
 public:
  CheckedSink(http::BodySink& target, const std::string& name, const release::Expected& expected);
  void announced(int64_t length) override;
  void write(const char* data, size_t size) override;
  // Bytes the file already holds, checked but not written again.
  void kept(const char* data, size_t size);
  // The check starts over from the file's first byte.
  void restart();
  uint64_t received() const { return received_; }
  // After the whole body: raises NotAsListed when it is short or differs.
  void finish();

 private:
  http::BodySink& target_;
  const std::string& name_;
  const release::Expected& expected_;
  uint64_t received_ = 0;
  std::optional<release::Sha256> sha256_;
};

}  // namespace UMain
