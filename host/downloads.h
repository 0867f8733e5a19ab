// Files and sounds offered to the page under /download/<id>: bytes kept in memory (sounds) or
// a file on disk (what the control saved for the page). Ids are random, so a page can only
// fetch what it was told about.
//
// Threads: offered from the user-interface thread and the save watcher, looked up by the
// network thread; every member takes `lock_`.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace host {

struct Download {
  std::string name;          // the file name the page saves it under
  std::string content_type;
  bool attachment = true;    // served with Content-Disposition: attachment
  std::shared_ptr<const std::vector<uint8_t>> bytes;  // in memory, or
  std::string path;                                   // a file read when asked for
};

class Downloads {
 public:
  // Keeps at most `max_in_memory` entries of bytes; older ones are forgotten.
  explicit Downloads(size_t max_in_memory = 16) : max_in_memory_(max_in_memory) {}

  // Offers bytes; the same name and content offered again keeps its id (a page caches by URL).
  std::string offer_bytes(const std::string& name, const std::string& content_type, std::vector<uint8_t> bytes,
                          bool attachment);
  std::string offer_file(const std::string& name, const std::string& path, const std::string& content_type);
  std::optional<Download> find(const std::string& id) const;
  // "/download/<id>"
  static std::string url_of(const std::string& id) { return "/download/" + id; }

 private:
  const size_t max_in_memory_;
  mutable std::mutex lock_;
  std::map<std::string, Download> entries_;  // guarded by lock_
  std::deque<std::string> in_memory_;        // ids of byte entries, oldest first; guarded by lock_
  std::map<std::string, std::string> by_content_;  // name + content hash -> id; guarded by lock_
};

// A content type for a file name by its extension.
std::string content_type_for(const std::string& name);

}  // namespace host
