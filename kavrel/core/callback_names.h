// The names under which the trace writes library callback identifiers and script event
// identifiers; an unknown identifier has an empty name.
#pragma once

#include <cstdint>

namespace kavrel {

const char* callback_id_name(int32_t id);
// The trace text of a tunnel status; empty for an unknown status.
const char* tunnel_status_text(int32_t status);

// Export progress in percent from the library's total and done counts: done * 100 / total while
// 0 <= done < total; 100 when done is -1 or has reached the total; 0 otherwise.
int32_t export_progress_percent(int32_t total, int32_t done);

// Script event identifiers the control raises.
inline constexpr int32_t kEventP2PConnected = 256;
inline constexpr int32_t kEventSearchResult = 0x10000017;
inline constexpr int32_t kEventGetDevInfoResult = 0x10000018;
inline constexpr int32_t kEventGetCamListResult = 0x1000001d;
inline constexpr int32_t kEventSetCamListResult = 0x1000001e;
inline constexpr int32_t kEventGetDevListResult = 0x10000020;
inline constexpr int32_t kEventSetDevListResult = 0x10000021;
inline constexpr int32_t kEventListSerialsResult = 0x10000022;
inline constexpr int32_t kEventHttpUrl = 0x20001000;
inline constexpr int32_t kEventAddDevice = 0x20001001;
inline constexpr int32_t kEventLogin = 0x20001004;
inline constexpr int32_t kEventRecordQuery = 0x20001002;
inline constexpr int32_t kEventAlert = 0x20001003;
inline constexpr int32_t kEventRecordQueryStatus = 0x20001005;
inline constexpr int32_t kEventGetDevInfo = 0x20001006;
inline constexpr int32_t kEventPaneClosed = 0x12100;
inline constexpr int32_t kEventLiveStarted = 0x30000;
inline constexpr int32_t kEventLiveLoginFailed = 0x12101;
inline constexpr int32_t kEventExportStarted = 0x30003;
inline constexpr int32_t kEventSelectionChanged = 0x12300;
inline constexpr int32_t kEventSnapshotTaken = 0x12007;

}  // namespace kavrel
