// A page as the tests play it: plain HTTP requests, and a WebSocket client whose messages are
// read on a thread of its own and waited for with a deadline.
#pragma once

#include <cjson/cJSON.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace host::testing {

struct HttpReply {
  int status = 0;  // 0: no answer
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;
};

// One GET on a fresh connection; `headers` are sent as given (a "host" entry replaces the
// default Host).
HttpReply http_get(uint16_t port, const std::string& target, const std::map<std::string, std::string>& headers = {});

// Trades the token for the session cookie: "name=value", or empty when refused.
std::string session_cookie(uint16_t port, const std::string& token);

using JsonPtr = std::shared_ptr<cJSON>;
JsonPtr parse_json(const std::string& text);
std::string json_text(const cJSON* item);
// The string member, or "".
std::string json_string(const cJSON* object, const char* name);

class PageClient {
 public:
  struct Message {
    bool binary = false;
    std::string data;
  };

  PageClient();
  ~PageClient();
  PageClient(const PageClient&) = delete;
  PageClient& operator=(const PageClient&) = delete;

  // Opens the WebSocket at /bridge. Empty `cookie`, `origin` or `host` leave the header out;
  // the defaults are those of a right page. False with the HTTP status of a refusal (0: no
  // answer at all).
  bool connect(uint16_t port, const std::string& cookie, std::optional<std::string> origin = std::nullopt,
               std::optional<std::string> host = std::nullopt, int* refused_status = nullptr);
  void send(const std::string& text);
  // The next message, in arrival order.
  std::optional<Message> next(std::chrono::milliseconds timeout);
  // The next text message of this type (others are kept for next() and next_of()).
  JsonPtr next_of(const std::string& type, std::chrono::milliseconds timeout,
                  const std::function<bool(const cJSON*)>& match = nullptr);
  // Waits until the host has closed the socket; the close code, or nothing on time-out.
  std::optional<int> wait_closed(std::chrono::milliseconds timeout);
  void close();

  // Sends a call and waits for its result, answering host-site requests on the way with
  // `answer_site` (default: the first button of a dialog, OK, menu 0, save cancelled).
  JsonPtr call(const std::string& method, const std::string& args_json,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));
  std::function<std::string(const cJSON* request)> answer_site;

 private:
  struct State;
  std::shared_ptr<State> state_;
  int next_id_ = 1;
};

}  // namespace host::testing
