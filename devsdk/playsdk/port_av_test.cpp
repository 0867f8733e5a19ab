// Sound and snapshots of play ports, fed with media blocks made here: the one sounding port, the
// volume, the ends the host is told of, and no snapshot before a picture.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "devsdk/playsdk/playsdk.h"
#include "devsdk/proto/g711.h"
#include "devsdk/proto/media_block.h"
#include "devsdk/proto/messages.h"
#include "devsdk/testing/sound_site.h"
#include "platform/window/window.h"

namespace {

using devsdk::testing::SoundSite;

bool eventually(const std::function<bool()>& done, int ms = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// 40 ms of a 1 kHz tone at amplitude 10000, as one audio block.
std::vector<uint8_t> tone_block() {
  std::vector<uint8_t> codes(320);
  for (size_t i = 0; i < codes.size(); ++i)
    codes[i] = proto::alaw_encode(static_cast<int16_t>(10000 * std::sin(6.283185307179586 * 1000.0 * static_cast<double>(i) / 8000.0)));
  std::vector<uint8_t> block;
  proto::append_media_block(block, proto::kFrameAudio, proto::kCodecG711A, 1, 0, 0, codes.data(), codes.size());
  return block;
}

class PortAvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site = std::make_shared<SoundSite>();
    platform::set_host_site(site);
    window = platform::create_window(platform::WindowSpec{nullptr, {0, 0, 160, 120}, platform::WS_VISIBLE, "pane"});
    ASSERT_NE(window, nullptr);
    for (int32_t& p : ports) {
      p = PLAY_OpenStreamPort(921600);
      ASSERT_GT(p, 0);
      ASSERT_EQ(PLAY_Play(p, window), 1);
    }
  }
  void TearDown() override {
    for (int32_t p : ports) PLAY_ReleasePort(p);
    platform::destroy_window(window);
    platform::set_host_site(nullptr);
  }
  void feed(int32_t port) {
    auto block = tone_block();
    ASSERT_EQ(PLAY_InputData(port, block.data(), static_cast<uint32_t>(block.size())), 1);
  }
  int32_t stream(int32_t port) const { return PLAY_SOUND_STREAM_BASE + port; }

  std::shared_ptr<SoundSite> site;
  platform::HWND window = nullptr;
  int32_t ports[2] = {};
};

TEST_F(PortAvTest, OnePortPlaysItsSoundAtItsVolume) {
  feed(ports[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(site->count(stream(ports[0])), 0u) << "silent until its sound is switched on";

  ASSERT_EQ(PLAYER_PlaySound(ports[0]), 1);
  feed(ports[0]);
  ASSERT_TRUE(eventually([&] { return site->count(stream(ports[0])) == 320; }));
  EXPECT_EQ(site->rate(stream(ports[0])), 8000);
  EXPECT_NEAR(devsdk::testing::peak(site->samples(stream(ports[0]))), 10000, 400);

  struct Case {
    int32_t volume;
    int expected_peak;
  };
  for (const Case& c : {Case{50, 5000}, Case{0, 0}, Case{250, 10000}, Case{-3, 0}}) {
    site->clear(stream(ports[0]));
    ASSERT_EQ(PLAYER_SetVolume(ports[0], c.volume), 1);
    feed(ports[0]);
    ASSERT_TRUE(eventually([&] { return site->count(stream(ports[0])) == 320; })) << c.volume;
    EXPECT_NEAR(devsdk::testing::peak(site->samples(stream(ports[0]))), c.expected_peak, 400) << c.volume;
  }

  // The second port's sound ends the first's.
  ASSERT_EQ(PLAYER_PlaySound(ports[1]), 1);
  EXPECT_EQ(site->stopped(), std::vector<int32_t>{stream(ports[0])});
  const size_t first = site->count(stream(ports[0]));
  feed(ports[0]);
  feed(ports[1]);
  ASSERT_TRUE(eventually([&] { return site->count(stream(ports[1])) == 320; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(site->count(stream(ports[0])), first);
  ASSERT_EQ(PLAYER_StopSound(), 1);
  EXPECT_EQ(site->stopped(), (std::vector<int32_t>{stream(ports[0]), stream(ports[1])}));
  EXPECT_EQ(PLAYER_PlaySound(9999), 0) << "no such port";
  EXPECT_EQ(PLAYER_SetVolume(9999, 10), 0);
}

TEST_F(PortAvTest, ReleasingTheSoundingPortEndsItsSound) {
  ASSERT_EQ(PLAYER_PlaySound(ports[1]), 1);
  ASSERT_EQ(PLAY_ReleasePort(ports[1]), 1);
  EXPECT_EQ(site->stopped(), std::vector<int32_t>{stream(ports[1])});
  ports[1] = PLAY_OpenStreamPort(921600);  // TearDown releases it
}

TEST_F(PortAvTest, NoSnapshotBeforeAPicture) {
  const auto path = std::filesystem::temp_directory_path() / "port_av_none.bmp";
  std::filesystem::remove(path);
  feed(ports[0]);  // sound is no picture
  EXPECT_EQ(PLAY_CapturePicture(ports[0], path.string().c_str()), 0);
  EXPECT_EQ(PLAY_GetLastError(ports[0]), static_cast<uint32_t>(PLAY_ORDER_ERROR));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(PLAY_CapturePicture(ports[0], nullptr), 0);
  EXPECT_EQ(PLAY_CapturePicture(9999, path.string().c_str()), 0);
}

}  // namespace
