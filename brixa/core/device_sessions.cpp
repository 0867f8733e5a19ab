// Logging device sessions in and out, resetting them, and their login facts.
#include "brixa/core/device_sessions.h"

#include <cstring>

#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/core/session_teardown.h"
#include "brixa/sdk/sdk.h"
#include "brixa/tunnel/connector.h"
#include "trace/trace.h"

namespace brixa {
namespace {

// The messages of the login error codes 1 to 10, traced on lines 96 to 105.
const char* const kLoginErrors[] = {
    "Wrong password",
    "User does not exist",
    "Login timeout",
    "Account logged in",
    "Account is locked",
    "Account is in black list",
    "System busy",
    "Sub connection failed",
    "Main connection failed",
    "Over max number of user connections",
};

// The local port on which a session's tunnel reaches the device.
int32_t mapped_port_of(const device_session* session) { return session->mapped_port; }

bool same_device(const device_session* session, const char* dev_id, uint16_t dev_port) {
  return strcmp(session->dev_id, dev_id) == 0 && mapped_port_of(session) == static_cast<int32_t>(dev_port);
}

// Deletes the session's tunnel connector: its port is removed and it leaves the socket map.
void delete_connector(device_session* session) {
  if (session->connector == nullptr) return;
  tunnel::brixa_connector_delete(session->connector);
  session->connector = nullptr;
}

// Copies the tunnel's connection statistics into the connector when the tunnel is up.
void record_connection_stats(device_session* session) {
  brixa_connector* c = session->connector;
  if (c == nullptr || session->mapped_port == 0) return;
  t2u_port_stats stats{};
  if (t2u_port_status(session->mapped_port, &stats) != 1) return;
  c->usingRelay.store(stats.usingRelay);
  c->relay_quality.store(stats.relay_quality);
  c->localNATType.store(stats.localNATType);
  c->remoteNATType.store(stats.remoteNATType);
  c->remoteVersion.store(stats.remoteVersion);
  trace::value("connector->usingRelay", stats.usingRelay);
  trace::value("connector->localNATType", stats.localNATType);
  trace::value("connector->remoteNATType", stats.remoteNATType);
  trace::value("connector->remoteVersion", stats.remoteVersion);
}

// Texts that do not fit their fields are refused before any network call.
bool fits(const char* text, size_t field_bytes) { return text != nullptr && strnlen(text, field_bytes) < field_bytes; }

}  // namespace

int32_t login(brixa_handle handle, const char* dev_id, uint16_t dev_port, const char* dev_user,
              const char* dev_pass) {
  if (!registry_open()) return BRIXA_ERR_NOT_INITIALISED;
  if (!fits(dev_id, kDevIdBytes)) {
    trace::error("brixa_login", 40, "Invalid device identifier (40)");
    return BRIXA_ERR_FAILED;
  }
  if (!fits(dev_user, kUserBytes)) {
    trace::error("brixa_login", 41, "Invalid user name (41)");
    return BRIXA_ERR_FAILED;
  }
  if (!fits(dev_pass, kPasswordBytes)) {
    trace::error("brixa_login", 42, "Invalid password (42)");
    return BRIXA_ERR_FAILED;
  }
  return with_client(handle, [&](brixa_client* client) -> int32_t {
    trace::step("Handle found");
    {
      DeviceListLock list(client->device_list_lock);
      for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
        device_session* s = device_session::from_link(l);
        if (s->login_handle > 0 && same_device(s, dev_id, dev_port)) {
          trace::step("Login found");
          ++s->login_count;
          return BRIXA_OK;
        }
      }
    }

    // The device login runs without the list lock: it may take the NetSDK's whole connect and
    // wait times, and the client's other calls (and its release) must not wait behind it.
    trace::step("Logging in");
    NET_DEVICEINFO info;
    memset(&info, 0, sizeof info);
    int32_t error = 0;
    int32_t login_handle =
        NET_Login("127.0.0.1", dev_port, dev_user, dev_pass, NET_LOGIN_MODE_TCP, nullptr, &info, &error);
    if (login_handle <= 0) {
      trace::step("Login failed");
      if (error >= 1 && error <= 10) trace::error("brixa_login", 95 + error, kLoginErrors[error - 1]);
      trace_netsdk_error("brixa_login", 107, "NET_Login (64)");
      // A refusal without a code must not read as success.
      return error > 0 ? error : BRIXA_ERR_FAILED;
    }

    int32_t surplus_login = login_handle;  // closed below unless a session takes it
    int32_t result = BRIXA_ERR_FAILED;
    {
      DeviceListLock list(client->device_list_lock);
      trace::step("Iterating connectors");
      for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
        device_session* s = device_session::from_link(l);
        trace::value("item->dev_id", s->dev_id);
        if (!same_device(s, dev_id, dev_port)) continue;
        trace::step("Found matching item");
        result = BRIXA_OK;
        if (s->login_handle > 0) {
          // Another login of this device finished while ours ran: share it, as a login that
          // found it at the start would have.
          ++s->login_count;
          break;
        }
        s->client = client;
        copy_text(s->dev_id, dev_id);
        copy_text(s->user, dev_user);
        copy_text(s->password, dev_pass);
        s->login_count = 1;
        s->login_handle = login_handle;
        s->channel_count = info.channels;
        s->alarm_input_count = info.alarm_inputs;
        s->alarm_output_count = info.alarm_outputs;
        record_connection_stats(s);
        surplus_login = 0;
        break;
      }
    }
    if (result != BRIXA_OK) {
      // Nothing holds the new login (the session went away meanwhile, or never matched): close
      // it rather than leave a connection nobody can reach.
      trace::error("brixa_login", 109, "No session for this device and port (109)");
    }
    if (surplus_login > 0) NET_Logout(surplus_login);
    return result;
  });
}

int32_t logout(brixa_handle handle, const char* dev_id) {
  platform::Thread ending;
  int32_t result = with_client(handle, [&](brixa_client* client) {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_session(client, dev_id);
    if (s == nullptr) return BRIXA_OK;
    if (s->login_count > 0) --s->login_count;
    if (s->login_count > 0) return BRIXA_OK;
    trace::step("Logging out of device (286)");
    session_going_away(s);
    if (s->login_handle > 0) NET_Logout(s->login_handle);
    if (s->device_info_thread.joinable()) {
      trace::step("Closing device info thread (290)");
      ending = take_device_info_thread(s);
    }
    s->login_handle = 0;
    return BRIXA_OK;
  });
  end_device_info_thread(std::move(ending));
  // Nothing to log out of is not a failure: an unknown client has no session either.
  return result == BRIXA_ERR_FAILED ? BRIXA_OK : result;
}

int32_t reset(brixa_handle handle, const char* dev_id) {
  platform::Thread ending;
  int32_t result = with_client(handle, [&](brixa_client* client) {
    DeviceListLock list(client->device_list_lock);
    device_session* s = find_session(client, dev_id);
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    s->login_count = 0;
    session_going_away(s);
    trace::step("Logging out of device (415)");
    if (s->login_handle > 0) NET_Logout(s->login_handle);
    trace::step("Deleting item from list (425)");
    ListHead::unlink(&s->link);
    trace::step("Deleting connector (427)");
    delete_connector(s);
    if (s->device_info_thread.joinable()) {
      trace::step("Closing device info thread (419)");
      ending = take_device_info_thread(s);
    }
    s->login_handle = 0;
    delete s;
    return BRIXA_OK;
  });
  end_device_info_thread(std::move(ending));
  return result;
}

namespace {

// The first logged-in session's login handle or channel count, under the locks.
template <class Field>
int32_t login_info(brixa_handle handle, const char* dev_id, Field field) {
  return with_client(handle, [&](brixa_client* client) {
    DeviceListLock list(client->device_list_lock);
    trace::enter("brixa_get_login_info_item");
    device_session* s = find_logged_in_session(client, dev_id);
    trace::leave("brixa_get_login_info_item");
    return s != nullptr ? field(s) : BRIXA_ERR_NO_SESSION;
  });
}

}  // namespace

int32_t get_login_id(brixa_handle handle, const char* dev_id) {
  return login_info(handle, dev_id, [](device_session* s) { return s->login_handle; });
}

int32_t get_dev_channel_count(brixa_handle handle, const char* dev_id) {
  return login_info(handle, dev_id, [](device_session* s) { return s->channel_count; });
}

}  // namespace brixa
