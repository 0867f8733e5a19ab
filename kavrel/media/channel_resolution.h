// The channel-resolution cache: the picture size each (device, channel, stream) had when it last
// started, kept in memory and in the file "ChanRes.dat" of the configuration folder, so a pane
// can be fitted to its video before the first frame arrives.
//
// The file is text: for each record five lines (device identifier, channel, stream, width,
// height). It is rewritten whole after each new record, into a temporary file that then replaces
// the old one, so a crash leaves the old file or the new one, never half of one. A damaged or
// cut file is read record by record as far as it is whole.
//
// Threads: the user-interface thread and the live start threads. `lock_` guards the records;
// `file_lock_` serialises writers of the file and is taken before `lock_`. No file is touched
// while `lock_` is held.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// The longest device identifier a record holds (bytes, without the terminating zero).
inline constexpr size_t kResolutionDevIdMax = 255;

struct ChannelResolution {
  std::string dev_id;
  int32_t channel = 0;
  int32_t stream = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const ChannelResolution&) const = default;
};

class ChannelResolutionCache {
 public:
  // Ignored unless width and height are positive and the identifier fits; an existing record
  // gets the new size, otherwise the record is appended. True when the list changed.
  bool Add(const std::string& dev_id, int32_t channel, int32_t stream, int32_t width, int32_t height);
  std::optional<ChannelResolution> Find(const std::string& dev_id, int32_t channel, int32_t stream) const;
  // Rewrites the file from the records; false when it could not be written (the old file, if
  // any, is then left as it was).
  bool Save(const std::string& path) const;
  // Adds the whole records of the file; false when it cannot be opened.
  bool Load(const std::string& path);
  std::vector<ChannelResolution> records() const;

 private:
  mutable std::mutex file_lock_;
  mutable std::mutex lock_;
  std::vector<ChannelResolution> records_;  // guarded by lock_
};

}  // namespace kavrel
