// Record queries: NET_QueryRecordFile and NET_QueryRecordStatus on a login's control connection.
#include <cstring>

#include "devsdk/netsdk/local_time.h"
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"

using netsdk::set_last_error;

extern "C" {

NET_BOOL NET_QueryRecordFile(int32_t login_id, int32_t channel, int32_t record_type, const NET_TIME* start,
                             const NET_TIME* end, const char* card, NET_RECORDFILE_INFO* buffer, int32_t size,
                             int32_t* count, int32_t wait_ms, NET_BOOL by_time) {
  if (count != nullptr) *count = 0;
  if (netsdk::injected_failure("NET_QueryRecordFile")) return 0;
  proto::RecordQuery query;
  if (start == nullptr || end == nullptr || card != nullptr || buffer == nullptr || count == nullptr ||
      by_time == 0 || channel < 0 || record_type < 0 || !netsdk::to_wire_time(*start, query.start) ||
      !netsdk::to_wire_time(*end, query.end)) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  size_t capacity = size > 0 ? static_cast<size_t>(size) / sizeof(NET_RECORDFILE_INFO) : 0;
  if (capacity == 0) {
    set_last_error(NET_ERR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (capacity > proto::kMaxRecordFiles) capacity = proto::kMaxRecordFiles;
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  query.channel = channel;
  query.record_type = static_cast<uint32_t>(record_type);
  query.most = static_cast<uint32_t>(capacity);
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::record_query, proto::encode(query), netsdk::request_wait_ms(wait_ms),
                   payload)) {
    return 0;
  }
  int filled = netsdk::fill_record_files(payload, channel, buffer, capacity);
  if (filled < 0) {
    login->control->abort();
    set_last_error(NET_ERR_RETURN_DATA_ERROR);
    return 0;
  }
  *count = filled;
  set_last_error(0);
  return 1;
}

NET_BOOL NET_QueryRecordStatus(int32_t login_id, int32_t channel, int32_t record_type, const NET_TIME* month,
                               const char* card, NET_RECORD_STATUS* status, int32_t wait_ms) {
  if (netsdk::injected_failure("NET_QueryRecordStatus")) return 0;
  if (month == nullptr || card != nullptr || status == nullptr || channel < 0 || record_type < 0 ||
      month->year < 1970 || month->year > 9999 || month->month < 1 || month->month > 12) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  auto login = netsdk::find_login(login_id);
  if (login == nullptr) return 0;
  proto::RecordMonthQuery query;
  query.channel = channel;
  query.record_type = static_cast<uint32_t>(record_type);
  query.year = static_cast<uint16_t>(month->year);
  query.month = static_cast<uint8_t>(month->month);
  std::vector<uint8_t> payload;
  if (!netsdk::ask(*login, proto::Type::record_month, proto::encode(query), netsdk::request_wait_ms(wait_ms),
                   payload)) {
    return 0;
  }
  if (!netsdk::fill_record_status(payload, status)) {
    login->control->abort();
    set_last_error(NET_ERR_RETURN_DATA_ERROR);
    return 0;
  }
  set_last_error(0);
  return 1;
}

}  // extern "C"
