// A 1920 x 1080 snapshot bitmap converted to JPEG (quality 95, 4:2:0) and to PNG by the control's
// conversion, file to file, against ImageMagick's convert doing the same from the same bitmap
// in the same run. Each side's figure is the median of its runs; the ratio is peer / ours.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kavrel/media/image_conversion.h"

extern char** environ;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRounds = 15;

using Clock = std::chrono::steady_clock;

// A camera-like frame: gradients, a few hard-edged objects, a clock-like text band and noise.
bool write_scene_bmp(const std::string& path) {
  const size_t row = static_cast<size_t>(kWidth) * 3;
  std::vector<uint8_t> file(54 + row * kHeight);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<uint32_t>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, kWidth);
  put32(22, kHeight);
  file[26] = 1;
  file[28] = 24;
  put32(34, static_cast<uint32_t>(row * kHeight));
  uint32_t state = 99;
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* p = file.data() + 54 + static_cast<size_t>(kHeight - 1 - y) * row;
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 29) - 4;
      int r = 40 + x * 120 / kWidth + noise, g = 60 + y * 100 / kHeight + noise, b = 90 + noise;
      if ((x - 600) * (x - 600) + (y - 500) * (y - 500) < 150 * 150) r = 200, g = 60, b = 40;
      if (x > 1200 && x < 1600 && y > 300 && y < 700) r = g = b = 230 - ((x / 8 + y / 8) % 2) * 120;
      if (y > 40 && y < 80 && x > 60 && x < 700 && ((x / 6) % 3 != 0)) r = g = b = 250;
      p[3 * x] = static_cast<uint8_t>(std::clamp(b, 0, 255));
      p[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
      p[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long file_size(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

#ifdef KAVREL_CONVERT
bool run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

}  // namespace

int main() {
  char dir_pattern[] = "/tmp/kavrel-snapshot-bench-XXXXXX";
  if (mkdtemp(dir_pattern) == nullptr) return 1;
  const std::string dir = dir_pattern;
  const std::string src = dir + "/frame.bmp";
  if (!write_scene_bmp(src)) return 1;
  std::printf("snapshot conversion, %d x %d 24-bit BMP, file to file, median of %d runs\n", kWidth, kHeight, kRounds);

  struct Target {
    const char* name;
    kavrel::media::ImageFormat format;
    const char* ext;
  } targets[] = {{"JPEG q95 4:2:0", kavrel::media::ImageFormat::jpeg, "jpg"},
                 {"PNG", kavrel::media::ImageFormat::png, "png"}};
  for (const Target& t : targets) {
    const std::string ours_out = dir + "/ours." + t.ext;
    std::vector<double> ours;
    for (int i = 0; i < kRounds; ++i) {
      auto start = Clock::now();
      if (!kavrel::media::convert_bitmap(src.c_str(), ours_out.c_str(), t.format, "bench")) return 1;
      ours.push_back(ms_since(start));
    }
    const double ours_ms = median(ours);
    std::printf("  %-15s ours %8.1f ms  (%ld bytes)\n", t.name, ours_ms, file_size(ours_out));
#ifdef KAVREL_CONVERT
    const std::string peer_out = dir + "/peer." + t.ext;
    std::vector<std::string> args = {KAVREL_CONVERT, src};
    if (t.format == kavrel::media::ImageFormat::jpeg) {
      args.insert(args.end(), {"-quality", "95", "-sampling-factor", "2x2,1x1,1x1"});
    }
    args.push_back(peer_out);
    std::vector<double> peer;
    for (int i = 0; i < kRounds; ++i) {
      auto start = Clock::now();
      if (!run(args)) {
        std::printf("  convert failed\n");
        return 1;
      }
      peer.push_back(ms_since(start));
    }
    const double peer_ms = median(peer);
    std::printf("  %-15s convert %5.1f ms  (%ld bytes)  ratio convert/ours %.2f\n", t.name, peer_ms,
                file_size(peer_out), peer_ms / ours_ms);
#else
    std::printf("  %-15s convert not installed: no ratio\n", t.name);
#endif
  }
  std::string cleanup = dir;
  for (const char* name : {"/frame.bmp", "/ours.jpg", "/ours.png", "/peer.jpg", "/peer.png"}) {
    std::remove((cleanup + name).c_str());
  }
  ::rmdir(dir.c_str());
  return 0;
}
