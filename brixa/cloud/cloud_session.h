// The cloud session of a client: where the service is, who signs in, and the buffers of one
// HTTP exchange.
//
// Threads and locks. Cloud exports run on any caller thread (the control calls them from its
// UI thread, its callback thread and its command thread at once), each with a reference to its
// client, never with the client registry's lock. The client record points to a slot that holds
// the current session; the slot's pointer is read and swapped only under a process-wide slot
// lock, held for nothing but that. An operation takes its own reference to the session, so
// biz_create or biz_release on another thread never frees a session that is in use, and then
// holds the session's `exchange_lock` for the whole operation, so two exchanges never share the
// socket and buffers. A release of the session (biz_release, brixa_release, brixa_uninit)
// cancels it: the socket of the exchange in flight is shut down, so that exchange ends at once,
// and every later exchange on the session fails before it connects. Replacing the session with
// biz_create leaves exchanges in flight on the old one alone. Where these locks stand in the
// library's lock order: brixa/README.md.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "brixa/api/brixa.h"
#include "platform/sync/mutex.h"
#include "platform/thread_annotations.h"

namespace brixa::cloud {

// Time limits of one exchange. The defaults are the client's; tests shorten them.
struct ExchangeTiming {
  int connect_timeout_ms = 5000;
  int header_slice_ms = 1000;
  int header_first_slices = 200;  // empty slices allowed before the first bytes
  int header_next_slices = 100;   // empty slices allowed after each received chunk
  int body_slice_ms = 100;
  int body_slices = 100;          // empty slices in a row that end the body read
};

struct CloudSession {
  // Held by an operation for all of its exchanges and while it reads the reply.
  platform::Mutex exchange_lock;

  // Immutable after biz_create (tests shorten `timing` before their calls).
  char host[64] = {};
  uint16_t port = 80;
  char path[256] = {};
  char user[64] = {};
  char password[64] = {};
  char password_digest[33] = {};
  int32_t use_sess = 0;
  char app_key[128] = {};
  char app_pass[128] = {};
  ExchangeTiming timing;

  // One exchange's state, owned by the operation that holds the exchange lock.
  int32_t status GUARDED_BY(exchange_lock) = -1;
  char header[1024] GUARDED_BY(exchange_lock) = {};
  std::vector<char> body GUARDED_BY(exchange_lock) = std::vector<char>(2048);  // zero-terminated reply
  uint32_t content_length GUARDED_BY(exchange_lock) = 0;
  uint32_t received GUARDED_BY(exchange_lock) = 0;

  // The exchange's socket is opened and closed by the exchange and shut down by a cancel from
  // another thread, both under `socket_lock`, so a cancel never reaches a descriptor number
  // that has been closed and handed out again.
  // Opens `fd` as the exchange's socket; false (and `fd` closed) when the session is cancelled.
  bool adopt_socket(int fd) EXCLUDES(socket_lock_);
  void close_socket() EXCLUDES(socket_lock_);
  // Ends the exchange in flight and refuses every later one.
  void cancel() EXCLUDES(socket_lock_);
  bool cancelled() EXCLUDES(socket_lock_);
  bool has_socket() EXCLUDES(socket_lock_);

 private:
  platform::Mutex socket_lock_;
  int socket_ GUARDED_BY(socket_lock_) = -1;  // open only during an exchange
  bool cancelled_ GUARDED_BY(socket_lock_) = false;
};

// The session a biz_create with these arguments makes, or null when the URL holds no
// "http://". Texts are cut to their fields; user and password are kept only when both are
// non-empty.
std::shared_ptr<CloudSession> make_session(const char* app_key, const char* app_pass,
                                           const char* url, const char* user, const char* pass,
                                           int32_t use_sess);

// The client's current session (null when it has none).
std::shared_ptr<CloudSession> current_session(brixa_client* client);
// Replaces the client's session; calls in flight on the old one go on.
void set_session(brixa_client* client, std::shared_ptr<CloudSession> session);
// Removes the client's session and cancels its calls in flight (biz_release).
void release_session_of(brixa_client* client);
// Removes and frees the client's cloud slot, cancelling its session's calls in flight; the
// client is being released.
void destroy_cloud_slot(brixa_client* client);

}  // namespace brixa::cloud
