#include "platform/debug_channel.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/testing/debug_capture.h"

namespace {

TEST(DebugChannel, SinkReceivesWholeLinesFromManyThreads) {
  platform::testing::DebugCapture capture;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      std::string line(200, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) platform::debug_output(line.c_str());
    });
  }
  for (auto& w : writers) w.join();
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 800u);
  for (const auto& line : lines) {
    ASSERT_EQ(line.size(), 200u);
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "a line was interleaved";
  }
}

TEST(DebugChannel, NullLineIsIgnoredAndRemovingTheSinkStopsCapture) {
  std::vector<std::string> after;
  {
    platform::testing::DebugCapture capture;
    platform::debug_output(nullptr);
    platform::debug_output("kept");
    after = capture.lines();
  }
  EXPECT_EQ(after, std::vector<std::string>{"kept"});
}

}  // namespace
