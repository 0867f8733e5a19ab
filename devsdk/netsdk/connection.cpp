#include "devsdk/netsdk/connection.h"

#include <chrono>
#include <list>

namespace netsdk {
namespace {

std::mutex reaper_lock;
std::list<std::thread> reaped;  // guarded by reaper_lock

}  // namespace

void reap(std::thread thread) {
  std::lock_guard<std::mutex> hold(reaper_lock);
  reaped.push_back(std::move(thread));
}

void join_reaped() {
  std::list<std::thread> threads;
  {
    std::lock_guard<std::mutex> hold(reaper_lock);
    threads.swap(reaped);
  }
  for (auto& t : threads) {
    if (t.get_id() == std::this_thread::get_id()) {
      reap(std::move(t));  // cannot join itself; it is ending and the next call joins it
    } else if (t.joinable()) {
      t.join();
    }
  }
}

std::shared_ptr<Connection> Connection::create(proto::net::Socket socket, uint32_t max_payload) {
  return std::shared_ptr<Connection>(new Connection(std::move(socket), max_payload));
}

Connection::Connection(proto::net::Socket socket, uint32_t max_payload)
    : socket_(std::move(socket)), max_payload_(max_payload) {}

Connection::~Connection() {
  if (reader_.joinable()) {
    // Only the reader thread can drop the last reference while it is joinable.
    if (reader_.get_id() == std::this_thread::get_id()) {
      reap(std::move(reader_));
    } else {
      reader_.join();
    }
  }
}

void Connection::start() {
  reader_ = std::thread([self = shared_from_this()] { self->read_loop(); });
}

bool Connection::alive() const {
  std::lock_guard<std::mutex> hold(lock_);
  return !closed_;
}

void Connection::read_loop() {
  proto::FrameReader frames(max_payload_);
  std::vector<uint8_t> buffer(64 * 1024);
  LossReason reason = LossReason::peer_closed;
  bool broken = false;
  proto::Message m;  // reused, so a stream's pictures do not each allocate their payload
  while (!broken) {
    long n = proto::net::receive_some(socket_.fd(), buffer.data(), buffer.size());
    if (n <= 0) break;
    frames.feed(buffer.data(), static_cast<size_t>(n));
    for (;;) {
      auto r = frames.next(m);
      if (r == proto::FrameReader::Result::need_more) break;
      if (r == proto::FrameReader::Result::message) {
        if (!deliver(m)) {
          reason = LossReason::malformed;
          broken = true;
          break;
        }
        continue;
      }
      reason = r == proto::FrameReader::Result::oversized ? LossReason::oversized : LossReason::malformed;
      broken = true;
      break;
    }
  }
  proto::net::shutdown_both(socket_.fd());
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }
  replied_.notify_all();
  bool asked = closing_.exchange(true);
  if (!asked && on_lost_) on_lost_(reason);
}

bool Connection::deliver(const proto::Message& m) {
  if (m.is_push()) {
    if (on_push_) on_push_(m);
    return true;
  }
  if (!m.is_reply()) return false;  // a device does not send requests
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = pending_.find(m.header.request_id);
    if (it == pending_.end()) return true;  // a reply that came after its caller gave up
    Pending* p = it->second;
    if (p->type != m.header.type) return false;
    p->status = m.header.status;
    p->payload = m.payload;
    p->done = true;
    pending_.erase(it);
  }
  replied_.notify_all();
  return true;
}

Connection::Reply Connection::request(proto::Type type, const std::vector<uint8_t>& payload, int wait_ms) {
  Reply reply;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms > 0 ? wait_ms : 1);
  uint32_t id = next_request_id_.fetch_add(1);
  if (id == 0) id = next_request_id_.fetch_add(1);
  Pending pending;
  pending.type = static_cast<uint16_t>(type);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return reply;
    pending_[id] = &pending;
  }
  auto bytes = proto::request_bytes(type, id, payload);
  bool sent;
  {
    std::lock_guard<std::mutex> hold(send_lock_);
    sent = proto::net::send_all(socket_.fd(), bytes.data(), bytes.size(), wait_ms);
  }
  std::unique_lock<std::mutex> hold(lock_);
  if (!sent) {
    pending_.erase(id);
    hold.unlock();
    abort();  // a message may have gone out in part: the stream is broken
    return reply;
  }
  replied_.wait_until(hold, deadline, [&] { return pending.done || closed_; });
  if (pending.done) {
    reply.outcome = Outcome::replied;
    reply.status = pending.status;
    reply.payload = std::move(pending.payload);
  } else {
    pending_.erase(id);
    reply.outcome = closed_ ? Outcome::closed : Outcome::timed_out;
  }
  return reply;
}

bool Connection::send_only(proto::Type type, const std::vector<uint8_t>& payload, int wait_ms) {
  if (!alive()) return false;
  auto bytes = proto::request_bytes(type, 0, payload);
  std::lock_guard<std::mutex> hold(send_lock_);
  return proto::net::send_all(socket_.fd(), bytes.data(), bytes.size(), wait_ms);
}

void Connection::abort() { proto::net::shutdown_both(socket_.fd()); }

void Connection::close() {
  closing_.store(true);
  proto::net::shutdown_both(socket_.fd());
  std::lock_guard<std::mutex> hold(join_lock_);
  if (!reader_.joinable()) return;
  if (reader_.get_id() == std::this_thread::get_id()) return;  // reaped when the connection dies
  reader_.join();
}

}  // namespace netsdk
