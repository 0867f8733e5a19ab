#include "host/tests/page_client.h"

#include "host/closable_io.h"

#include <utility>  // Boost 1.74's Asio needs std::exchange declared first

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <future>

namespace host::testing {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr auto kHttpTimeout = std::chrono::seconds(10);

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text;
}

}  // namespace

HttpReply http_get(uint16_t port, const std::string& target, const std::map<std::string, std::string>& headers) {
  asio::io_context io;
  beast::tcp_stream stream(io);
  HttpReply reply;
  http::request<http::empty_body> req{http::verb::get, target, 11};
  req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  for (const auto& [name, value] : headers) req.set(name, value);
  http::response<http::string_body> res;
  beast::flat_buffer buffer;
  bool done = false;
  stream.expires_after(kHttpTimeout);
  stream.async_connect(tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port), [&](beast::error_code ec) {
    if (ec) return;
    http::async_write(stream, req, [&](beast::error_code wec, size_t) {
      if (wec) return;
      http::async_read(stream, buffer, res, [&](beast::error_code rec, size_t) { done = !rec; });
    });
  });
  io.run_for(kHttpTimeout + std::chrono::seconds(1));
  if (!done) return reply;
  reply.status = static_cast<int>(res.result_int());
  for (const auto& field : res) reply.headers[lower(std::string(field.name_string()))] = std::string(field.value());
  reply.body = res.body();
  return reply;
}

std::string session_cookie(uint16_t port, const std::string& token) {
  HttpReply reply = http_get(port, "/?token=" + token);
  if (reply.status != 303) return "";
  const std::string& set = reply.headers["set-cookie"];
  return set.substr(0, set.find(';'));
}

JsonPtr parse_json(const std::string& text) { return JsonPtr(cJSON_Parse(text.c_str()), cJSON_Delete); }

std::string json_text(const cJSON* item) {
  char* text = cJSON_PrintUnformatted(item);
  std::string out = text != nullptr ? text : "";
  cJSON_free(text);
  return out;
}

std::string json_string(const cJSON* object, const char* name) {
  const char* text = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(object, name));
  return text != nullptr ? text : "";
}

// Everything runs on the client's thread; the test thread waits on `arrived`.
struct PageClient::State : std::enable_shared_from_this<PageClient::State> {
  host::ClosableIo io;
  websocket::stream<beast::tcp_stream> ws{io};
  beast::flat_buffer buffer;
  std::thread thread;
  std::deque<std::string> outgoing;  // client thread only
  bool writing = false;              // client thread only

  std::mutex lock;
  std::condition_variable arrived;
  std::deque<Message> messages;  // guarded by lock
  bool closed = false;           // guarded by lock
  int close_code = 0;            // guarded by lock

  void read() {
    ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
      std::lock_guard<std::mutex> hold(self->lock);
      if (ec) {
        self->closed = true;
        self->close_code = static_cast<int>(self->ws.reason().code);
        self->arrived.notify_all();
        return;
      }
      self->messages.push_back(Message{!self->ws.got_text(), beast::buffers_to_string(self->buffer.data())});
      self->buffer.consume(self->buffer.size());
      self->arrived.notify_all();
      asio::post(self->io, [self] { self->read(); });
    });
  }

  void write_next() {
    if (writing || outgoing.empty()) return;
    writing = true;
    ws.text(true);
    ws.async_write(asio::buffer(outgoing.front()), [self = shared_from_this()](beast::error_code, size_t) {
      self->writing = false;
      self->outgoing.pop_front();
      self->write_next();
    });
  }
};

PageClient::PageClient() : state_(std::make_shared<State>()) {
  answer_site = [](const cJSON* request) -> std::string {
    std::string kind = json_string(request, "kind");
    if (kind == "dialog") {
      const cJSON* buttons = cJSON_GetObjectItemCaseSensitive(request, "buttons");
      const cJSON* first = cJSON_GetArrayItem(buttons, 0);
      return first != nullptr ? json_text(cJSON_GetObjectItemCaseSensitive(first, "id")) : "1";
    }
    if (kind == "message_box") return "1";
    if (kind == "save_dialog") return R"({"chosen":false})";
    return "0";
  };
}

PageClient::~PageClient() { close(); }

bool PageClient::connect(uint16_t port, const std::string& cookie, std::optional<std::string> origin,
                         std::optional<std::string> host, int* refused_status) {
  struct Handshake {
    websocket::response_type response;
    std::promise<beast::error_code> done;
    std::string host;
  };
  auto shake = std::make_shared<Handshake>();
  shake->host = host.value_or("127.0.0.1:" + std::to_string(port));
  std::string origin_value = origin.value_or("http://" + shake->host);
  auto state = state_;
  state->ws.set_option(websocket::stream_base::decorator([=](websocket::request_type& req) {
    if (!cookie.empty()) req.set(http::field::cookie, cookie);
    if (!origin_value.empty()) req.set(http::field::origin, origin_value);
  }));
  beast::get_lowest_layer(state->ws).expires_after(kHttpTimeout);
  beast::get_lowest_layer(state->ws).async_connect(
      tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), port), [shake, state](beast::error_code ec) {
        if (ec) {
          shake->done.set_value(ec);
          return;
        }
        state->ws.async_handshake(shake->response, shake->host, "/bridge",
                                  [shake](beast::error_code hec) { shake->done.set_value(hec); });
      });
  state->thread = std::thread([state] {
    auto guard = asio::make_work_guard(state->io);
    state->io.run();
  });
  auto future = shake->done.get_future();
  if (future.wait_for(kHttpTimeout + std::chrono::seconds(1)) != std::future_status::ready) {
    if (refused_status != nullptr) *refused_status = 0;
    return false;
  }
  beast::error_code ec = future.get();
  if (ec) {
    if (refused_status != nullptr) *refused_status = static_cast<int>(shake->response.result_int());
    return false;
  }
  asio::post(state->io, [state] {
    beast::get_lowest_layer(state->ws).expires_never();
    state->read();
  });
  return true;
}

void PageClient::send(const std::string& text) {
  asio::post(state_->io, [state = state_, text] {
    state->outgoing.push_back(text);
    state->write_next();
  });
}

std::optional<PageClient::Message> PageClient::next(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(state_->lock);
  if (!state_->arrived.wait_for(hold, timeout, [&] { return !state_->messages.empty(); })) return std::nullopt;
  Message m = std::move(state_->messages.front());
  state_->messages.pop_front();
  return m;
}

JsonPtr PageClient::next_of(const std::string& type, std::chrono::milliseconds timeout,
                            const std::function<bool(const cJSON*)>& match) {
  std::unique_lock<std::mutex> hold(state_->lock);
  JsonPtr found;
  state_->arrived.wait_for(hold, timeout, [&] {
    for (auto it = state_->messages.begin(); it != state_->messages.end(); ++it) {
      if (it->binary) continue;
      JsonPtr doc = parse_json(it->data);
      if (doc && json_string(doc.get(), "type") == type && (!match || match(doc.get()))) {
        found = doc;
        state_->messages.erase(it);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<int> PageClient::wait_closed(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(state_->lock);
  if (!state_->arrived.wait_for(hold, timeout, [&] { return state_->closed; })) return std::nullopt;
  return state_->close_code;
}

void PageClient::close() {
  if (!state_->thread.joinable()) return;
  asio::post(state_->io, [state = state_] {
    beast::get_lowest_layer(state->ws).close();
    state->io.stop();
  });
  state_->thread.join();
  // The read left waiting holds this state: destroy it unrun, so the state and its stream are
  // freed with the client.
  state_->io.shut_down_services();
}

JsonPtr PageClient::call(const std::string& method, const std::string& args_json, std::chrono::milliseconds timeout) {
  int id = next_id_++;
  send(R"({"type":"call","id":)" + std::to_string(id) + R"(,"method":")" + method + R"(","args":)" + args_json + "}");
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    JsonPtr message = next_of("result", std::min(left, std::chrono::milliseconds(50)), [&](const cJSON* m) {
      const cJSON* got = cJSON_GetObjectItemCaseSensitive(m, "id");
      return cJSON_IsNumber(got) && got->valueint == id;
    });
    if (message) return message;
    JsonPtr site = next_of("site", std::chrono::milliseconds(0),
                           [](const cJSON* m) { return cJSON_GetObjectItemCaseSensitive(m, "id") != nullptr; });
    if (site && answer_site) {
      send(R"({"type":"site-reply","id":)" + json_text(cJSON_GetObjectItemCaseSensitive(site.get(), "id")) +
           R"(,"value":)" + answer_site(site.get()) + "}");
    }
  }
  return nullptr;
}

}  // namespace host::testing
