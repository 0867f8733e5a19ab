#include "brixa/record/record_sdk.h"

#include <atomic>

namespace brixa::record {
namespace {

const RecordSdk kNetSdk = {
    NET_PlayBackByTimeEx, NET_StopPlayBack,      NET_PausePlayBack,  NET_FastPlayBack,
    NET_SlowPlayBack,     NET_NormalPlayBack,    NET_GetPlayBackOsdTime, NET_DownloadByTime,
    NET_StopDownload,     NET_QueryRecordFile,   NET_QueryRecordStatus,  NET_GetLastError,
};

std::atomic<const RecordSdk*> current{&kNetSdk};

}  // namespace

const RecordSdk& sdk() { return *current.load(); }

void set_sdk_for_testing(const RecordSdk* table) { current.store(table != nullptr ? table : &kNetSdk); }

}  // namespace brixa::record
