// Writes the control's three short sounds as PCM WAVE files: 301 a shutter click (0.6 s, stereo,
// 48 kHz, 24-bit), 302 a two-tone beep (0.4 s, stereo, 48 kHz, 16-bit), 303 a rising alarm tone
// (2.4 s, stereo, 44.1 kHz, 16-bit). Run by hand; the files it writes are committed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool write_wave(const std::string& path, uint32_t rate, int bits, double seconds,
                const std::function<double(double)>& sample) {
  const uint32_t frames = static_cast<uint32_t>(rate * seconds);
  const int bytes = bits / 8;
  const uint32_t data_size = frames * 2u * static_cast<uint32_t>(bytes);
  std::vector<uint8_t> out;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  put(out, 36 + data_size, 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(out, 16, 4);
  put(out, 1, 2);  // PCM
  put(out, 2, 2);  // stereo
  put(out, rate, 4);
  put(out, rate * 2u * static_cast<uint32_t>(bytes), 4);
  put(out, 2u * static_cast<uint32_t>(bytes), 2);
  put(out, static_cast<uint32_t>(bits), 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(out, data_size, 4);
  const double full = std::pow(2.0, bits - 1) - 1;
  for (uint32_t i = 0; i < frames; ++i) {
    double v = std::fmax(-1.0, std::fmin(1.0, sample(static_cast<double>(i) / rate)));
    int32_t s = static_cast<int32_t>(std::lround(v * full));
    put(out, static_cast<uint32_t>(s), bytes);
    put(out, static_cast<uint32_t>(s), bytes);
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  uint32_t noise = 12345;
  auto next_noise = [&noise] {
    noise = noise * 1664525u + 1013904223u;
    return static_cast<double>(noise >> 8) / 8388608.0 - 1.0;
  };
  // Two clicks of filtered noise, the second softer: a shutter opening and closing.
  double low = 0;
  bool ok = write_wave(dir + "/301_snapshot.wav", 48000, 24, 0.6, [&](double t) {
    low += 0.35 * (next_noise() - low);
    double a = t < 0.08 ? std::exp(-t * 60) : 0;
    double b = t >= 0.14 && t < 0.3 ? 0.6 * std::exp(-(t - 0.14) * 45) : 0;
    return 0.8 * (a + b) * low;
  });
  ok = write_wave(dir + "/302_record.wav", 48000, 16, 0.4, [](double t) {
    double f = t < 0.18 ? 880 : 1320;
    double local = t < 0.18 ? t : t - 0.2;
    double env = local < 0 ? 0 : std::fmin(1.0, local * 200) * std::fmax(0.0, 1 - local / 0.2);
    return 0.5 * env * std::sin(2 * kPi * f * t);
  }) && ok;
  ok = write_wave(dir + "/303_alarm.wav", 44100, 16, 2.4, [](double t) {
    double cycle = std::fmod(t, 0.6) / 0.6;
    double phase = 2 * kPi * (600 * t + 600 * 0.6 * cycle * cycle / 2);
    double env = std::fmin(1.0, t * 50) * std::fmin(1.0, (2.4 - t) * 20);
    return 0.45 * env * std::sin(phase);
  }) && ok;
  return ok ? 0 : 1;
}
