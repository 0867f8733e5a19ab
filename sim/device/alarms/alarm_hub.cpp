#include "sim/device/alarms/alarm_hub.h"

#include <ctime>

#include "devsdk/proto/alarms.h"
#include "devsdk/proto/messages.h"

namespace sim::device {
namespace {

std::vector<uint8_t> event_bytes(uint32_t kind, int32_t channel, bool on) {
  proto::AlarmEvent e;
  e.kind = kind;
  e.channel = channel;
  e.state = on ? 1 : 0;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  e.time.year = static_cast<uint16_t>(local.tm_year + 1900);
  e.time.month = static_cast<uint8_t>(local.tm_mon + 1);
  e.time.day = static_cast<uint8_t>(local.tm_mday);
  e.time.hour = static_cast<uint8_t>(local.tm_hour);
  e.time.minute = static_cast<uint8_t>(local.tm_min);
  e.time.second = static_cast<uint8_t>(local.tm_sec);
  return proto::push_bytes(proto::Type::alarm_event, proto::encode(e));
}

}  // namespace

bool AlarmHub::subscribe(const std::shared_ptr<PushSink>& sink, const std::vector<uint8_t>& reply) {
  // The sink's lock is held from the snapshot until the states are sent, so a raise that comes
  // after the snapshot reaches this subscriber only after them.
  std::lock_guard<std::mutex> sending(sink->lock_);
  std::vector<uint8_t> bytes = reply;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [key, state] : states_) {
      auto e = event_bytes(key.first, key.second, state != 0);
      bytes.insert(bytes.end(), e.begin(), e.end());
    }
    sinks_.insert(sink);
    ++subscriptions_made_;
  }
  return sink->send_locked(bytes, kPushWaitMs);
}

void AlarmHub::unsubscribe(const std::shared_ptr<PushSink>& sink) {
  std::lock_guard<std::mutex> hold(lock_);
  sinks_.erase(sink);
}

void AlarmHub::raise(uint32_t kind, int32_t channel, bool on) {
  if (!proto::valid_alarm(kind, channel)) return;
  std::lock_guard<std::mutex> serial(raise_lock_);
  std::vector<std::shared_ptr<PushSink>> sinks;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (on) {
      states_[{kind, channel}] = 1;
    } else {
      states_.erase({kind, channel});
    }
    sinks.assign(sinks_.begin(), sinks_.end());
  }
  auto bytes = event_bytes(kind, channel, on);
  int sent = 0;
  for (const auto& sink : sinks)
    if (sink->send(bytes, kPushWaitMs)) ++sent;
  std::lock_guard<std::mutex> hold(lock_);
  pushes_sent_ += sent;
}

bool AlarmHub::is_on(uint32_t kind, int32_t channel) const {
  std::lock_guard<std::mutex> hold(lock_);
  return states_.count({kind, channel}) != 0;
}

size_t AlarmHub::subscribers() const {
  std::lock_guard<std::mutex> hold(lock_);
  return sinks_.size();
}

int AlarmHub::subscriptions_made() const {
  std::lock_guard<std::mutex> hold(lock_);
  return subscriptions_made_;
}

int AlarmHub::pushes_sent() const {
  std::lock_guard<std::mutex> hold(lock_);
  return pushes_sent_;
}

}  // namespace sim::device
