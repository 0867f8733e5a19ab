// streamconv_bench: a 10-minute 720p recording (25 pictures a second, a key picture each second)
// converted from DAV to MP4 the way the control does it (the file read in blocks of 1024 bytes
// into the converter), against ffmpeg remuxing the same pictures from a raw H.264 file
// (`ffmpeg -f h264 -framerate 25 -i x.h264 -c copy -movflags +faststart out.mp4`), alternating in
// one run. Both are timed on the wall clock and in CPU time (user and system), ffmpeg including
// its start; the figure is the H.264 payload (the same bytes on both sides) per second, and the
// ratio is ours over ffmpeg's. Beside them, for information (ffmpeg has no peer for it), the same
// recording with G.711 sound, which the converter turns into AAC. The files lie in /dev/shm (in memory) where it exists, so the disk
// of a shared machine does not decide the result.
//
//   streamconv_bench [repetitions, default 5] [minutes, default 10]
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "streamconv/streamconv.h"
#include "streamconv/testing/dav_file.h"
#include "streamconv/testing/synthetic_h264.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using streamconv::testing::EncodedPicture;

constexpr int kWidth = 1280, kHeight = 720;
constexpr int kLoopPictures = 50;
constexpr int kPicturesPerSecond = 25;
constexpr uint64_t kStartMs = 1765368000000;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double cpu_seconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double self_cpu_seconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return cpu_seconds(u);
}

// One conversion's cost; negative seconds on failure.
struct Timing {
  double wall_s = -1;
  double cpu_s = -1;
};

off_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Writes the DAV file and the raw H.264 file of `pictures` pictures taken from `loop` in turn.
bool write_inputs(const std::vector<EncodedPicture>& loop, size_t pictures, const std::string& dav_path,
                  const std::string& dav_sound_path, const std::string& h264_path, uint64_t& payload_bytes) {
  FILE* dav = std::fopen(dav_path.c_str(), "wb");
  FILE* dav_sound = std::fopen(dav_sound_path.c_str(), "wb");
  FILE* h264 = std::fopen(h264_path.c_str(), "wb");
  bool ok = dav != nullptr && dav_sound != nullptr && h264 != nullptr;
  payload_bytes = 0;
  std::vector<uint8_t> blocks;
  for (size_t first = 0; ok && first < pictures; first += loop.size()) {
    size_t count = std::min(loop.size(), pictures - first);
    auto chunk = streamconv::testing::looped(loop, 0, count, kStartMs + first * 1000 / kPicturesPerSecond,
                                             1000 / kPicturesPerSecond);
    blocks.clear();
    streamconv::testing::append_pictures(blocks, chunk, kWidth, kHeight, false);
    ok = std::fwrite(blocks.data(), 1, blocks.size(), dav) == blocks.size();
    blocks.clear();
    streamconv::testing::append_pictures(blocks, chunk, kWidth, kHeight, true);
    ok = ok && std::fwrite(blocks.data(), 1, blocks.size(), dav_sound) == blocks.size();
    for (size_t i = 0; ok && i < count; ++i) {
      const std::vector<uint8_t>& bytes = loop[i].bytes;
      ok = std::fwrite(bytes.data(), 1, bytes.size(), h264) == bytes.size();
      payload_bytes += bytes.size();
    }
  }
  if (dav != nullptr) ok = std::fclose(dav) == 0 && ok;
  if (dav_sound != nullptr) ok = std::fclose(dav_sound) == 0 && ok;
  if (h264 != nullptr) ok = std::fclose(h264) == 0 && ok;
  return ok;
}

// The control's conversion: SC_init, SC_Open, the file in blocks of 1024 bytes, both closing
// calls, SC_Cleanup.
Timing convert(const std::string& dav_path, const std::string& mp4_path) {
  Clock::time_point start = Clock::now();
  double cpu_start = self_cpu_seconds();
  if ((SC_init() & 0xff) == 0) return {};
  FILE* in = std::fopen(dav_path.c_str(), "rb");
  void* handle = nullptr;
  if (in == nullptr || SC_Open(SC_FORMAT_MP4, mp4_path.data(), static_cast<int32_t>(mp4_path.size()), &handle) < 0) {
    if (in != nullptr) std::fclose(in);
    SC_Cleanup();
    return {};
  }
  uint8_t block[1024];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, in)) > 0) SC_InputData(handle, block, static_cast<int32_t>(n));
  SC_Close(handle);
  SC_Release(handle);
  SC_Cleanup();
  std::fclose(in);
  return Timing{seconds_since(start), self_cpu_seconds() - cpu_start};
}

// ffmpeg's remux of the raw stream, start to exit.
Timing ffmpeg_remux(const std::string& h264_path, const std::string& mp4_path) {
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "h264",
                                   "-framerate", "25", "-i", h264_path, "-c", "copy", "-movflags", "+faststart",
                                   mp4_path};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Clock::time_point start = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return {};
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return Timing{seconds_since(start), cpu_seconds(usage)};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int minutes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const size_t pictures = static_cast<size_t>(minutes) * 60 * kPicturesPerSecond;

  std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/streamconv_bench.XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string dir = pattern;
  const std::string dav = dir + "/in.dav", dav_sound = dir + "/sound.dav", h264 = dir + "/in.h264";
  const std::string ours_mp4 = dir + "/ours.mp4", ffmpeg_mp4 = dir + "/ffmpeg.mp4";

  std::printf("encoding a loop of %d pictures of %dx%d...\n", kLoopPictures, kWidth, kHeight);
  std::vector<EncodedPicture> loop =
      streamconv::testing::encode_synthetic_h264(kWidth, kHeight, kLoopPictures, kPicturesPerSecond, 2000000);
  uint64_t payload = 0;
  if (loop.empty() || !write_inputs(loop, pictures, dav, dav_sound, h264, payload)) {
    std::fprintf(stderr, "cannot make the inputs in %s\n", dir.c_str());
    return 1;
  }
  const double payload_mb = static_cast<double>(payload) / 1e6;
  std::printf("recording: %d min, %zu pictures, H.264 %.1f MB, DAV %.1f MB\n", minutes, pictures, payload_mb,
              static_cast<double>(file_size(dav)) / 1e6);

  // A first untimed round of each warms the page cache and the libraries.
  if (convert(dav, ours_mp4).wall_s < 0 || ffmpeg_remux(h264, ffmpeg_mp4).wall_s < 0) {
    std::fprintf(stderr, "a warm-up conversion failed (is ffmpeg installed?)\n");
    return 1;
  }
  std::vector<double> ours_wall, ours_cpu, theirs_wall, theirs_cpu, sound_wall, sound_cpu;
  for (int r = 0; r < repetitions; ++r) {
    Timing a = convert(dav, ours_mp4);
    Timing b = ffmpeg_remux(h264, ffmpeg_mp4);
    Timing c = convert(dav_sound, ours_mp4);
    if (a.wall_s <= 0 || b.wall_s <= 0 || c.wall_s <= 0) {
      std::fprintf(stderr, "repetition %d failed\n", r + 1);
      return 1;
    }
    ours_wall.push_back(a.wall_s);
    ours_cpu.push_back(a.cpu_s);
    theirs_wall.push_back(b.wall_s);
    theirs_cpu.push_back(b.cpu_s);
    sound_wall.push_back(c.wall_s);
    sound_cpu.push_back(c.cpu_s);
    std::printf("  run %d: streamconv %.3f s wall, %.3f s CPU; ffmpeg %.3f s wall, %.3f s CPU; "
                "with sound %.3f s wall, %.3f s CPU\n",
                r + 1, a.wall_s, a.cpu_s, b.wall_s, b.cpu_s, c.wall_s, c.cpu_s);
  }
  const double ow = median(ours_wall), oc = median(ours_cpu), tw = median(theirs_wall), tc = median(theirs_cpu);
  std::printf("median of %d, wall clock: streamconv %.0f MB/s, ffmpeg -c copy %.0f MB/s, ratio %.2f\n", repetitions,
              payload_mb / ow, payload_mb / tw, tw / ow);
  std::printf("median of %d, CPU time:   streamconv %.0f MB/s, ffmpeg -c copy %.0f MB/s, ratio %.2f\n", repetitions,
              payload_mb / oc, payload_mb / tc, tc / oc);
  std::printf("(target: a ratio of at least 0.90)\n");
  std::printf("with G.711 sound made AAC: %.0f MB/s wall, %.0f MB/s CPU; ratio to ffmpeg's video remux %.2f wall, "
              "%.2f CPU\n",
              payload_mb / median(sound_wall), payload_mb / median(sound_cpu), tw / median(sound_wall),
              tc / median(sound_cpu));
  std::printf("MP4 sizes: streamconv %.1f MB, ffmpeg %.1f MB\n", static_cast<double>(file_size(ours_mp4)) / 1e6,
              static_cast<double>(file_size(ffmpeg_mp4)) / 1e6);
  for (const std::string& f : {dav, dav_sound, h264, ours_mp4, ffmpeg_mp4}) std::remove(f.c_str());
  rmdir(dir.c_str());
  return 0;
}
