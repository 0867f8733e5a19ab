#include "kavrel/media/channel_resolution.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace kavrel {
namespace {

// A whole decimal token that fits 32 bits.
bool parse_int32(const std::string& token, int32_t* value) {
  if (token.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long parsed = std::strtoll(token.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != 0) return false;
  if (parsed < std::numeric_limits<int32_t>::min() || parsed > std::numeric_limits<int32_t>::max()) return false;
  *value = static_cast<int32_t>(parsed);
  return true;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool ChannelResolutionCache::Add(const std::string& dev_id, int32_t channel, int32_t stream, int32_t width,
                                 int32_t height) {
  if (width <= 0 || height <= 0 || dev_id.empty() || dev_id.size() > kResolutionDevIdMax) return false;
  std::lock_guard<std::mutex> hold(lock_);
  for (ChannelResolution& r : records_) {
    if (r.channel == channel && r.stream == stream && r.dev_id == dev_id) {
      if (r.width == width && r.height == height) return false;
      r.width = width;
      r.height = height;
      return true;
    }
  }
  records_.push_back(ChannelResolution{dev_id, channel, stream, width, height});
  return true;
}

std::optional<ChannelResolution> ChannelResolutionCache::Find(const std::string& dev_id, int32_t channel,
                                                              int32_t stream) const {
  std::lock_guard<std::mutex> hold(lock_);
  for (const ChannelResolution& r : records_) {
    if (r.channel == channel && r.stream == stream && r.dev_id == dev_id) return r;
  }
  return std::nullopt;
}

std::vector<ChannelResolution> ChannelResolutionCache::records() const {
  std::lock_guard<std::mutex> hold(lock_);
  return records_;
}

bool ChannelResolutionCache::Save(const std::string& path) const {
  std::lock_guard<std::mutex> writer(file_lock_);
  // Taken inside the writer lock, so the last writer always writes the latest records.
  std::string text;
  for (const ChannelResolution& r : records()) {
    text += r.dev_id + "\n" + std::to_string(r.channel) + "\n" + std::to_string(r.stream) + "\n" +
            std::to_string(r.width) + "\n" + std::to_string(r.height) + "\n";
  }
  std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = write_all(fd, text) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool ChannelResolutionCache::Load(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  // Records of five whitespace-separated tokens; reading stops at the first record that is cut
  // short or whose numbers do not read, so nothing past the file's last whole record counts.
  std::vector<ChannelResolution> read;
  for (;;) {
    std::string tokens[5];
    bool whole = true;
    for (std::string& token : tokens) {
      if (!(in >> token)) {
        whole = false;
        break;
      }
    }
    // A last token that ran into the end of the file may have been cut: its line break is
    // missing, so the record is not whole.
    if (!whole || in.eof()) break;
    ChannelResolution r;
    r.dev_id = tokens[0];
    if (!parse_int32(tokens[1], &r.channel) || !parse_int32(tokens[2], &r.stream) ||
        !parse_int32(tokens[3], &r.width) || !parse_int32(tokens[4], &r.height)) {
      break;
    }
    read.push_back(std::move(r));
  }
  // Add drops records without a size and identifiers too long for a record.
  for (const ChannelResolution& r : read) Add(r.dev_id, r.channel, r.stream, r.width, r.height);
  return true;
}

}  // namespace kavrel
