// The converter through its C interface, as the control drives it: DAV bytes in blocks of up to
// 1024 bytes, the two closing calls, and the MP4 file checked with ffprobe and ffmpeg.
#include "streamconv/streamconv.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/proto/media_block.h"
#include "streamconv/testing/dav_file.h"
#include "streamconv/testing/synthetic_h264.h"

namespace {

using streamconv::testing::DavPicture;
using streamconv::testing::EncodedPicture;
using streamconv::testing::append_pictures;
using streamconv::testing::looped;

constexpr uint16_t kWidth = 320, kHeight = 240;
constexpr int kLoopPictures = 75;  // three seconds at 25 a second, a key picture each second
constexpr uint64_t kStartMs = 1765368000123;  // capture times are wall-clock milliseconds
constexpr uint64_t kFrameMs = 40;

const std::vector<EncodedPicture>& loop() {
  static const auto* pictures =
      new std::vector<EncodedPicture>(streamconv::testing::encode_synthetic_h264(kWidth, kHeight, kLoopPictures, 25, 400000));
  return *pictures;
}

std::vector<uint8_t> dav_of(const std::vector<DavPicture>& pictures, bool audio = false) {
  std::vector<uint8_t> out;
  append_pictures(out, pictures, kWidth, kHeight, audio);
  return out;
}

std::vector<uint8_t> whole_loop_dav() { return dav_of(looped(loop(), 0, kLoopPictures, kStartMs, kFrameMs), true); }

int open_descriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
    pclose(pipe);
  }
  return out;
}

// What ffprobe sees in an MP4 file, after decoding every picture.
struct StreamFacts {
  std::string type;   // "video", "audio"
  std::string codec;  // "h264", "aac"
  int frames = -1;
  double duration_s = -1;
};
struct Probe {
  std::vector<StreamFacts> streams;
  int frames = -1;         // of the video stream
  double duration_s = -1;  // of the file
  std::vector<std::string> types() const {
    std::vector<std::string> out;
    for (const StreamFacts& s : streams) out.push_back(s.type + "/" + s.codec);
    return out;
  }
};

Probe probe(const std::string& path) {
  // Lines such as: streams.stream.0.codec_name="h264", format.duration="3.000000"
  std::string text = run("ffprobe -v error -count_frames -show_entries "
                         "stream=codec_type,codec_name,nb_read_frames,duration:format=duration "
                         "-of flat '" + path + "' 2>&1");
  Probe p;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    if (key == "format.duration") {
      p.duration_s = std::atof(value.c_str());
      continue;
    }
    const std::string prefix = "streams.stream.";
    if (key.compare(0, prefix.size(), prefix) != 0) continue;
    size_t dot = key.find('.', prefix.size());
    if (dot == std::string::npos) continue;
    size_t index = static_cast<size_t>(std::atoi(key.substr(prefix.size(), dot - prefix.size()).c_str()));
    if (p.streams.size() <= index) p.streams.resize(index + 1);
    StreamFacts& stream = p.streams[index];
    std::string field = key.substr(dot + 1);
    if (field == "codec_type") stream.type = value;
    if (field == "codec_name") stream.codec = value;
    if (field == "nb_read_frames") stream.frames = std::atoi(value.c_str());
    if (field == "duration") stream.duration_s = std::atof(value.c_str());
  }
  for (const StreamFacts& stream : p.streams) {
    if (stream.type == "video") p.frames = stream.frames;
  }
  return p;
}

// ffmpeg's complaints while decoding every picture of the file; empty when it decodes cleanly.
std::string decode_errors(const std::string& path) {
  return run("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
}

// The file's sound as 16-bit samples at 8 kHz, decoded by ffmpeg.
std::vector<int16_t> decoded_sound(const std::string& path) {
  std::string raw = run("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -f s16le -ac 1 -ar 8000 - 2>/dev/null");
  std::vector<int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

// Types of the file's top-level boxes, in order.
std::vector<std::string> top_level_boxes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> boxes;
  size_t pos = 0;
  while (pos + 8 <= bytes.size()) {
    uint64_t size = (uint64_t{bytes[pos]} << 24) | (uint64_t{bytes[pos + 1]} << 16) | (uint64_t{bytes[pos + 2]} << 8) |
                    bytes[pos + 3];
    boxes.emplace_back(reinterpret_cast<const char*>(&bytes[pos + 4]), 4);
    if (size == 1 && pos + 16 <= bytes.size()) {
      size = 0;
      for (int i = 0; i < 8; ++i) size = (size << 8) | bytes[pos + 8 + static_cast<size_t>(i)];
    }
    if (size < 8) break;
    pos += size;
  }
  return boxes;
}

bool index_before_data(const std::string& path) {
  std::vector<std::string> boxes = top_level_boxes(path);
  auto moov = std::find(boxes.begin(), boxes.end(), "moov");
  auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
  return moov != boxes.end() && mdat != boxes.end() && moov < mdat;
}

class StreamConverter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(loop().size(), static_cast<size_t>(kLoopPictures)) << "libx264 is needed for the fixture";
    char pattern[] = "/tmp/streamconv_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_NE(SC_init() & 0xff, 0);
  }
  void TearDown() override {
    EXPECT_NE(SC_Cleanup() & 0xff, 0);
    run("rm -rf '" + dir_ + "'");
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // The control's sequence: open, the bytes in blocks of `chunk`, both closing calls.
  int32_t convert(const std::vector<uint8_t>& dav, const std::string& dest, size_t chunk = 1024) {
    void* handle = nullptr;
    int32_t opened = SC_Open(SC_FORMAT_MP4, dest.data(), static_cast<int32_t>(dest.size()), &handle);
    if (opened < 0) return opened;
    for (size_t pos = 0; pos < dav.size(); pos += chunk) {
      SC_InputData(handle, dav.data() + pos, static_cast<int32_t>(std::min(chunk, dav.size() - pos)));
    }
    SC_Close(handle);
    SC_Release(handle);
    return opened;
  }

  std::string dir_;
};

TEST_F(StreamConverter, CopiesTheVideoIntoAFaststartMp4OfTheRecordingsLength) {
  const std::string mp4 = path("out.mp4");
  ASSERT_GE(convert(whole_loop_dav(), mp4), 0);
  Probe p = probe(mp4);
  EXPECT_EQ(p.types(), (std::vector<std::string>{"video/h264", "audio/aac"}));  // G.711 becomes AAC
  EXPECT_EQ(p.frames, kLoopPictures);
  const double span_s = static_cast<double>((kLoopPictures - 1) * kFrameMs) / 1000.0;
  EXPECT_LE(std::fabs(p.duration_s - span_s), 0.040 + 1e-6) << p.duration_s;
  ASSERT_EQ(p.streams.size(), 2u);
  // 40 ms of sound a picture: as long as the video, to within an AAC frame (128 ms).
  EXPECT_LE(std::fabs(p.streams[1].duration_s - kLoopPictures * 0.040), 0.128) << p.streams[1].duration_s;
  EXPECT_TRUE(index_before_data(mp4));
  EXPECT_EQ(decode_errors(mp4), "");
}

TEST_F(StreamConverter, TheSoundIsTheDevicesTone) {
  const std::string mp4 = path("tone.mp4");
  ASSERT_GE(convert(whole_loop_dav(), mp4), 0);
  std::vector<int16_t> samples = decoded_sound(mp4);
  ASSERT_GE(samples.size(), static_cast<size_t>(kLoopPictures * 320 * 9 / 10));
  // Away from the encoder's start and end: the level and the pitch of the tone.
  double energy = 0;
  int crossings = 0;
  const size_t from = 2000, to = samples.size() - 2000;
  for (size_t i = from; i < to; ++i) {
    energy += static_cast<double>(samples[i]) * samples[i];
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  }
  const double seconds = static_cast<double>(to - from) / 8000.0;
  EXPECT_NEAR(std::sqrt(energy / static_cast<double>(to - from)), streamconv::testing::kToneAmplitude / std::sqrt(2.0),
              streamconv::testing::kToneAmplitude * 0.1);
  EXPECT_NEAR(crossings / seconds, 2.0 * streamconv::testing::kToneHz, 50);
}

TEST_F(StreamConverter, PicturesBeforeTheFirstKeyPictureAreDropped) {
  // Starts ten pictures into the first second: the first key picture is the loop's 25th.
  const std::string mp4 = path("late.mp4");
  ASSERT_GE(convert(dav_of(looped(loop(), 10, kLoopPictures - 10, kStartMs, kFrameMs), true), mp4), 0);
  Probe p = probe(mp4);
  EXPECT_EQ(p.types(), (std::vector<std::string>{"video/h264", "audio/aac"}));
  EXPECT_EQ(p.frames, kLoopPictures - 25);
  EXPECT_LE(std::fabs(p.duration_s - (kLoopPictures - 26) * 0.040), 0.040 + 1e-6) << p.duration_s;
  EXPECT_EQ(decode_errors(mp4), "");
}

TEST_F(StreamConverter, SoundThatStartsAfterTheFirstSecondIsLeftOut) {
  std::vector<DavPicture> pictures = looped(loop(), 0, kLoopPictures, kStartMs, kFrameMs);
  std::vector<uint8_t> dav = dav_of(std::vector<DavPicture>(pictures.begin(), pictures.begin() + 30));
  append_pictures(dav, std::vector<DavPicture>(pictures.begin() + 30, pictures.end()), kWidth, kHeight, true);
  const std::string mp4 = path("late_sound.mp4");
  ASSERT_GE(convert(dav, mp4), 0);
  Probe p = probe(mp4);
  EXPECT_EQ(p.types(), std::vector<std::string>{"video/h264"});
  EXPECT_EQ(p.frames, kLoopPictures);
}

TEST_F(StreamConverter, DurationFollowsTheCaptureTimes) {
  struct Case {
    const char* name;
    std::vector<uint64_t> intervals_ms;  // repeated
  };
  const Case cases[] = {
      {"12.5 a second", {80}},
      {"30 a second", {33, 33, 34}},
      {"uneven, with a pause", {40, 40, 40, 40, 40, 40, 40, 40, 40, 1000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DavPicture> pictures = looped(loop(), 0, kLoopPictures, kStartMs, 0);
    uint64_t t = kStartMs;
    uint64_t last_interval = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
      pictures[i].timestamp_ms = t;
      last_interval = c.intervals_ms[i % c.intervals_ms.size()];
      t += last_interval;
    }
    const double span_s = static_cast<double>(pictures.back().timestamp_ms - kStartMs) / 1000.0;
    const std::string mp4 = path("times.mp4");
    ASSERT_GE(convert(dav_of(pictures), mp4), 0);
    Probe p = probe(mp4);
    EXPECT_EQ(p.frames, kLoopPictures);
    EXPECT_GE(p.duration_s, span_s - 1e-6);
    EXPECT_LE(p.duration_s, span_s + 0.080 + 1e-6);  // the last picture lasts as long as the one before
  }
}

TEST_F(StreamConverter, CaptureTimesThatGoBackOrLeapKeepThePace) {
  std::vector<DavPicture> pictures = looped(loop(), 0, kLoopPictures, kStartMs, kFrameMs);
  for (size_t i = 30; i < pictures.size(); ++i) pictures[i].timestamp_ms -= 2000;  // clock set back
  pictures[40].timestamp_ms = 0;
  pictures[50].timestamp_ms = kStartMs + 400ull * 24 * 3600 * 1000;  // stray times
  pictures[51].timestamp_ms = UINT64_MAX;
  const std::string mp4 = path("back.mp4");
  ASSERT_GE(convert(dav_of(pictures), mp4), 0);
  Probe p = probe(mp4);
  EXPECT_EQ(p.frames, kLoopPictures);
  EXPECT_NEAR(p.duration_s, kLoopPictures * 0.040, 1e-6);  // the pictures keep their pace
  EXPECT_EQ(decode_errors(mp4), "");
}

TEST_F(StreamConverter, OutputDoesNotDependOnWhereTheInputIsCut) {
  const std::vector<uint8_t> dav = whole_loop_dav();
  std::map<size_t, std::string> files;
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{1024}, size_t{24}, dav.size()}) {
    const std::string mp4 = path("cut" + std::to_string(chunk) + ".mp4");
    ASSERT_GE(convert(dav, mp4, chunk), 0);
    std::ifstream in(mp4, std::ios::binary);
    files[chunk] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(files[chunk].empty());
    EXPECT_EQ(files[chunk], files.begin()->second) << "cut in blocks of " << chunk;
  }
}

// Bad input ends the conversion without a crash or a leaked file: the pictures before it are
// kept in a playable file, and a file that would hold none is not left behind.
TEST_F(StreamConverter, BadInputEndsTheConversionCleanly) {
  const std::vector<uint8_t> good = whole_loop_dav();
  const std::vector<uint8_t> video = dav_of(looped(loop(), 0, kLoopPictures, kStartMs, kFrameMs));
  std::vector<uint8_t> plain_frames;
  {
    std::vector<DavPicture> pictures = looped(loop(), 0, kLoopPictures, kStartMs, kFrameMs);
    std::vector<DavPicture> not_key;
    for (const DavPicture& p : pictures) {
      if (!p.picture->key) not_key.push_back(p);
    }
    plain_frames = dav_of(not_key);
  }
  std::vector<uint8_t> sound_only;
  {
    proto::MediaBlockReader reader;
    reader.feed(good.data(), good.size());
    proto::MediaBlock block;
    while (reader.next(block) == proto::MediaBlockReader::Result::block) {
      if (block.kind == streamconv::testing::kKindAudio) {
        proto::append_media_block(sound_only, block.kind, block.codec, block.timestamp_ms, 0, 0, block.data.data(),
                                  block.data.size());
      }
    }
  }
  std::vector<uint8_t> garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>((i * 7919) >> 3);
  auto joined = [](std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  std::vector<uint8_t> oversized;
  proto::append_media_block(oversized, 1, 1, kStartMs, kWidth, kHeight, nullptr, 0);
  oversized[20] = 0xff, oversized[21] = 0xff, oversized[22] = 0xff, oversized[23] = 0x7f;
  const std::vector<uint8_t> first_second = dav_of(looped(loop(), 0, 25, kStartMs, kFrameMs));
  const std::vector<uint8_t> later = dav_of(looped(loop(), 25, 50, kStartMs + 1000, kFrameMs));

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int frames;  // in the file; -1: no file
  };
  const Case cases[] = {
      {"no input", {}, -1},
      {"garbage", garbage, -1},
      {"no key picture", plain_frames, -1},
      {"sound only", sound_only, -1},
      {"half a header at the end", joined({good, {'K', 'V', 'M', 'B', 1, 1}}), kLoopPictures},
      {"half a block at the end", std::vector<uint8_t>(video.begin(), video.end() - 100), kLoopPictures - 1},
      {"garbage after a second, then good blocks", joined({first_second, garbage, later}), 25},
      {"a block longer than any frame", joined({first_second, oversized, later}), 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int descriptors = open_descriptors();
    const std::string mp4 = path("bad.mp4");
    ASSERT_GE(convert(c.bytes, mp4), 0);
    EXPECT_EQ(open_descriptors(), descriptors);
    if (c.frames < 0) {
      EXPECT_FALSE(exists(mp4));
      continue;
    }
    ASSERT_TRUE(exists(mp4));
    EXPECT_EQ(probe(mp4).frames, c.frames);
    EXPECT_TRUE(index_before_data(mp4));
    EXPECT_EQ(decode_errors(mp4), "");
    std::remove(mp4.c_str());
  }
}

// A destination that takes no data (a full disk): the conversion ends at the first failed write,
// its file is closed, and a destination that is not a regular file is not removed.
TEST_F(StreamConverter, AFailedWriteEndsTheConversion) {
  const std::string full = path("full");
  if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "making a device node needs root";
  const int descriptors = open_descriptors();
  void* handle = nullptr;
  ASSERT_GE(SC_Open(SC_FORMAT_MP4, full.data(), static_cast<int32_t>(full.size()), &handle), 0);
  const std::vector<uint8_t> dav = whole_loop_dav();
  for (size_t pos = 0; pos < dav.size(); pos += 1024) {
    SC_InputData(handle, dav.data() + pos, static_cast<int32_t>(std::min<size_t>(1024, dav.size() - pos)));
  }
  EXPECT_EQ(open_descriptors(), descriptors);  // closed at the failure, before the closing calls
  SC_Close(handle);
  SC_Release(handle);
  EXPECT_EQ(open_descriptors(), descriptors);
  struct stat st;
  ASSERT_EQ(stat(full.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// The destination is a file name, never a URL: "tcp:..." in the current folder is a file there.
TEST_F(StreamConverter, ADestinationThatLooksLikeAUrlIsALocalFile) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  const std::string name = "tcp:127.0.0.1:9.mp4";
  const int32_t opened = convert(whole_loop_dav(), name);
  ASSERT_EQ(chdir(previous), 0);
  ASSERT_GE(opened, 0);
  EXPECT_EQ(probe(path(name)).frames, kLoopPictures);
}

TEST_F(StreamConverter, CloseBeforeAnyInputLeavesNoFile) {
  const std::string mp4 = path("empty.mp4");
  void* handle = nullptr;
  ASSERT_GE(SC_Open(SC_FORMAT_MP4, mp4.data(), static_cast<int32_t>(mp4.size()), &handle), 0);
  EXPECT_TRUE(exists(mp4));  // made at once, so a destination that cannot be written fails the open
  SC_Close(handle);
  EXPECT_FALSE(exists(mp4));
  const std::vector<uint8_t> dav = whole_loop_dav();
  SC_InputData(handle, dav.data(), static_cast<int32_t>(dav.size()));  // after the close: ignored
  SC_Close(handle);
  SC_Release(handle);
  EXPECT_FALSE(exists(mp4));
}

TEST_F(StreamConverter, ReleaseWithoutCloseFinishesTheFile) {
  const std::string mp4 = path("released.mp4");
  void* handle = nullptr;
  ASSERT_GE(SC_Open(SC_FORMAT_MP4, mp4.data(), static_cast<int32_t>(mp4.size()), &handle), 0);
  const std::vector<uint8_t> dav = whole_loop_dav();
  SC_InputData(handle, dav.data(), static_cast<int32_t>(dav.size()));
  SC_Release(handle);
  EXPECT_EQ(probe(mp4).frames, kLoopPictures);
  EXPECT_TRUE(index_before_data(mp4));
}

TEST_F(StreamConverter, OpenRefusesWhatItCannotDo) {
  const std::string ok = path("ok.mp4");
  const std::string missing = path("no/such/folder/out.mp4");
  const std::string with_nul = ok + std::string(1, '\0') + "x";
  struct Case {
    const char* name;
    int32_t format;
    const char* path;
    int32_t bytes;
    bool handle;
    int32_t expected;
  };
  const Case cases[] = {
      {"folder missing", SC_FORMAT_MP4, missing.data(), static_cast<int32_t>(missing.size()), true, -1},
      {"no path", SC_FORMAT_MP4, nullptr, 5, true, -1},
      {"empty path", SC_FORMAT_MP4, ok.data(), 0, true, -1},
      {"negative length", SC_FORMAT_MP4, ok.data(), -4, true, -1},
      {"terminator inside the path", SC_FORMAT_MP4, with_nul.data(), static_cast<int32_t>(with_nul.size()), true, -1},
      {"no handle", SC_FORMAT_MP4, ok.data(), static_cast<int32_t>(ok.size()), false, -1},
      {"unknown format", 1, ok.data(), static_cast<int32_t>(ok.size()), true, -2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* handle = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(SC_Open(c.format, c.path, c.bytes, c.handle ? &handle : nullptr), c.expected);
    if (c.handle) {
      EXPECT_EQ(handle, nullptr);
    }
  }
  EXPECT_FALSE(exists(ok));
  EXPECT_FALSE(exists(path("no")));
}

TEST_F(StreamConverter, HandlesNotGivenOutOrReleasedAreIgnored) {
  const std::string mp4 = path("once.mp4");
  void* handle = nullptr;
  ASSERT_GE(SC_Open(SC_FORMAT_MP4, mp4.data(), static_cast<int32_t>(mp4.size()), &handle), 0);
  SC_Release(handle);
  const std::vector<uint8_t> dav = whole_loop_dav();
  int local = 0;
  for (void* stale : {handle, static_cast<void*>(&local), static_cast<void*>(nullptr)}) {
    SC_InputData(stale, dav.data(), static_cast<int32_t>(dav.size()));
    SC_Close(stale);
    SC_Release(stale);
  }
  EXPECT_FALSE(exists(mp4));
}

TEST_F(StreamConverter, InitIsCountedAndOpenNeedsIt) {
  // The fixture holds one count.
  ASSERT_NE(SC_init() & 0xff, 0);
  EXPECT_NE(SC_Cleanup() & 0xff, 0);
  const std::string mp4 = path("open.mp4");
  void* open_before = nullptr;
  ASSERT_GE(SC_Open(SC_FORMAT_MP4, mp4.data(), static_cast<int32_t>(mp4.size()), &open_before), 0);
  EXPECT_NE(SC_Cleanup() & 0xff, 0);
  EXPECT_EQ(SC_Cleanup() & 0xff, 0);  // not initialised any more

  const std::string refused = path("refused.mp4");
  void* handle = nullptr;
  EXPECT_EQ(SC_Open(SC_FORMAT_MP4, refused.data(), static_cast<int32_t>(refused.size()), &handle), -3);
  EXPECT_FALSE(exists(refused));

  // A converter opened before the last cleanup still belongs to its owner and finishes its file.
  const std::vector<uint8_t> dav = whole_loop_dav();
  SC_InputData(open_before, dav.data(), static_cast<int32_t>(dav.size()));
  SC_Close(open_before);
  SC_Release(open_before);
  EXPECT_EQ(probe(mp4).frames, kLoopPictures);
  ASSERT_NE(SC_init() & 0xff, 0);  // for the fixture's cleanup
}

TEST_F(StreamConverter, ThreadsConvertAndCountInitsAtTheSameTime) {
  const std::vector<uint8_t> dav = whole_loop_dav();
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  std::vector<int32_t> results(kThreads, -100);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        SC_init();
        SC_Cleanup();
      }
      results[static_cast<size_t>(t)] = convert(dav, path("thread" + std::to_string(t) + ".mp4"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_GE(results[static_cast<size_t>(t)], 0);
    EXPECT_EQ(probe(path("thread" + std::to_string(t) + ".mp4")).frames, kLoopPictures);
  }
  // Back to the fixture's one count.
  EXPECT_NE(SC_Cleanup() & 0xff, 0);
  EXPECT_EQ(SC_Cleanup() & 0xff, 0);
  ASSERT_NE(SC_init() & 0xff, 0);
}

}  // namespace
