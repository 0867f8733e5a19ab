// Download by time: NET_DownloadByTime writes a span of recordings into a DAV file (the raw
// stream: media blocks, nothing else) and reports its progress; NET_StopDownload.
//
// Progress goes to the callback in KiB of the total the device announced: when the share done
// grows by a percent or 200 ms have passed, then, once the device has sent the whole span and
// the file is closed, the final size and last 0xFFFFFFFF. A download that breaks (the file
// cannot be written, the connection drops) stops reporting and never reports completion.
#include <algorithm>
#include <chrono>
#include <map>

#include "devsdk/netsdk/local_time.h"
#include "devsdk/netsdk/recording_streams.h"
#include "devsdk/netsdk/sdk_state.h"
#include "devsdk/netsdk/streams.h"
#include "devsdk/proto/media_block.h"

namespace netsdk {
namespace {

constexpr uint32_t kDownloadComplete = 0xFFFFFFFFu;
constexpr int64_t kReportEveryMs = 200;

std::mutex table_lock;
std::map<int32_t, std::shared_ptr<DownloadSession>> table;  // guarded by table_lock

std::shared_ptr<DownloadSession> remove_download(int32_t handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto it = table.find(handle);
  if (it == table.end()) return nullptr;
  auto download = it->second;
  table.erase(it);
  return download;
}

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void DownloadSession::close_file() {
  if (file != nullptr) {
    if (fclose(file) != 0) failed = true;
    file = nullptr;
  }
}

void DownloadSession::on_push(const proto::Message& message) {
  if (failed || file == nullptr) return;
  uint32_t total = total_kib.load();
  if (message.header.type == static_cast<uint16_t>(proto::Type::stream_end)) {
    if (fflush(file) != 0) failed = true;
    close_file();
    if (failed || position == nullptr) return;
    auto done = static_cast<uint32_t>(std::min<uint64_t>(written / 1024, kDownloadComplete - 1));
    position(handle, std::max(total, done), done, 0, nullptr, user);
    position(handle, std::max(total, done), kDownloadComplete, 0, nullptr, user);
    return;
  }
  if (message.header.type != static_cast<uint16_t>(proto::Type::media_frame)) return;
  proto::MediaFrameView frame;
  if (!proto::decode(message.payload, frame)) return;
  block.clear();
  proto::append_media_block(block, frame.kind, frame.codec, frame.timestamp_ms, frame.width, frame.height, frame.data,
                            frame.size);
  if (fwrite(block.data(), 1, block.size(), file) != block.size()) {
    failed = true;
    close_file();
    connection->abort();  // nothing more to take: the device may stop sending
    return;
  }
  written += block.size();
  if (position == nullptr || total == 0) return;
  auto done = static_cast<uint32_t>(std::min<uint64_t>(written / 1024, total));
  int64_t now = steady_ms();
  bool percent_more = (static_cast<uint64_t>(done) - reported_kib) * 100 >= total;
  if (done > reported_kib && (percent_more || now - reported_at_ms >= kReportEveryMs)) {
    reported_kib = done;
    reported_at_ms = now;
    position(handle, total, done, 0, nullptr, user);
  }
}

void close_all_downloads() {
  std::map<int32_t, std::shared_ptr<DownloadSession>> all;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    all.swap(table);
  }
  for (auto& [handle, download] : all) {
    download->connection->close();
    release_handle(handle);
  }
  join_reaped();
  // The readers have ended: their files are the stopper's now.
  for (auto& [handle, download] : all) download->close_file();
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

int32_t NET_DownloadByTime(int32_t login_id, int32_t channel, int32_t record_type, const NET_TIME* start,
                           const NET_TIME* end, const char* file_name, NET_TimeDownloadPosCallback position,
                           intptr_t user) {
  if (netsdk::injected_failure("NET_DownloadByTime")) return 0;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;  // NET_ERR_INVALID_HANDLE
  proto::Time from, to;
  if (start == nullptr || end == nullptr || file_name == nullptr || file_name[0] == 0 || channel < 0 ||
      record_type < 0 || !netsdk::to_wire_time(*start, from) || !netsdk::to_wire_time(*end, to)) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto download = std::make_shared<netsdk::DownloadSession>();
  download->file = fopen(file_name, "wb");
  if (download->file == nullptr) {
    set_last_error(NET_ERR_SYSTEM_ERROR);
    return 0;
  }
  download->position = position;
  download->user = user;
  if (!netsdk::open_recording_session(download, *login, proto::kBindDownload, channel, record_type, from, to)) {
    uint32_t error = NET_GetLastError();
    download->close_file();
    remove(file_name);  // nothing was downloaded: no file is left behind
    netsdk::set_last_error(error & ~NET_ERROR_BASE);
    return 0;
  }
  {
    std::lock_guard<std::mutex> hold(netsdk::table_lock);
    netsdk::table[download->handle] = download;
  }
  set_last_error(0);
  return download->handle;
}

NET_BOOL NET_StopDownload(int32_t download_handle) {
  if (netsdk::injected_failure("NET_StopDownload")) return 0;
  auto download = netsdk::remove_download(download_handle);
  if (download == nullptr) {
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  // Joins the reader thread: no callback runs after this returns, and the file is ours to close
  // (unless stopped from its own callback, which then ends with that call).
  download->connection->close();
  netsdk::join_reaped();
  if (!download->connection->alive()) download->close_file();
  netsdk::release_handle(download_handle);
  set_last_error(0);
  return 1;
}

}  // extern "C"
