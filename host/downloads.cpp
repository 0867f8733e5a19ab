#include "host/downloads.h"

#include <strings.h>

#include "host/secrets.h"

namespace host {
namespace {

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

std::string Downloads::offer_bytes(const std::string& name, const std::string& content_type, std::vector<uint8_t> bytes,
                                   bool attachment) {
  std::string key = name + '\n' + std::to_string(bytes.size()) + '\n' + std::to_string(fnv1a(bytes));
  std::lock_guard<std::mutex> hold(lock_);
  if (auto known = by_content_.find(key); known != by_content_.end() && entries_.count(known->second) != 0) {
    return known->second;
  }
  std::string id = random_hex(16);
  Download entry;
  entry.name = name;
  entry.content_type = content_type;
  entry.attachment = attachment;
  entry.bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
  entries_[id] = std::move(entry);
  by_content_[key] = id;
  in_memory_.push_back(id);
  while (in_memory_.size() > max_in_memory_) {
    std::string old = in_memory_.front();
    in_memory_.pop_front();
    entries_.erase(old);
    std::erase_if(by_content_, [&](const auto& item) { return item.second == old; });
  }
  return id;
}

std::string Downloads::offer_file(const std::string& name, const std::string& path, const std::string& content_type) {
  std::string id = random_hex(16);
  Download entry;
  entry.name = name;
  entry.content_type = content_type;
  entry.path = path;
  std::lock_guard<std::mutex> hold(lock_);
  entries_[id] = std::move(entry);
  return id;
}

std::optional<Download> Downloads::find(const std::string& id) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = entries_.find(id);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

std::string content_type_for(const std::string& name) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".json", "application/json"}, {".png", "image/png"}, {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"}, {".bmp", "image/bmp"}, {".svg", "image/svg+xml"},
      {".ico", "image/x-icon"}, {".wav", "audio/wav"}, {".mp4", "video/mp4"},
      {".txt", "text/plain; charset=utf-8"}, {".woff2", "font/woff2"}, {".map", "application/json"},
  };
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = name.substr(dot);
    for (const auto& [suffix, type] : kTypes) {
      if (strcasecmp(ext.c_str(), suffix) == 0) return type;
    }
  }
  return "application/octet-stream";
}

}  // namespace host
