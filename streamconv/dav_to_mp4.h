// One conversion of a DAV byte stream (media blocks, devsdk/proto/media_block.h) into an MP4
// file.
//
// Video: the H.264 pictures are copied from the first key picture that carries its parameter
// sets on; earlier pictures cannot be decoded and are dropped. Times are the capture times,
// counted from that picture.
// Audio: G.711 blocks become an AAC track (browsers do not play G.711 from MP4). The tracks are
// fixed when the file's header is written: at the first audio block of the first second of
// video, or, without one, after that second; audio that starts later is left out. Lens blocks
// are left out.
//
// Ends: close() (or destruction) finishes the file with every complete block given so far.
// Malformed input finishes it at once with what came before, and later input is ignored. A file
// that would hold no picture, or that could not be written, is removed.
//
// Used by one thread at a time (the handle's owner).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devsdk/proto/media_block.h"
#include "streamconv/g711_to_aac.h"
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
  struct Picture {
    bool key = false;
    int64_t pts_ms = 0;
    int64_t duration_ms = 0;
    std::vector<uint8_t> data;
  };

  // Each returns false when the file cannot be written.
  bool take(proto::MediaBlock& block);
  bool take_video(proto::MediaBlock& block);
  bool take_audio(const proto::MediaBlock& block);
  bool write(Picture& picture);
  bool start_file(bool with_audio);
  void end(bool input_failed);
  // The last interval between pictures, or 40 ms before there is one.
  int64_t pace_ms() const;

  proto::MediaBlockReader reader_;
  Mp4Writer writer_;
  State state_ = State::failed;  // until open() succeeds

  // The first usable key picture, from which the file starts.
  bool video_found_ = false;
  uint64_t first_ms_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> parameter_sets_;

  Picture pending_;              // held back until the next picture gives its duration
  bool pending_present_ = false;
  int64_t last_duration_ms_ = 0;
  std::vector<Picture> held_;    // pictures before the header is written
  std::unique_ptr<G711ToAac> audio_;  // while the file has an audio track
  proto::MediaBlock block_;      // reused for each block read
};

}  // namespace streamconv
