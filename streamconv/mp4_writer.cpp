#include "streamconv/mp4_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace streamconv {
namespace {

constexpr AVRational kMillisecond = {1, 1000};

// Removes what this writer made at `path`: a regular file. Anything else found there (a device
// such as /dev/null named as the destination) stays.
void remove_file(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(path.c_str());
}

}  // namespace

Mp4Writer::~Mp4Writer() {
  if (format_ != nullptr) discard();
  av_packet_free(&packet_);
}

bool Mp4Writer::create(const std::string& path) {
  if (format_ != nullptr || path.empty()) return false;
  // The "file:" prefix keeps a name such as "rtmp:x" or "http://..." a local file name; only the
  // file protocol may be opened, also when the muxer reopens the file to move the index.
  const std::string url = "file:" + path;
  if (avformat_alloc_output_context2(&format_, nullptr, "mp4", url.c_str()) < 0 || format_ == nullptr) {
    format_ = nullptr;
    return false;
  }
  format_->protocol_whitelist = av_strdup("file");
  packet_ = av_packet_alloc();
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  int opened = avio_open2(&format_->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, &options);
  av_dict_free(&options);
  if (opened < 0 || packet_ == nullptr || format_->protocol_whitelist == nullptr) {
    if (opened >= 0) {
      avio_closep(&format_->pb);
      remove_file(path);
    }
    avformat_free_context(format_);
    format_ = nullptr;
    return false;
  }
  path_ = path;
  return true;
}

bool Mp4Writer::start(int width, int height, const std::vector<uint8_t>& parameter_sets,
                      const AVCodecContext* audio_encoder) {
  if (format_ == nullptr || started_ || width <= 0 || height <= 0 || parameter_sets.empty()) return false;
  video_ = avformat_new_stream(format_, nullptr);
  if (video_ == nullptr) return false;
  AVCodecParameters* par = video_->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_H264;
  par->width = width;
  par->height = height;
  par->extradata = static_cast<uint8_t*>(av_mallocz(parameter_sets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (par->extradata == nullptr) return false;
  std::memcpy(par->extradata, parameter_sets.data(), parameter_sets.size());
  par->extradata_size = static_cast<int>(parameter_sets.size());
  video_->time_base = kMillisecond;
  if (audio_encoder != nullptr) {
    audio_ = avformat_new_stream(format_, nullptr);
    if (audio_ == nullptr || avcodec_parameters_from_context(audio_->codecpar, audio_encoder) < 0) return false;
    audio_->time_base = audio_encoder->time_base;
    audio_encoder_ = audio_encoder;
  }

  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "+faststart", 0);
  int written = avformat_write_header(format_, &options);
  av_dict_free(&options);
  if (written < 0) return false;
  started_ = true;
  return true;
}

bool Mp4Writer::write_video(int64_t pts_ms, int64_t duration_ms, bool key, const uint8_t* data, size_t size) {
  if (!started_ || size == 0 || size > static_cast<size_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return false;
  if (av_new_packet(packet_, static_cast<int>(size)) < 0) return false;
  std::memcpy(packet_->data, data, size);
  packet_->stream_index = video_->index;
  packet_->pts = pts_ms;
  packet_->dts = pts_ms;
  packet_->duration = duration_ms;
  if (key) packet_->flags |= AV_PKT_FLAG_KEY;
  av_packet_rescale_ts(packet_, kMillisecond, video_->time_base);
  int result = av_interleaved_write_frame(format_, packet_);
  av_packet_unref(packet_);
  return result >= 0;
}

bool Mp4Writer::write_audio(AVPacket* packet) {
  if (!started_ || audio_ == nullptr) return false;
  packet->stream_index = audio_->index;
  av_packet_rescale_ts(packet, audio_encoder_->time_base, audio_->time_base);
  return av_interleaved_write_frame(format_, packet) >= 0;
}

bool Mp4Writer::finish() {
  if (format_ == nullptr) return false;
  if (!started_) {
    discard();
    return false;
  }
  bool ok = av_write_trailer(format_) >= 0;
  ok = avio_closep(&format_->pb) >= 0 && ok;
  close_context();
  if (!ok) remove_file(path_);
  return ok;
}

void Mp4Writer::discard() {
  if (format_ == nullptr) return;
  avio_closep(&format_->pb);
  close_context();
  remove_file(path_);
}

void Mp4Writer::close_context() {
  avformat_free_context(format_);
  format_ = nullptr;
  video_ = nullptr;
  audio_ = nullptr;
  audio_encoder_ = nullptr;
  started_ = false;
}

}  // namespace streamconv
