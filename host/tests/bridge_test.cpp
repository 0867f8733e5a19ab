// The page bridge as a page meets it: every script method by name over the WebSocket, refusals
// that change nothing, events in the order the control raised them, a page that leaves in the
// middle of a call, and a page that takes the control over. The control is kavrel.ocx from the
// registry; the world is the demo's, in this process.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "host/tests/page_client.h"
#include "host/tests/shared_host.h"
#include "kavrel/resources/type_library.h"

namespace {

using namespace std::chrono_literals;
using host::testing::JsonPtr;
using host::testing::PageClient;
using host::testing::SharedHost;
using host::testing::json_string;
using host::testing::json_text;

constexpr int32_t kListSerials = 0x10000022;
constexpr int32_t kDeviceList = 0x10000020;
constexpr int32_t kCameraList = 0x1000001d;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SharedHost::get().running()) << SharedHost::get().start_error();
    cookie_ = host::testing::session_cookie(port(), SharedHost::get().token());
    ASSERT_FALSE(cookie_.empty());
  }

  static uint16_t port() { return SharedHost::get().port(); }

  // A connected page past its hello.
  std::unique_ptr<PageClient> page(JsonPtr* hello = nullptr) {
    auto client = std::make_unique<PageClient>();
    int status = 0;
    EXPECT_TRUE(client->connect(port(), cookie_, std::nullopt, std::nullopt, &status)) << status;
    JsonPtr greeting = client->next_of("hello", 10s);
    EXPECT_TRUE(greeting);
    if (hello != nullptr) *hello = greeting;
    return client;
  }

  std::string init_args() const {
    const auto& d = SharedHost::get().demo();
    return "[" + quoted(d.server) + "," + quoted(d.app_key) + "," + quoted(d.app_pass) + "," + quoted(d.tunnel_host) +
           "," + std::to_string(d.tunnel_port) + "," + quoted(d.tunnel_key) + "]";
  }
  std::string sign_in_args() const {
    const auto& d = SharedHost::get().demo();
    return "[" + quoted(d.user) + "," + quoted(d.password) + "]";
  }

  static bool ok(const JsonPtr& result) { return result && cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(result.get(), "ok")); }
  static const cJSON* value(const JsonPtr& result) { return cJSON_GetObjectItemCaseSensitive(result.get(), "value"); }
  static int32_t number(const JsonPtr& result) { return static_cast<int32_t>(cJSON_GetNumberValue(value(result))); }

  std::string cookie_;
};

// One representative argument list per script method. The table must name every method of
// the type library, so a method added there without a way to reach it from a page shows here.
TEST_F(BridgeTest, EveryMethodIsCallableByNameAndAnswersWithItsDeclaredType) {
  const std::string cam = quoted("cam-0001-0");
  const std::string dev = quoted("KVR-000001");
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"AboutBox", "[]"},
      {"CliInit", init_args()},
      {"CliCloudInitSimple", sign_in_args()},
      {"CliSetPicNum", "[4]"},
      {"CliGetPicNum", "[]"},
      {"CliGetCurrPicIndex", "[]"},
      {"CliEnableViewDoubleClick", "[1]"},
      {"CliShowViewTitle", "[1]"},
      {"CliShowViewStatus", "[1]"},
      {"CliDeviceSearch", "[]"},
      {"CliGetFirstIdelPicIndex", "[]"},
      {"CliCapturePicToInternetCache", "[0]"},
      {"CliPlayerSetOsd", "[0,\"texto\",0,10,10]"},
      {"CLiPTZCtrl", "[0,0,0,0,4]"},
      {"CliSetVolume", "[0,50]"},
      {"CliGetVolume", "[0]"},
      {"CliSetAudioState", "[0,0]"},
      {"CliGetAudioState", "[0]"},
      {"CliStartAudio", "[0]"},
      {"CliStopAudio", "[0]"},
      {"CliFullScreen", "[0]"},
      {"CliDelDevice", "[\"KVR-NOPE\"]"},
      {"CliCloudSync", "[]"},
      {"CliCloudGetDeviceListSp", "[]"},
      {"CliCloudGetCamListSp", "[]"},
      {"CliQueryAlarm", "[" + dev + ",\"20240101000000\",\"20240102000000\"]"},
      {"CliOpenDeviceWeb", "[" + dev + "]"},
      {"CliAddDeviceP2P", "[\"KVR-000009\",\"admin\",\"senha\",\"Novo\",37777,80]"},
      {"CliStartPlayDev", "[" + cam + ",1,0]"},
      {"CliStopPlayDev", "[0]"},
      {"CliQueryRecordDev", "[" + cam + ",\"20240101000000\",\"20240101235959\"]"},
      {"CliStartListenAlertDev", "[" + cam + ",1]"},
      {"CliStopListenAlertDev", "[" + cam + "]"},
      {"CliQueryRecordStatusDev", "[" + cam + ",\"202401\"]"},
      {"CliStartPlaybackDev", "[" + cam + ",\"20240101000000\",0]"},
      {"CliStopPlaybackDev", "[0]"},
      {"CliControlPlaybackDev", "[0,1]"},
      {"CliLoginDeviceP2PDev", "[\"KVR-000002\",\"admin\",\"admin-pass-2\",37777,80]"},
      {"CliLoginoutDeviceP2PDev", "[\"KVR-000002\"]"},
      {"CliChangePageTo", "[0]"},
      {"CliSetP2PPortRange", "[30000,30100]"},
      {"CliPTZStop", "[0]"},
      {"CliPTZZoomStop", "[0]"},
      {"CliPTZZoomIn", "[0,4]"},
      {"CliPTZZoomOut", "[0,4]"},
      {"CliPTZMoveUp", "[0,4]"},
      {"CliPTZMoveDown", "[0,4]"},
      {"CliPTZMoveLeft", "[0,4]"},
      {"CliPTZMoveRight", "[0,4]"},
      {"CliPTZRecallPreset", "[0,1]"},
      {"CliPTZSetPreset", "[0,1]"},
      {"CliPTZDeletePreset", "[0,1]"},
      {"CliSaveLayout", "[\"bridge-test\"]"},
      {"CliLoadLayout", "[\"bridge-test\"]"},
      {"CliEnumLayouts", "[]"},
      {"CliDeleteLayout", "[\"bridge-test\"]"},
      {"CliGetBuild", "[]"},
      {"CliStartBackup", "[" + cam + ",\"20240101000000\",10]"},
      {"CliStopBackup", "[]"},
      {"CliGetHTTPPort", "[" + dev + "]"},
      {"CliGetHTTPSPort", "[" + dev + "]"},
      {"CliGetTCPPort", "[" + dev + "]"},
      {"CliUnInit", "[]"},
  };
  std::set<std::string> named;
  for (const auto& [method, args] : calls) named.insert(method);
  for (const auto& m : kavrel::typelib::methods()) EXPECT_EQ(named.count(m.name), 1u) << m.name << " has no case";
  EXPECT_EQ(named.size(), kavrel::typelib::methods().size());

  auto client = page();
  bool dialog_seen = false;
  client->answer_site = [&](const cJSON* request) {
    if (json_string(request, "kind") == "dialog") dialog_seen = true;
    const cJSON* first = cJSON_GetArrayItem(cJSON_GetObjectItemCaseSensitive(request, "buttons"), 0);
    return first != nullptr ? json_text(cJSON_GetObjectItemCaseSensitive(first, "id")) : std::string("0");
  };
  for (const auto& [method, args] : calls) {
    JsonPtr result = client->call(method, args, 60s);
    ASSERT_TRUE(result) << method << ": no result";
    ASSERT_TRUE(ok(result)) << method << ": " << json_text(result.get());
    const kavrel::typelib::Member* member = kavrel::typelib::find_method(method);
    const cJSON* v = value(result);
    switch (member->result) {
      case kavrel::typelib::Type::Long: EXPECT_TRUE(cJSON_IsNumber(v)) << method; break;
      case kavrel::typelib::Type::Bstr: EXPECT_TRUE(cJSON_IsString(v)) << method; break;
      case kavrel::typelib::Type::Bool: EXPECT_TRUE(cJSON_IsBool(v)) << method; break;
      case kavrel::typelib::Type::None: EXPECT_TRUE(cJSON_IsNull(v)) << method; break;
    }
    if (method == "CliGetBuild") {
      EXPECT_EQ(number(result), 1329);
    }
  }
  EXPECT_TRUE(dialog_seen) << "AboutBox asks the page to show its dialog";
}

TEST_F(BridgeTest, RefusedCallsAndMalformedMessagesAreAnsweredAndChangeNothing) {
  auto client = page();
  ASSERT_TRUE(ok(client->call("CliSetPicNum", "[9]")));
  JsonPtr before = client->call("CliGetPicNum", "[]");
  ASSERT_TRUE(ok(before)) << json_text(before.get());

  struct Case {
    const char* message;
    const char* reply_type;  // "result" (refused call) or "error"
    const char* says;        // part of the error text
  } cases[] = {
      {R"({"type":"call","id":1,"method":"CliNoSuchThing","args":[]})", "result", "unknown method"},
      {R"({"type":"call","id":2,"method":"CliSetPicNum","args":[]})", "result", "takes 1 argument, not 0"},
      {R"({"type":"call","id":3,"method":"CliSetPicNum","args":[4,4]})", "result", "not 2"},
      {R"({"type":"call","id":4,"method":"CliSetPicNum","args":["4"]})", "result", "must be a long, not a string"},
      {R"({"type":"call","id":5,"method":"CliSetPicNum","args":[4.5]})", "result", "must be a long"},
      {R"({"type":"call","id":6,"method":"CliSetPicNum","args":[4294967300]})", "result", "outside the 32-bit"},
      {R"({"type":"call","id":7,"method":"CliSetPicNum","args":[true]})", "result", "not a boolean"},
      {R"({"type":"call","id":8,"method":"CliSetPicNum","args":{"lPicNum":4}})", "result", "must be an array"},
      {R"({"type":"call","id":9,"method":"CliDelDevice","args":[12]})", "result", "must be a BSTR, not a number"},
      {R"({"type":"call","id":10,"args":[4]})", "result", "without \"method\""},
      {R"({"type":"call","method":"CliSetPicNum","args":[4]})", "error", "without \"id\""},
      {R"({"type":"call","id":11,"method":"CliSetPicNum","args":[4])", "error", "not a JSON object"},
      {R"([1,2,3])", "error", "not a JSON object"},
      {R"({"id":12})", "error", "without \"type\""},
      {R"({"type":"launch"})", "error", "unknown message type"},
      {R"({"type":"input","event":"mousemove"})", "error", "position"},
      {R"({"type":"input","event":"keydown"})", "error", "virtual key"},
  };
  for (const Case& c : cases) {
    client->send(c.message);
    JsonPtr reply = client->next_of(c.reply_type, 10s);
    ASSERT_TRUE(reply) << c.message;
    if (std::string(c.reply_type) == "result") {
      EXPECT_FALSE(ok(reply)) << c.message;
    }
    EXPECT_NE(json_string(reply.get(), "error").find(c.says), std::string::npos)
        << c.message << " -> " << json_text(reply.get());
  }
  JsonPtr after = client->call("CliGetPicNum", "[]");
  ASSERT_TRUE(ok(after));
  EXPECT_EQ(number(after), number(before)) << "a refused call changed the wall";
  // Names compare without regard to case, as the dispatch table does.
  EXPECT_TRUE(ok(client->call("cligetpicnum", "[]")));
}

TEST_F(BridgeTest, EventsReachThePageInTheOrderTheControlRaisedThem) {
  JsonPtr hello;
  auto client = page(&hello);
  // A page meets a control whose window exists: CliCreatedNotify(1) follows hello.
  JsonPtr created = client->next_of("event", 10s, [](const cJSON* m) { return json_string(m, "name") == "CliCreatedNotify"; });
  ASSERT_TRUE(created);
  EXPECT_EQ(json_text(cJSON_GetObjectItemCaseSensitive(created.get(), "args")), "[1]");

  ASSERT_TRUE(ok(client->call("CliInit", init_args())));
  ASSERT_TRUE(ok(client->call("CliCloudInitSimple", sign_in_args())));
  std::vector<int32_t> order;
  auto deadline = std::chrono::steady_clock::now() + 40s;
  while (std::chrono::steady_clock::now() < deadline && std::count(order.begin(), order.end(), kCameraList) < 2) {
    JsonPtr event = client->next_of("event", 1s, [](const cJSON* m) { return json_string(m, "name") == "CliCallBackMsg"; });
    if (!event) continue;
    const cJSON* args = cJSON_GetObjectItemCaseSensitive(event.get(), "args");
    ASSERT_EQ(cJSON_GetArraySize(args), 7) << json_text(event.get());
    int32_t id = cJSON_GetArrayItem(args, 2)->valueint;
    const cJSON* info = cJSON_GetArrayItem(args, 5);
    if (cJSON_IsString(info)) {
      EXPECT_EQ(cJSON_GetArrayItem(args, 6)->valueint, static_cast<int>(std::string(info->valuestring).size()))
          << "nInfoLen counts the bytes of szInfo";
    }
    if (id == kListSerials || id == kDeviceList || id == kCameraList) order.push_back(id);
  }
  // The orders the control keeps: the library's callbacks (the first of each list) in request
  // order, and the callback thread's events (serials, then the second of each list) in theirs.
  auto first = [&](int32_t id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
  auto last = [&](int32_t id) { return order.rend() - std::find(order.rbegin(), order.rend(), id) - 1; };
  ASSERT_EQ(std::count(order.begin(), order.end(), kCameraList), 2) << "the lists never all came";
  EXPECT_LT(first(kDeviceList), first(kCameraList));
  EXPECT_LT(first(kListSerials), last(kDeviceList));
  EXPECT_LT(last(kDeviceList), last(kCameraList));

  // The view a reconnecting page restores from.
  client.reset();
  JsonPtr again;
  auto second = page(&again);
  const cJSON* state = cJSON_GetObjectItemCaseSensitive(again.get(), "state");
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(state, "initialised")));
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(state, "signed_in")));
  EXPECT_EQ(json_string(state, "user"), SharedHost::get().demo().user);
  ASSERT_TRUE(ok(second->call("CliUnInit", "[]")));
}

TEST_F(BridgeTest, CallsRunOneAtATimeAndAPageThatLeavesMidCallLeavesTheControlUsable) {
  auto client = page();
  // AboutBox waits for the page's answer; the call after it waits its turn.
  client->send(R"({"type":"call","id":"about","method":"AboutBox","args":[]})");
  client->send(R"({"type":"call","id":"panes","method":"CliSetPicNum","args":[16]})");
  JsonPtr dialog = client->next_of("site", 10s);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(json_string(dialog.get(), "kind"), "dialog");
  EXPECT_FALSE(client->next_of("result", 300ms)) << "a call ran while another one waited";
  client->send(R"({"type":"site-reply","id":)" + json_text(cJSON_GetObjectItemCaseSensitive(dialog.get(), "id")) +
               R"(,"value":1})");
  JsonPtr first = client->next_of("result", 10s);
  JsonPtr second = client->next_of("result", 10s);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(json_string(first.get(), "id"), "about");
  EXPECT_EQ(json_string(second.get(), "id"), "panes");

  // Leave while AboutBox waits for the page: the wait ends, the control carries on.
  client->send(R"({"type":"call","id":"left","method":"AboutBox","args":[]})");
  ASSERT_TRUE(client->next_of("site", 10s));
  client->close();
  auto next = page();
  auto began = std::chrono::steady_clock::now();
  JsonPtr result = next->call("CliGetPicNum", "[]", 10s);
  ASSERT_TRUE(ok(result)) << "the control is stuck after its page left";
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << "the abandoned dialog held the control";
}

TEST_F(BridgeTest, ANewPageTakesTheControlOverAndTheOldOneIsClosed) {
  auto first = page();
  auto second = page();
  EXPECT_TRUE(first->next_of("taken-over", 10s));
  EXPECT_TRUE(first->wait_closed(10s));
  first->send(R"({"type":"call","id":1,"method":"CliGetPicNum","args":[]})");
  EXPECT_TRUE(ok(second->call("CliGetPicNum", "[]")));
}

}  // namespace
