#include "devsdk/netsdk/recording_streams.h"

#include <algorithm>

#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/streams.h"

namespace netsdk {

std::shared_ptr<Connection> open_recording(const LoginSession& login, uint32_t purpose, int32_t channel,
                                           int32_t record_type, const proto::Time& start, const proto::Time& end,
                                           std::function<void(const proto::Message&)> on_push,
                                           proto::RecordStreamInfo& info) {
  platform::net::ConnectResult connected = platform::net::ConnectResult::bad_address;
  auto socket = platform::net::connect_to(login.notice->ip, login.notice->port, -1, connect_wait_ms(), &connected,
                                          platform::net::Blocking::yes);
  if (connected != platform::net::ConnectResult::ok) {
    set_last_error(NET_ERR_NETWORK_ERROR);
    return nullptr;
  }
  auto connection = Connection::create(std::move(socket), proto::kMaxStreamPayload);
  connection->set_push_handler(std::move(on_push));
  connection->start();

  proto::BindRequest bind;
  bind.session_token = login.session_token;
  bind.purpose = purpose;
  bind.channel = channel;
  bind.stream = static_cast<uint32_t>(record_type);
  bind.start = start;
  bind.end = end;
  auto reply = connection->request(proto::Type::bind, proto::encode(bind), request_wait_ms(0));
  uint32_t error = 0;
  if (reply.outcome != Connection::Outcome::replied) {
    error = NET_ERR_OPEN_CHANNEL_ERROR;
  } else if (reply.status == proto::status::no_record) {
    error = NET_ERR_NO_RECORD_FOUND;
  } else if (reply.status == proto::status::not_logged_in) {
    error = NET_ERR_INVALID_HANDLE;
  } else if (reply.status != proto::status::ok || !proto::decode(reply.payload, info)) {
    error = NET_ERR_OPEN_CHANNEL_ERROR;
  }
  if (error != 0) {
    connection->close();
    set_last_error(error);
    return nullptr;
  }
  return connection;
}

bool open_recording_session(const std::shared_ptr<RecordingSession>& session, const LoginSession& login,
                            uint32_t purpose, int32_t channel, int32_t record_type, const proto::Time& start,
                            const proto::Time& end) {
  session->handle = allocate_handle();
  std::weak_ptr<RecordingSession> weak = session;
  proto::RecordStreamInfo info;
  session->connection = open_recording(
      login, purpose, channel, record_type, start, end,
      [weak](const proto::Message& m) {
        if (auto s = weak.lock()) s->on_push(m);
      },
      info);
  if (session->connection == nullptr) {
    release_handle(session->handle);
    return false;
  }
  session->total_kib.store(std::max<uint32_t>(info.total_kib, 1));
  return true;
}

}  // namespace netsdk
