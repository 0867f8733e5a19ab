#include "brixa/core/callback_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using brixa::CallbackMessage;
using brixa::CallbackQueue;

constexpr size_t kRing = CallbackQueue::kRingBytes;
constexpr size_t kHeader = sizeof(CallbackMessage);

brixa_handle client() { return reinterpret_cast<brixa_handle>(0x1000); }

bool post_text(CallbackQueue& q, int32_t id, const std::string& text) {
  return q.post(client(), id, 0, 0, text.data(), static_cast<int32_t>(text.size()));
}

// Pops every message and returns their ids in delivery order.
std::vector<int32_t> drain(CallbackQueue& q) {
  std::vector<int32_t> ids;
  while (const CallbackMessage* m = q.peek_oldest()) {
    ids.push_back(m->id);
    q.pop_oldest();
  }
  return ids;
}

TEST(CallbackQueue, PaddedSizeLeavesRoomForTheNul) {
  struct Case {
    uint32_t info_len, padded;
  } cases[] = {{0, 0}, {1, 4}, {3, 4}, {4, 8}, {5, 8}, {7, 8}, {8, 12}, {4095, 4096}};
  for (const auto& c : cases) EXPECT_EQ(CallbackQueue::padded_size(c.info_len), c.padded) << c.info_len;
}

TEST(CallbackQueue, PayloadIsCopiedAndNulTerminatedAndEmptyPayloadHasNoPointer) {
  CallbackQueue q;
  char text[] = {'a', 'b', 'c', 'd'};
  ASSERT_TRUE(q.post(client(), 514, 7, -1, text, 4));
  text[0] = 'X';  // the queue holds its own copy
  ASSERT_TRUE(q.post(client(), 255, 0, 1, "ignored", 0));
  ASSERT_TRUE(q.post(client(), 256, 0, 1, nullptr, 12));

  const CallbackMessage* m = q.peek_oldest();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->info_len, 4u);
  EXPECT_STREQ(m->info, "abcd");
  EXPECT_EQ(m->param1, 7);
  EXPECT_EQ(m->param2, -1);
  q.pop_oldest();
  for (int i = 0; i < 2; ++i) {
    m = q.peek_oldest();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->info_len, 0u);
    EXPECT_EQ(m->info, nullptr);
    q.pop_oldest();
  }
  EXPECT_EQ(q.peek_oldest(), nullptr);
}

TEST(CallbackQueue, PayloadCloseToTheRingSizeIsDroppedAndLaterMessagesStillFit) {
  CallbackQueue q;
  EXPECT_FALSE(post_text(q, 1, std::string(kRing - 16, 'x')));
  EXPECT_FALSE(post_text(q, 2, std::string(kRing, 'x')));
  EXPECT_FALSE(q.wait_signal(0)) << "a dropped message is not signalled";
  EXPECT_TRUE(post_text(q, 3, "after"));
  EXPECT_TRUE(q.wait_signal(0));
  EXPECT_EQ(drain(q), std::vector<int32_t>{3});
}

TEST(CallbackQueue, AcceptsOnlyWithTwoHeadersOfSlackBeyondThePayload) {
  CallbackQueue q;
  ASSERT_TRUE(post_text(q, 1, std::string(100000 - 4, 'a')));  // padded 100000
  size_t free_bytes = kRing - q.used_bytes();
  // Fits physically (header + payload <= free) but leaves less than two headers of slack.
  uint32_t too_big = static_cast<uint32_t>(free_bytes - 2 * kHeader + 4);
  ASSERT_LE(kHeader + too_big, free_bytes);
  EXPECT_FALSE(post_text(q, 2, std::string(too_big - 4, 'b')));
  uint32_t just_fits = static_cast<uint32_t>(free_bytes - 2 * kHeader);
  EXPECT_TRUE(post_text(q, 3, std::string(just_fits - 4, 'c')));
  EXPECT_EQ(drain(q), (std::vector<int32_t>{1, 3}));
}

TEST(CallbackQueue, WrapsToTheStartOnlyWhenClearOfTheOldestMessage) {
  CallbackQueue q;
  const std::string block(30000, 'm');
  int accepted = 0;
  for (int id = 1; id <= 6; ++id) accepted += post_text(q, id, block);
  ASSERT_EQ(accepted, 6);  // about 180 KB of the ring in use, the tail near its end

  // Too big for the end of the ring, and the start is still held by message 1.
  EXPECT_FALSE(post_text(q, 100, block));

  // Once messages 1 and 2 are gone the start is free, and the message wraps there.
  q.pop_oldest();
  q.pop_oldest();
  const std::string wrapped(40000, 'w');
  ASSERT_TRUE(post_text(q, 7, wrapped));
  // A message that would run into the oldest one (message 3) is dropped.
  EXPECT_FALSE(post_text(q, 101, std::string(30000, 'z')));
  EXPECT_TRUE(post_text(q, 8, "small"));

  std::vector<int32_t> order;
  while (const CallbackMessage* m = q.peek_oldest()) {
    order.push_back(m->id);
    if (m->id == 7) {
      EXPECT_EQ(std::string(m->info, m->info_len), wrapped) << "the wrapped payload is intact";
    } else if (m->id == 8) {
      EXPECT_STREQ(m->info, "small");
    } else {
      EXPECT_EQ(std::string(m->info, m->info_len), block);
    }
    q.pop_oldest();
  }
  EXPECT_EQ(order, (std::vector<int32_t>{3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(q.used_bytes(), 0u);
}

TEST(CallbackQueue, ManySmallMessagesCycleThroughTheRingInOrder) {
  CallbackQueue q;
  int32_t next_post = 0, next_pop = 0;
  for (int round = 0; round < 50; ++round) {
    while (post_text(q, next_post, std::string(static_cast<size_t>(next_post % 97), 'p'))) ++next_post;
    for (int i = 0; i < 700; ++i) {
      const CallbackMessage* m = q.peek_oldest();
      ASSERT_NE(m, nullptr);
      ASSERT_EQ(m->id, next_pop);
      ASSERT_EQ(m->info_len, static_cast<uint32_t>(next_pop % 97));
      ++next_pop;
      q.pop_oldest();
    }
  }
  EXPECT_GT(next_post, 20000) << "the ring is reused after wrapping";
}

}  // namespace
