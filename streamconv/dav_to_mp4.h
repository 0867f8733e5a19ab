// One conversion of a DAV byte stream (media blocks, devsdk/proto/media_block.h) into an MP4
// file. The H.264 pictures are copied from the first key picture that carries its parameter
// sets on; earlier pictures cannot be decoded and are dropped. Audio and lens blocks are left
// out: G.711 in MP4 does not play in browsers.
//
// Ends: close() (or destruction) finishes the file with every complete block given so far.
// Malformed input finishes it at once with what came before, and later input is ignored. A file
// that would hold no picture, or that could not be written, is removed.
//
// Used by one thread at a time (the handle's owner).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devsdk/proto/media_block.h"
#include "streamconv/mp4_writer.h"

namespace streamconv {

class DavToMp4 {
 public:
  enum class State { converting, finished, failed };

  DavToMp4() = default;
  DavToMp4(const DavToMp4&) = delete;
  DavToMp4& operator=(const DavToMp4&) = delete;
  ~DavToMp4() { close(); }

  // Creates the destination file. False when it cannot be created.
  bool open(const std::string& path);
  void input(const uint8_t* data, size_t size);
  void close();
  State state() const { return state_; }

 private:
  // A picture held back until the next one gives its duration.
  struct Pending {
    bool present = false;
    bool key = false;
    int64_t pts_ms = 0;
    std::vector<uint8_t> data;
  };

  void take(proto::MediaBlock& block);
  bool take_video(proto::MediaBlock& block);
  bool write_pending(int64_t duration_ms);
  // The last interval between pictures, or 40 ms before there is one.
  int64_t pace_ms() const;
  void end(bool input_failed);

  proto::MediaBlockReader reader_;
  Mp4Writer writer_;
  State state_ = State::failed;  // until open() succeeds
  uint64_t first_ms_ = 0;        // capture time of the first picture written
  int64_t last_duration_ms_ = 0;
  Pending pending_;
  proto::MediaBlock block_;      // reused for each block read
};

}  // namespace streamconv
