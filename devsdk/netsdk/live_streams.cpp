// Live streams: NET_RealPlayEx, NET_StopRealPlay and the real-data callback.
#include <map>

#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/streams.h"
#include "devsdk/proto/media_block.h"
#include "platform/gdi/gdi.h"
#include "platform/window/surface.h"

namespace netsdk {
namespace {

std::mutex table_lock;
std::map<int32_t, std::shared_ptr<StreamSession>> table;  // guarded by table_lock

std::shared_ptr<StreamSession> remove_stream(int32_t handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto it = table.find(handle);
  if (it == table.end()) return nullptr;
  auto stream = it->second;
  table.erase(it);
  return stream;
}

bool valid_real_play_type(int32_t type) {
  return type == NET_RTYPE_MAIN || type == NET_RTYPE_EXTRA ||
         (type >= NET_RTYPE_MULTIPLAY_1 && type <= NET_RTYPE_MULTIPLAY_32);
}

}  // namespace

std::shared_ptr<StreamSession> find_stream(int32_t handle) {
  {
    std::lock_guard<std::mutex> hold(table_lock);
    auto it = table.find(handle);
    if (it != table.end()) return it->second;
  }
  set_last_error(NET_ERR_INVALID_HANDLE);
  return nullptr;
}

void close_all_streams() {
  std::map<int32_t, std::shared_ptr<StreamSession>> all;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    all.swap(table);
  }
  for (auto& [handle, stream] : all) {
    stream->connection->close();
    release_handle(handle);
  }
  join_reaped();
  switch_sound(0);  // the sounding stream, if any, has ended with the others
}

void StreamSession::on_push(const proto::Message& message) {
  if (message.header.type != static_cast<uint16_t>(proto::Type::media_frame)) return;
  proto::MediaFrameView frame;
  if (!proto::decode(message.payload, frame)) return;
  extras.on_frame(handle, frame);
  {
    std::lock_guard<std::recursive_mutex> hold(callback_lock);
    if (data_callback != nullptr && (data_flags & NET_DATA_FLAG_RAW) != 0) {
      block.clear();
      proto::append_media_block(block, frame.kind, frame.codec, frame.timestamp_ms, frame.width, frame.height,
                                frame.data, frame.size);
      data_callback(handle, NET_DATA_RAW, block.data(), static_cast<uint32_t>(block.size()), 0, data_user);
    }
  }
  render_frame(frame, window, decoder, writer, login_id, handle, &extras);
}

bool render_frame(const proto::MediaFrameView& frame, platform::HWND window, devsdk::render::Decoder& decoder,
                  devsdk::render::SurfaceWriter& writer, int32_t login_id, int32_t handle, StreamExtras* extras) {
  if (window == nullptr || frame.codec != proto::kCodecH264 ||
      (frame.kind != proto::kFrameVideoKey && frame.kind != proto::kFrameVideoDelta)) {
    return false;
  }
  const AVFrame* picture = decoder.decode(frame.data, frame.size, frame.kind == proto::kFrameVideoKey);
  if (picture == nullptr) return false;
  if (extras != nullptr) extras->picture.keep(picture);
  NET_DrawCallback draw;
  intptr_t user;
  {
    auto& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    draw = s.draw;
    user = s.draw_user;
  }
  {
    // The picture and what the drawing callback paints over it reach the screen together.
    platform::SurfaceFrame whole(window);
    if (!writer.draw(window, picture)) return false;
    if (draw != nullptr) {
      platform::HDC dc = platform::GetDC(window);
      if (dc != nullptr) {
        draw(login_id, handle, dc, user);
        platform::ReleaseDC(window, dc);
      }
    }
    platform::mark_surface_changed(window, nullptr);
  }
  return true;
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

int32_t NET_RealPlayEx(int32_t login_id, int32_t channel, void* window, int32_t realplay_type) {
  if (netsdk::injected_failure("NET_RealPlayEx")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;  // NET_ERR_INVALID_HANDLE: 0x80000004
  if (channel < 0 || !netsdk::valid_real_play_type(realplay_type)) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  platform::net::ConnectResult connected = platform::net::ConnectResult::bad_address;
  auto socket = platform::net::connect_to(login->notice->ip, login->notice->port, -1, netsdk::connect_wait_ms(),
                                          &connected, platform::net::Blocking::yes);
  if (connected != platform::net::ConnectResult::ok) {
    set_last_error(NET_ERR_NETWORK_ERROR);
    return 0;
  }
  auto stream = std::make_shared<netsdk::StreamSession>();
  stream->handle = netsdk::allocate_handle();
  stream->login_id = login_id;
  stream->window = static_cast<platform::HWND>(window);
  stream->connection = netsdk::Connection::create(std::move(socket), proto::kMaxStreamPayload);
  // The connection's reader holds the stream only weakly: the table owns it.
  std::weak_ptr<netsdk::StreamSession> weak = stream;
  stream->connection->set_push_handler([weak](const proto::Message& m) {
    if (auto s = weak.lock()) s->on_push(m);
  });
  stream->connection->start();

  proto::BindRequest bind;
  bind.session_token = login->session_token;
  bind.purpose = proto::kBindLive;
  bind.channel = channel;
  bind.stream = static_cast<uint32_t>(realplay_type);
  auto reply = stream->connection->request(proto::Type::bind, proto::encode(bind), netsdk::request_wait_ms(0));
  uint32_t error = 0;
  if (reply.outcome != netsdk::Connection::Outcome::replied) {
    error = NET_ERR_NETWORK_ERROR;
  } else if (reply.status == proto::status::invalid_parameter) {
    error = NET_ERR_OPEN_CHANNEL_ERROR;
  } else if (reply.status != proto::status::ok) {
    error = netsdk::last_error_from_status(reply.status);
  }
  if (error != 0) {
    stream->connection->close();
    netsdk::release_handle(stream->handle);
    set_last_error(error);
    return 0;
  }
  {
    std::lock_guard<std::mutex> hold(netsdk::table_lock);
    netsdk::table[stream->handle] = stream;
  }
  set_last_error(0);
  return stream->handle;
}

NET_BOOL NET_StopRealPlay(int32_t stream_handle) {
  if (netsdk::injected_failure("NET_StopRealPlay")) return 0;
  auto stream = netsdk::remove_stream(stream_handle);
  if (stream == nullptr) {
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  // Joins the reader thread, so no callback of the stream runs after this returns (unless the
  // stream is stopped from its own callback, which then ends with that call).
  stream->connection->close();
  netsdk::join_reaped();
  netsdk::stream_sound_ended(stream_handle);
  netsdk::release_handle(stream_handle);  // only now: no callback names it any more
  set_last_error(0);
  return 1;
}

NET_BOOL NET_SetRealDataCallBackEx(int32_t stream_handle, NET_RealDataCallBackEx callback, intptr_t user,
                                   uint32_t flags) {
  if (netsdk::injected_failure("NET_SetRealDataCallBackEx")) return 0;
  auto stream = netsdk::find_stream(stream_handle);
  if (stream == nullptr) return 0;
  std::lock_guard<std::recursive_mutex> hold(stream->callback_lock);
  stream->data_callback = callback;
  stream->data_user = user;
  stream->data_flags = flags;
  set_last_error(0);
  return 1;
}

}  // extern "C"
