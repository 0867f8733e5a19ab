// The last decoded picture of a stream, kept for a snapshot: the decoding thread hands over each
// picture (a reference, no copy), any thread writes the kept one as a bitmap file.
//
// Threads: the stream's decoding thread keeps, application threads save; the picture is guarded
// by lock_, which is never held across the conversion or the file's writing.
#pragma once

#include <mutex>

struct AVFrame;

namespace devsdk::render {

class PictureKeeper {
 public:
  PictureKeeper() = default;
  ~PictureKeeper();
  PictureKeeper(const PictureKeeper&) = delete;
  PictureKeeper& operator=(const PictureKeeper&) = delete;

  void keep(const AVFrame* picture);
  // What save() can report.
  enum class Saved { ok, no_picture, file_error };
  // Writes the kept picture to `path` as a 24-bit bottom-up BMP at the picture's size. Writes
  // nothing without a picture; a file that cannot be written in full is removed.
  Saved save_bmp(const char* path);

 private:
  std::mutex lock_;
  AVFrame* picture_ = nullptr;  // guarded by lock_; a reference to the decoder's picture
};

// Writes `picture` (any pixel format) to `path` as a 24-bit bottom-up BMP. False (and no file
// left behind) when it cannot.
bool write_bmp(const AVFrame* picture, const char* path);

}  // namespace devsdk::render
