// The channel configuration block, the named "Encode" configuration and the video input
// capability, read from the device simulator and parsed with the ConfigSDK, at the offsets the
// brixa library reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "devsdk/configsdk/configsdk.h"
#include "devsdk/netsdk/netsdk.h"
#include "sim/device/device.h"

namespace {

using sim::device::Device;
using sim::device::Settings;

constexpr uint32_t err(uint32_t number) { return NET_ERROR_BASE | number; }

int32_t i32_at(const std::vector<uint8_t>& record, size_t offset) {
  int32_t v;
  std::memcpy(&v, record.data() + offset, sizeof v);
  return v;
}

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(NET_Init(nullptr, 0));
    NET_NetworkParams params{};
    params.wait_time_ms = 3000;
    NET_SetNetworkParam(&params);
  }
  void TearDown() override {
    NET_Cleanup();
    device.reset();
  }
  int32_t start(Settings s) {
    s.dev_id = "KVR-CFG";
    device = std::make_unique<Device>(s);
    if (!device->start()) return 0;
    return NET_Login("127.0.0.1", device->port(), "admin", "admin", NET_LOGIN_MODE_TCP, nullptr, nullptr, nullptr);
  }
  std::unique_ptr<Device> device;
};

TEST_F(ConfigTest, ChannelBlockCarriesTheResolutionCodesAtFortyAndOneHundredTwelve) {
  struct Case {
    const char* what;
    bool cif;
    uint8_t standard;
    uint8_t extra_code;
  };
  const Case cases[] = {{"D1 extra", false, 0, 0}, {"CIF extra", true, 0, 3}, {"D1 extra, NTSC", false, 1, 0}};
  for (const auto& c : cases) {
    Settings s;
    s.video.extra_cif = c.cif;
    s.video_standard = c.standard;
    s.video.channel_names = {"Entrada", "Caixa"};
    int32_t login = start(s);
    ASSERT_GT(login, 0) << c.what;
    std::vector<uint8_t> block(340, 0);
    uint16_t size = 340;
    std::memcpy(block.data(), &size, 2);
    uint32_t returned = 0;
    ASSERT_EQ(NET_GetDevConfig(login, NET_DEV_CHANNELCFG, 1, block.data(), 340, &returned, 3000), 1) << c.what;
    EXPECT_EQ(returned, 340u);
    EXPECT_EQ(block[0] | (block[1] << 8), 340);
    EXPECT_STREQ(reinterpret_cast<const char*>(block.data() + 4), "Caixa");
    EXPECT_EQ(block[40], 17) << c.what;  // main stream: 1280 x 720
    EXPECT_EQ(block[112], c.extra_code) << c.what;
    // A channel the device does not have, and a buffer one byte short.
    EXPECT_EQ(NET_GetDevConfig(login, NET_DEV_CHANNELCFG, 4, block.data(), 340, &returned, 3000), 0);
    EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
    EXPECT_EQ(NET_GetDevConfig(login, NET_DEV_CHANNELCFG, 0, block.data(), 339, &returned, 3000), 0);
    EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INSUFFICIENT_BUFFER));
    NET_Logout(login);
  }
}

TEST_F(ConfigTest, EncodeTextParsesIntoTheRecordWithMainAndExtraSizes) {
  struct Case {
    const char* what;
    bool cif;
    uint8_t standard;
    int32_t extra_width, extra_height;
  };
  const Case cases[] = {
      {"D1 PAL", false, 0, 704, 576}, {"CIF PAL", true, 0, 352, 288}, {"D1 NTSC", false, 1, 704, 480}};
  for (const auto& c : cases) {
    Settings s;
    s.video.extra_cif = c.cif;
    s.video_standard = c.standard;
    int32_t login = start(s);
    ASSERT_GT(login, 0);
    std::vector<char> text(32768, 0);
    int32_t error = -1;
    ASSERT_EQ(NET_GetNewDevConfig(login, "Encode", 2, text.data(), 32768, &error, 3000), 1) << c.what;
    EXPECT_EQ(error, 0);
    std::vector<uint8_t> record(1968, 0xAB);
    ASSERT_EQ(CLIENT_ParseData("Encode", text.data(), record.data(), 1968, nullptr), 1) << text.data();
    EXPECT_EQ(i32_at(record, 0), 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + 4), "Canal 3");
    EXPECT_EQ(i32_at(record, 96), 1280) << c.what;
    EXPECT_EQ(i32_at(record, 100), 720) << c.what;
    EXPECT_EQ(i32_at(record, 420), c.extra_width) << c.what;
    EXPECT_EQ(i32_at(record, 424), c.extra_height) << c.what;
    EXPECT_EQ(record[1967], 0);  // filled from zero
    NET_Logout(login);
  }
}

TEST_F(ConfigTest, VideoInputCapabilityTellsAFisheyeLens) {
  struct Case {
    const char* what;
    int channels;
    bool fisheye;
    int32_t expected;
  };
  const Case cases[] = {{"fisheye camera", 1, true, 1}, {"plain camera", 1, false, 0}, {"recorder", 4, false, 0}};
  for (const auto& c : cases) {
    Settings s;
    s.channels = c.channels;
    s.video.fisheye = c.fisheye;
    int32_t login = start(s);
    ASSERT_GT(login, 0);
    std::vector<char> text(32768, 0);
    int32_t error = -1;
    ASSERT_EQ(NET_QueryDevCaps(login, "devVideoInput.getCaps", 0, text.data(), 32768, &error, 3000), 1);
    std::vector<uint8_t> record(24, 0xAB);
    ASSERT_EQ(CLIENT_ParseData("devVideoInput.getCaps", text.data(), record.data(), 24, nullptr), 1);
    EXPECT_EQ(i32_at(record, 4), c.expected) << c.what;
    EXPECT_EQ(i32_at(record, 0), 1);
    NET_Logout(login);
  }
}

TEST_F(ConfigTest, RefusedQueriesGiveTheirErrorCodes) {
  int32_t login = start(Settings{});
  ASSERT_GT(login, 0);
  std::vector<char> text(32768, 0);
  int32_t error = -1;
  EXPECT_EQ(NET_GetNewDevConfig(login, "Nonexistent", 0, text.data(), 32768, &error, 3000), 0);
  EXPECT_EQ(error, NET_CFG_ERR_FAILED);
  EXPECT_EQ(NET_GetNewDevConfig(login, "Encode", 9, text.data(), 32768, &error, 3000), 0);
  EXPECT_EQ(error, NET_CFG_ERR_ILLEGAL_DATA);
  EXPECT_EQ(NET_GetNewDevConfig(login, "Encode", 0, text.data(), 16, &error, 3000), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(NET_GetNewDevConfig(login + 77, "Encode", 0, text.data(), 32768, &error, 3000), 0);
  EXPECT_EQ(NET_GetLastError(), 0x80000004u);
  EXPECT_EQ(NET_QueryDevCaps(login, nullptr, 0, text.data(), 32768, &error, 3000), 0);
  EXPECT_EQ(NET_GetLastError(), err(NET_ERR_ILLEGAL_PARAM));
}

TEST(ConfigParse, RefusesWhatIsNotItsConfiguration) {
  const char* caps = R"({"name":"devVideoInput.getCaps","channel":0,"caps":{"fisheye":true}})";
  const char* encode = R"({"name":"Encode","channel":0,"main":{"video":{"width":1280,"height":720}}})";
  std::vector<uint8_t> record(1968, 0);
  struct Case {
    const char* what;
    const char* command;
    const char* text;
    uint32_t size;
    int expected;
  };
  const Case cases[] = {
      {"encode", "Encode", encode, 1968, 1},
      {"caps", "devVideoInput.getCaps", caps, 24, 1},
      {"record one byte short", "Encode", encode, 1967, 0},
      {"caps record short", "devVideoInput.getCaps", caps, 23, 0},
      {"another configuration's text", "Encode", caps, 1968, 0},
      {"unknown command", "General", encode, 1968, 0},
      {"not JSON", "Encode", "Encode: 1280x720", 1968, 0},
      {"JSON array", "Encode", "[1,2]", 1968, 0},
      {"no main stream", "Encode", R"({"name":"Encode","extra":[]})", 1968, 0},
      {"huge numbers are held", "Encode",
       R"({"name":"Encode","main":{"video":{"width":1e300,"height":-1e300}}})", 1968, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CLIENT_ParseData(c.command, c.text, record.data(), c.size, nullptr), c.expected) << c.what;
  EXPECT_EQ(i32_at(record, 96), INT32_MAX);
  EXPECT_EQ(i32_at(record, 100), INT32_MIN);
  EXPECT_EQ(CLIENT_ParseData("Encode", encode, record.data(), 1968, record.data()), 0);  // reserved must be null
  EXPECT_EQ(CLIENT_ParseData("Encode", nullptr, record.data(), 1968, nullptr), 0);
}

}  // namespace
