// One MP4 file written through libavformat: an H.264 track copied as it comes and, if asked, an
// audio track from an encoder, with the index moved to the front of the file when it is finished
// (a browser can play it while it loads).
//
// Used by one thread at a time (the converter's owner).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVPacket;
struct AVStream;

namespace streamconv {

class Mp4Writer {
 public:
  Mp4Writer() = default;
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;
  // Discards a file that was not finished.
  ~Mp4Writer();

  // Creates (or truncates) the file at `path`, a plain file path. False when it cannot be made.
  bool create(const std::string& path);
  // Declares the tracks and writes the file header: the video, whose `parameter_sets` are the
  // first SPS and PPS in Annex B form, and the audio of `audio_encoder` unless it is null.
  // False on failure.
  bool start(int width, int height, const std::vector<uint8_t>& parameter_sets,
             const AVCodecContext* audio_encoder);
  bool started() const { return started_; }
  // One picture in Annex B form; times in milliseconds from the start of the file, strictly
  // increasing. False on failure.
  bool write_video(int64_t pts_ms, int64_t duration_ms, bool key, const uint8_t* data, size_t size);
  // One packet of the audio encoder, its times in the encoder's time base. False on failure.
  bool write_audio(AVPacket* packet);
  // Writes the index, closes the file. False (and the file removed) on failure.
  bool finish();
  // Closes the file if open and removes it.
  void discard();

 private:
  void close_context();

  std::string path_;
  AVFormatContext* format_ = nullptr;
  AVStream* video_ = nullptr;
  AVStream* audio_ = nullptr;
  const AVCodecContext* audio_encoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool started_ = false;
};

}  // namespace streamconv
