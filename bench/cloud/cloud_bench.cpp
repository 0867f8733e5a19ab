// One get-device-list exchange with 100 devices against the in-process cloud simulator.
//
//   brixa exchange   the library's HTTP exchange alone, posting the body below
//   brixa full       biz_get_device_list: session key, RSA, signing, the exchange, decrypting
//                    300 secrets and printing the list
//   (reply processing: the client's own share of "full", measured alone)
//   curl             curl posting the very same body to the same server (its own per-transfer
//                    time, without process start)
//
// Prints the median and the 90th percentile of each, and the ratios against curl.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "brixa/api/brixa.h"
#include "brixa/cloud/account_api.h"
#include "brixa/cloud/cloud_session.h"
#include "brixa/cloud/http_exchange.h"
#include "sim/cloud/cloud_service.h"
#include "sim/fixture/fixture.h"

namespace {

constexpr int kDevices = 100;
// The peers take turns in blocks, so a change in machine load touches all of them alike.
constexpr int kBlocks = 5;
constexpr int kRoundsPerBlock = 40;
constexpr int kRounds = kBlocks * kRoundsPerBlock;
constexpr int kWarmUp = 5;

std::string fixture_text() {
  std::string devices;
  std::string cams;
  for (int i = 0; i < kDevices; ++i) {
    char id[32];
    std::snprintf(id, sizeof id, "KVR-%06d", i);
    if (i > 0) {
      devices += ",";
      cams += ",";
    }
    devices += std::string(R"({"dev_id":")") + id + R"(","dev_user":"admin","dev_pass":"password-)" + std::to_string(i) +
               R"(","name":"Gravador )" + std::to_string(i) + R"(","vendor":"kavrel","model":"NVR-4","channel_count":4})";
    cams += std::string(R"({"id":"cam-)") + std::to_string(i) + R"(","devid":")" + id + R"(","chlid":0})";
  }
  return R"({"applications":[{"app_key":"bench","app_pass":"bench-pass"}],"accounts":[{"user":"bench",)"
         R"("password":"bench-pw","devices":[)" + devices + R"(],"cameras":{"cams":[)" + cams + "]}}]}";
}

struct Stats {
  double median_us = 0;
  double p90_us = 0;
};

Stats stats(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 9 / 10]};
}

// Appends the time of each of `rounds` calls, after a few untimed ones.
template <class Fn>
void time_rounds(std::vector<double>& us, int rounds, Fn&& fn) {
  for (int i = 0; i < kWarmUp; ++i) fn();
  for (int i = 0; i < rounds; ++i) {
    auto start = std::chrono::steady_clock::now();
    fn();
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
}

// curl posting the body file `rounds` times (plus warm-up) in one process; appends the
// per-transfer times curl reports. False when curl fails or a reply is not 200.
bool time_curl(std::vector<double>& us, int rounds, const std::string& url, const std::string& body_path) {
  std::string config_path = body_path + ".curlrc";
  {
    std::ofstream config(config_path);
    config << "silent\nnoproxy = \"*\"\n"
           << "header = \"Content-Type: application/json;charset=utf-8\"\n"
           << "data-binary = \"@" << body_path << "\"\n"
           << "write-out = \"%{http_code} %{time_total}\\n\"\n";
    for (int i = 0; i < kWarmUp + rounds; ++i) config << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
  }
  std::string command = "curl -K " + config_path;
  bool ok = false;
  int n = 0;
  if (FILE* out = popen(command.c_str(), "r")) {
    int code = 0;
    double seconds = 0;
    ok = true;
    while (std::fscanf(out, "%d %lf", &code, &seconds) == 2) {
      if (code != 200) ok = false;
      if (n++ >= kWarmUp) us.push_back(seconds * 1e6);
    }
    ok = pclose(out) == 0 && ok;
  }
  std::remove(config_path.c_str());
  return ok && n == kWarmUp + rounds;
}

int count_callbacks(intptr_t user, brixa_handle, int32_t, intptr_t, int32_t, const char*, int32_t) {
  ++*reinterpret_cast<std::atomic<int>*>(user);
  return 0;
}

}  // namespace

int main() {
  sim::fixture::Fixture fixture;
  std::string error;
  if (!sim::fixture::parse(fixture_text(), fixture, error)) {
    std::fprintf(stderr, "fixture: %s\n", error.c_str());
    return 1;
  }
  sim::cloud::CloudService service;
  if (!service.load_fixture(fixture, error) || service.start() == 0) {
    std::fprintf(stderr, "cannot start the cloud simulator: %s\n", error.c_str());
    return 1;
  }

  brixa_init("127.0.0.1", 0, "");
  brixa_handle client = brixa_create();
  std::atomic<int> delivered{0};
  brixa_cli_attach_callback(client, count_callbacks, reinterpret_cast<intptr_t>(&delivered));
  biz_create(client, "bench", "bench-pass", service.url().c_str(), "bench", "bench-pw", 0);

  bool all_ok = true;
  // The body brixa sends, posted again by the exchange alone and by curl (the service does not
  // check freshness).
  all_ok = biz_get_device_list(client) == 200;
  std::string body = service.requests().back().body;
  auto session = brixa::cloud::make_session("bench", "bench-pass", service.url().c_str(), "bench", "bench-pw", 0);
  char body_path[] = "/tmp/kavrel-bench-cloud-XXXXXX";
  int fd = mkstemp(body_path);
  if (fd < 0) return 1;
  close(fd);
  std::ofstream(body_path, std::ios::binary) << body;

  std::vector<double> full, exchange, curl, processing;
  size_t reply_bytes = 0;
  for (int block = 0; block < kBlocks; ++block) {
    time_rounds(full, kRoundsPerBlock, [&] { all_ok = biz_get_device_list(client) == 200 && all_ok; });
    time_rounds(exchange, kRoundsPerBlock, [&] {
      all_ok = brixa::cloud::exchange(*session, body.data(), body.size()) == 0 && session->status == 200 && all_ok;
      reply_bytes = session->received;
    });
    all_ok = time_curl(curl, kRoundsPerBlock, service.url(), body_path) && all_ok;
  }
  std::remove(body_path);

  // The client's own work on that reply, without I/O: parse, decrypt the 300 secrets (under a
  // stand-in key: the same work), print with formatting.
  std::string reply(session->body.data(), session->received);
  time_rounds(processing, kRounds, [&] {
    cJSON* doc = cJSON_Parse(reply.c_str());
    brixa::cloud::decrypt_device_list(doc, "0123456789abcdef0123456789abcdef");
    char* text = cJSON_Print(doc);
    all_ok = text != nullptr && all_ok;
    cJSON_free(text);
    cJSON_Delete(doc);
  });

  brixa_cli_detach_callback(client);
  brixa_release(client);
  brixa_uninit();
  service.stop();

  if (curl.size() != static_cast<size_t>(kRounds)) {
    std::fprintf(stderr, "curl did not run (is it installed?)\n");
    return 1;
  }
  Stats f = stats(full), e = stats(exchange), c = stats(curl), p = stats(processing);
  std::printf("get-device-list, %d devices, reply %zu bytes, request %zu bytes, %d rounds each\n", kDevices,
              reply_bytes, body.size(), kRounds);
  std::printf("  brixa exchange : median %8.1f us   p90 %8.1f us\n", e.median_us, e.p90_us);
  std::printf("  brixa full     : median %8.1f us   p90 %8.1f us\n", f.median_us, f.p90_us);
  std::printf("    of which reply processing : median %8.1f us\n", p.median_us);
  std::printf("  curl           : median %8.1f us   p90 %8.1f us\n", c.median_us, c.p90_us);
  std::printf("  ratio brixa exchange / curl : %.2f\n", e.median_us / c.median_us);
  std::printf("  ratio brixa full / curl     : %.2f\n", f.median_us / c.median_us);
  if (!all_ok) {
    std::fprintf(stderr, "some exchange failed\n");
    return 1;
  }
  return 0;
}
