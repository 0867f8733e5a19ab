#include "brixa/record/record_queries.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "brixa/core/bounds.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/record/date_time.h"
#include "brixa/record/record_json.h"
#include "brixa/record/record_sdk.h"
#include "trace/trace.h"

namespace brixa::record {
namespace {

static_assert(sizeof(NET_RECORDFILE_INFO) == 196, "the device's record file description is 196 bytes");
constexpr int32_t kPageBytes = kRecordPageFiles * static_cast<int32_t>(sizeof(NET_RECORDFILE_INFO));
constexpr int32_t kQueryWaitMs = 2000;
// The request block's fields: longer texts are cut to these.
constexpr size_t kDevIdChars = 63;
constexpr size_t kTimeChars = 15;

std::string cut(const char* text, size_t chars) { return text != nullptr ? std::string(text, strnlen(text, chars)) : ""; }

// One kind of worker of a client: its thread slot, running flag and serial number.
struct WorkerKind {
  platform::Thread brixa_client::*thread;
  std::atomic<int32_t> brixa_client::*running;
  std::atomic<uint32_t> brixa_client::*serial;
  std::atomic<uint32_t> brixa_client::*final_posted;
};
constexpr WorkerKind kFileQuery{&brixa_client::record_query_thread, &brixa_client::record_query_running,
                                &brixa_client::record_query_serial, &brixa_client::record_query_final};
constexpr WorkerKind kStatusQuery{&brixa_client::record_status_thread, &brixa_client::record_status_running,
                                  &brixa_client::record_status_serial, &brixa_client::record_status_final};

// What a worker works on. It owns a reference to its client, so a worker that outlives its
// client's release never meets a freed record.
struct QueryJob {
  ClientRef client;
  WorkerKind kind;
  uint32_t serial = 0;
  std::string dev_id;
  int32_t chl_id = 0;
  std::string start;  // or the month
  std::string end;
  int32_t login_handle = 0;

  bool wanted() const {
    return (client.get()->*kind.running).load() == 1 && (client.get()->*kind.serial).load() == serial;
  }
};

// Posts an answer. A final one (the last page, a failure, the month) first marks this worker as
// the one whose answer lets the dispatcher join it.
void post_json(const QueryJob& job, int32_t id, intptr_t tag1, int32_t tag2, const std::string& json) {
  bool final = json.empty() || id == BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS || tag2 < kRecordPageFiles;
  if (final) (job.client.get()->*job.kind.final_posted).store(job.serial);
  if (json.empty()) {
    post(job.client.get(), id, 0, -1, nullptr, 0);
  } else {
    post(job.client.get(), id, tag1, tag2, json.c_str(), static_cast<int32_t>(json.size()));
  }
}

void query_record_thread(const QueryJob& job) {
  trace::enter("query_record_thread");
  trace::value("query_record_params->start_time", job.start.c_str());
  trace::value("query_record_params->end_time", job.end.c_str());
  NET_TIME start = parse_time(job.start.c_str());
  NET_TIME end = parse_time(job.end.c_str());
  std::unique_ptr<NET_RECORDFILE_INFO[]> page(new (std::nothrow) NET_RECORDFILE_INFO[kRecordPageFiles]);
  int32_t page_number = 1;
  while (page != nullptr && job.wanted()) {
    memset(page.get(), 0, static_cast<size_t>(kPageBytes));
    int32_t count = 0;
    if (!sdk().query_record_file(job.login_handle, job.chl_id, 0, &start, &end, nullptr, page.get(), kPageBytes,
                                 &count, kQueryWaitMs, 1)) {
      trace_netsdk_error("query_record_thread", 76, "NET_QueryRecordFile (76)");
      post_json(job, BRIXA_CB_CALLBACK_QUERY_RECORD, 0, -1,
                record_page_json(job.dev_id.c_str(), job.chl_id, job.start.c_str(), job.end.c_str(), nullptr, 0));
      break;
    }
    if (count < 0) count = 0;
    if (count > kRecordPageFiles) count = kRecordPageFiles;
    std::string json =
        record_page_json(job.dev_id.c_str(), job.chl_id, job.start.c_str(), job.end.c_str(), page.get(), count);
    post_json(job, BRIXA_CB_CALLBACK_QUERY_RECORD, page_number, count, json);
    ++page_number;
    if (json.empty() || count < kRecordPageFiles) break;
    start = page[kRecordPageFiles - 1].end;  // may report a file ending on the boundary again
  }
  trace::leave("query_record_thread");
}

void query_record_status_thread(const QueryJob& job) {
  trace::enter("query_record_status_thread");
  NET_TIME month = parse_month(job.start.c_str());
  NET_RECORD_STATUS status{};
  bool ok = sdk().query_record_status(job.login_handle, job.chl_id, 0, &month, nullptr, &status, kQueryWaitMs) != 0;
  if (job.wanted()) {  // else a newer status query has replaced this one: it answers instead
    std::string json = record_status_json(job.dev_id.c_str(), job.chl_id, job.start.c_str(), ok ? &status : nullptr);
    post_json(job, BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS, 0, ok ? 0 : -1, json);
  }
  trace::leave("query_record_status_thread");
}

void end_worker(platform::Thread thread) {
  if (thread.join_within(kThreadStopMs) == platform::Thread::End::abandoned) {
    trace::error("join_worker", 76, "Worker is not ending (76)");
  }
}

// Stops the client's worker of this kind and starts a new one on `job`.
int32_t start_query(const char* name, WorkerKind kind, brixa_handle handle, const char* dev_id,
                    std::unique_ptr<QueryJob> job, void (*body)(const QueryJob&)) {
  if (!registry_open()) return BRIXA_ERR_NOT_INITIALISED;
  int32_t result = BRIXA_OK;
  ClientRef client = find_client(handle, &result);
  if (!client) return result;
  int32_t login_handle = 0;
  {
    DeviceListLock list(client->device_list_lock);
    device_session* s = dev_id != nullptr ? find_logged_in_session(client.get(), dev_id) : nullptr;
    if (s == nullptr) return BRIXA_ERR_NO_SESSION;
    login_handle = s->login_handle;
  }
  // The running worker stops after the page in progress; waited for without the list lock.
  (client.get()->*kind.running).store(0);
  join_worker(client.get(), kind.thread);
  if (job == nullptr) return -5;

  job->client = client.share();
  job->login_handle = login_handle;
  platform::Thread displaced;  // a worker another caller started meanwhile
  {
    platform::MutexLock hold(client->workers_lock);
    displaced = std::move(client.get()->*kind.thread);
    job->serial = (client.get()->*kind.serial).fetch_add(1) + 1;
    (client.get()->*kind.running).store(1);
    try {
      // The job (and its client reference) goes when the body returns, on the worker itself.
      client.get()->*kind.thread = platform::Thread([job = std::shared_ptr<QueryJob>(std::move(job)), body]() mutable {
        body(*job);
        job.reset();
      });
    } catch (const std::system_error&) {
      (client.get()->*kind.running).store(0);
      trace::error(name, 90, "Cannot start query thread (90)");
      result = -5;
    }
  }
  end_worker(std::move(displaced));
  return result;
}

std::unique_ptr<QueryJob> new_job(WorkerKind kind, const char* dev_id, int32_t chl_id, const char* start,
                                  const char* end) {
  std::unique_ptr<QueryJob> job(new (std::nothrow) QueryJob);
  if (job == nullptr) return job;
  job->kind = kind;
  job->dev_id = cut(dev_id, kDevIdChars);
  job->chl_id = chl_id;
  job->start = cut(start, kTimeChars);
  job->end = cut(end, kTimeChars);
  return job;
}

}  // namespace

int32_t query_record_files(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* start_time,
                           const char* end_time) {
  return start_query("brixa_query_record_files", kFileQuery, handle, dev_id,
                     new_job(kFileQuery, dev_id, chl_id, start_time, end_time), query_record_thread);
}

int32_t query_record_status(brixa_handle handle, const char* dev_id, int32_t chl_id, const char* month) {
  return start_query("brixa_query_record_status", kStatusQuery, handle, dev_id, new_job(kStatusQuery, dev_id, chl_id, month, nullptr),
                     query_record_status_thread);
}

}  // namespace brixa::record
