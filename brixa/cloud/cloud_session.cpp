#include "brixa/cloud/cloud_session.h"

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
std::mutex slot_lock;

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
  std::lock_guard<std::mutex> hold(slot_lock);
  auto* slot = static_cast<CloudSlot*>(client->cloud_session);
  return slot != nullptr ? slot->session : nullptr;
}

void set_session(brixa_client* client, std::shared_ptr<CloudSession> session) {
  std::shared_ptr<CloudSession> old;
  {
    std::lock_guard<std::mutex> hold(slot_lock);
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

void destroy_cloud_slot(brixa_client* client) {
  CloudSlot* slot;
  {
    std::lock_guard<std::mutex> hold(slot_lock);
    slot = static_cast<CloudSlot*>(client->cloud_session);
    client->cloud_session = nullptr;
  }
  delete slot;
}

}  // namespace brixa::cloud
