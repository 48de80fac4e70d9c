// check: fetches a published release the way a client does, through the
// updater's own HTTP client, and compares what the server gives with what
// update.ini lists: every file, compressed copy and patch, each body hashed
// as it arrives and never kept. Redirects are followed where the updater
// follows them (bytes it checks against a listed size and hash; the list
// itself only when it checks a signature) and refused elsewhere.
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "http/http_client.h"
#include "http/url.h"
#include "release/release_list.h"
#include "release/tool/files.h"

namespace release::tool {

namespace {

// What the server gave for one name.
struct Served {
  uint64_t size = 0;             // the bytes received
  std::optional<Digest> sha256;  // of the whole body, when it was read
  bool larger = false;           // longer than the listed size: the rest was not read
  std::string failure;           // why nothing usable came; empty when a body did
  std::vector<std::string> redirectedTo;
};

// A body longer than the listed size ends its GET there, as the updater's
// does: what a server sends past it is never read (it may not end).
struct LongerThanListed {};

// Hashes and counts a body as it arrives, up to a limit; keeps it only where
// asked to.
class HashingSink : public http::BodySink {
 public:
  HashingSink(std::optional<uint64_t> limit, Progress* progress, std::string* keep)
      : limit_(limit), progress_(progress), keep_(keep) {}

  void announced(int64_t length) override {
    if (limit_ && static_cast<uint64_t>(length) > *limit_) {
      received_ = *limit_;
      throw LongerThanListed{};
    }
  }
  void write(const char* data, size_t size) override {
    if (limit_ && size > *limit_ - received_) {
      received_ = *limit_;
      throw LongerThanListed{};
    }
    sha256_.update(data, size);
    received_ += size;
    if (keep_) keep_->append(data, size);
    if (progress_) progress_->add(size);
  }
  uint64_t received() const { return received_; }
  Digest finish() { return sha256_.finish(); }

 private:
  std::optional<uint64_t> limit_;
  Progress* progress_;
  std::string* keep_;
  Sha256 sha256_;
  uint64_t received_ = 0;
};

// The client's read limit holds only while it has a receiver of its progress
// events; the progress line counts the bodies in the sink instead.
class NoEvents : public http::Progress {
 public:
  void workBegin(int64_t) override {}
  void work(int64_t) override {}
};

// The failure's text on one line (a socket error's text has two).
std::string oneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  return text.empty() ? "not an http or https URL" : text;
}

class Fetcher {
 public:
  explicit Fetcher(std::string baseUrl) : baseUrl_(std::move(baseUrl)) {
    client_.setProgress(&noEvents_);
  }
  // Where the bodies' bytes are counted; null for nowhere.
  Progress* progress = nullptr;

  // The name below the update URL, as the updater asks for it: the listed
  // bytes as they are. A body past `limit` is not read further.
  Served fetch(const std::string& name, std::optional<uint64_t> limit, http::Redirects redirects,
               std::string* keep = nullptr) {
    Served served;
    HashingSink sink(limit, progress, keep);
    try {
      client_.get(baseUrl_ + name, sink, std::nullopt, redirects);
      served.sha256 = sink.finish();
    } catch (const LongerThanListed&) {
      served.larger = true;
    } catch (const base::Error& error) {
      served.failure = oneLine(error.message());
    }
    served.size = sink.received();
    served.redirectedTo = client_.redirectedTo();
    return served;
  }

 private:
  std::string baseUrl_;
  NoEvents noEvents_;
  http::Client client_;
};

std::string sizeText(uint64_t size) {
  return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::string listedText(const Expected& listed) {
  if (!listed.any()) return "listed without Size or Hash";
  std::string text = "listed";
  if (listed.size) text.append(1, ' ').append(sizeText(*listed.size));
  if (listed.sha256) text.append(1, ' ').append(hashText(*listed.sha256));
  return text;
}

std::string servedText(const Served& served) {
  std::string text;
  if (!served.failure.empty())
    text = "not served: " + served.failure;
  else if (served.larger)
    text = "served more than " + sizeText(served.size);
  else
    text = "served " + sizeText(served.size) + " " + hashText(*served.sha256);
  for (size_t i = 0; i < served.redirectedTo.size(); ++i)
    text += (i == 0 ? ", redirected to " : ", then to ") + served.redirectedTo[i];
  return text;
}

bool asListed(const Expected& listed, const Served& served) {
  return listed.any() && served.failure.empty() && !served.larger &&
         (!listed.size || served.size == *listed.size) &&
         (!listed.sha256 || served.sha256 == *listed.sha256);
}

// Bytes the updater checks against a listed size and hash may come from
// wherever the server sends it; anything else must be the server's own answer.
http::Redirects redirectsFor(const Expected& listed) {
  return listed.size && listed.sha256 ? http::Redirects::Follow : http::Redirects::Refuse;
}

}  // namespace

int check(const Invocation& invocation, const Console& console) {
  const std::string& baseUrl = invocation.operands[0];
  try {
    http::parseUrl(baseUrl);
  } catch (const base::Error&) {
    throw UsageError{"URL must be an http or https URL, not " + quoted(baseUrl)};
  }
  if (baseUrl.back() != '/')
    throw UsageError{"URL must end with \"/\": it names the folder that holds update.ini"};
  const Encoding encoding = encodingOf(invocation);
  const bool keyed = checksSignature(invocation);

  bool holds = true;
  auto report = [&](bool ok, const std::string& what) {
    console.out << lineMark(ok) << what << "\n";
    holds = holds && ok;
  };
  // The list and its signature, as the updater fetches them: a signed list is
  // taken from wherever the server sends the request on.
  Fetcher fetcher(baseUrl);
  const http::Redirects listRedirects = keyed ? http::Redirects::Follow : http::Redirects::Refuse;
  std::string bytes;
  Served served = fetcher.fetch("update.ini", kMaxListBytes, listRedirects, &bytes);
  report(served.failure.empty() && !served.larger, "update.ini: " + servedText(served));
  if (!holds) return kFailed;
  std::string signature;
  if (keyed) {
    served =
        fetcher.fetch("update.ini.minisig", kMaxListBytes, http::Redirects::Follow, &signature);
    report(served.failure.empty() && !served.larger, "update.ini.minisig: " + servedText(served));
    // A server without the file answers with an error status: the list is
    // then unsigned, which the signature's check says.
    signature = served.failure.empty() && !served.larger ? signature : std::string();
  }
  ReleaseList list;
  if (!checkListAsTheUpdater(bytes, signature, invocation, console, report, list)) return kFailed;

  // Every listed file, then every compressed copy and patch.
  struct Item {
    std::string line;  // "client.exe", "client.exe: patch 1 delta/..."
    std::string name;  // below the update URL
    const Expected* listed;
    bool isFile;
  };
  std::vector<Item> items;
  uint64_t work = 0;
  for (const ListedFile& file : list.files) {
    const std::string shown = toUtf8(file.name, encoding).value_or(file.name);
    items.push_back({shown, file.name, &file.expected, true});
    work += file.expected.size.value_or(0);
    auto add = [&](const std::string& what, const Delta& delta) {
      items.push_back({shown + ": " + what + " " + delta.name, delta.name, &delta.expected, false});
      work += delta.expected.size.value_or(0);
    };
    if (file.copy) add("compressed copy", *file.copy);
    for (size_t i = 0; i < file.patches.size(); ++i)
      add("patch " + std::to_string(i + 1), file.patches[i]);
  }
  // The lines are printed once the progress line has ended.
  std::vector<std::string> lines;
  size_t files = 0, goodFiles = 0, deltas = 0, goodDeltas = 0;
  {
    Progress progress(console.err, work, "fetching");
    fetcher.progress = &progress;
    for (const Item& item : items) {
      served = fetcher.fetch(item.name, item.listed->size, redirectsFor(*item.listed));
      const bool ok = asListed(*item.listed, served);
      (item.isFile ? files : deltas)++;
      (item.isFile ? goodFiles : goodDeltas) += ok;
      std::string line = lineMark(ok);
      line.append(item.line).append(": ").append(listedText(*item.listed)).append(", ");
      lines.push_back(line.append(servedText(served)).append("\n"));
    }
    fetcher.progress = nullptr;
  }
  for (const std::string& line : lines) console.out << line;
  console.out << goodFiles << " of " << files << " listed files are served as listed";
  if (!list.newVersion.empty())
    console.out << " (version " << toUtf8(list.newVersion, encoding).value_or(list.newVersion)
                << ")";
  console.out << "\n";
  if (deltas > 0)
    console.out << goodDeltas << " of " << deltas
                << " patches and compressed copies are served as listed\n";
  if (!keyed) console.out << kNoSignatureChecked;
  return holds && goodFiles == files && goodDeltas == deltas ? kOk : kFailed;
}

}  // namespace release::tool
