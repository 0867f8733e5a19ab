#include "brixa/cloud/cloud_session.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "brixa/cloud/crypto.h"
#include "brixa/cloud/service_url.h"
#include "brixa/core/client.h"
#include "brixa/core/client_registry.h"

namespace brixa::cloud {
namespace {

// What brixa_client::cloud_session points to once the client has had a session.
struct CloudSlot {
  std::shared_ptr<CloudSession> session;
};

// Guards every client's `cloud_session` pointer and the slot behind it.
platform::Mutex slot_lock;

const char* or_empty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

std::shared_ptr<CloudSession> make_session(const char* app_key, const char* app_pass,
                                           const char* url, const char* user, const char* pass,
                                           int32_t use_sess) {
  ServiceUrl parsed;
  if (!parse_service_url(url, parsed)) return nullptr;
  auto session = std::make_shared<CloudSession>();
  copy_text(session->host, parsed.host.c_str());
  session->port = parsed.port;
  copy_text(session->path, parsed.path.c_str());
  copy_text(session->app_key, or_empty(app_key));
  copy_text(session->app_pass, or_empty(app_pass));
  if (user != nullptr && pass != nullptr && user[0] != 0 && pass[0] != 0) {
    copy_text(session->user, user);
    copy_text(session->password, pass);
    copy_text(session->password_digest, md5_hex(session->password, std::strlen(session->password)).c_str());
  }
  session->use_sess = use_sess;
  return session;
}

std::shared_ptr<CloudSession> current_session(brixa_client* client) {
  platform::MutexLock hold(slot_lock);
  auto* slot = static_cast<CloudSlot*>(client->cloud_session);
  return slot != nullptr ? slot->session : nullptr;
}

void set_session(brixa_client* client, std::shared_ptr<CloudSession> session) {
  std::shared_ptr<CloudSession> old;
  {
    platform::MutexLock hold(slot_lock);
    auto* slot = static_cast<CloudSlot*>(client->cloud_session);
    if (slot == nullptr) {
      if (!session) return;
      slot = new CloudSlot;
      client->cloud_session = slot;
    }
    old = std::move(slot->session);
    slot->session = std::move(session);
  }
  // An old session still in use by another thread lives on until that operation ends; its
  // socket is closed by the exchange that opened it.
}

void release_session_of(brixa_client* client) {
  std::shared_ptr<CloudSession> old;
  {
    platform::MutexLock hold(slot_lock);
    if (auto* slot = static_cast<CloudSlot*>(client->cloud_session)) old = std::move(slot->session);
  }
  if (old) old->cancel();
}

void destroy_cloud_slot(brixa_client* client) {
  CloudSlot* slot;
  {
    platform::MutexLock hold(slot_lock);
    slot = static_cast<CloudSlot*>(client->cloud_session);
    client->cloud_session = nullptr;
  }
  if (slot != nullptr && slot->session) slot->session->cancel();
  delete slot;
}

bool CloudSession::adopt_socket(int fd) {
  platform::MutexLock hold(socket_lock_);
  if (cancelled_) {
    ::close(fd);
    return false;
  }
  socket_ = fd;
  return true;
}

void CloudSession::close_socket() {
  platform::MutexLock hold(socket_lock_);
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void CloudSession::cancel() {
  platform::MutexLock hold(socket_lock_);
  cancelled_ = true;
  // The exchange's waits wake at once and its reads see the end; it closes the socket itself.
  if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

bool CloudSession::cancelled() {
  platform::MutexLock hold(socket_lock_);
  return cancelled_;
}

bool CloudSession::has_socket() {
  platform::MutexLock hold(socket_lock_);
  return socket_ >= 0;
}

}  // namespace brixa::cloud
