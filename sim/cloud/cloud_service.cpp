#include "sim/cloud/cloud_service.h"

#include <utility>  // Boost 1.74's Asio needs std::exchange declared first

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/json/json_integer.h"
#include "sim/cloud/service_crypto.h"

namespace sim::cloud {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

Json json(cJSON* item) { return Json(item, cJSON_Delete); }

constexpr size_t kMaxRequestBody = 4 * 1024 * 1024;
constexpr int kLowercaseBodyDelayMs = 200;

constexpr const char* kListSn = "c2s.get_list_sn_sp";
constexpr const char* kDeviceList = "c2s.get_dev_list_sp";
constexpr const char* kCameraList = "c2s.get_cam_list_sp";
constexpr const char* kSetDeviceList = "c2s.set_dev_list_sp";
constexpr const char* kSetCameraList = "c2s.set_cam_list_sp";

constexpr const char* kDeviceSecrets[] = {"dev_id", "dev_user", "dev_pass"};
constexpr const char* kCameraSecrets[] = {"devid", "dev_user", "dev_pass"};

// What the service means to answer, before any fault bends it.
struct Answer {
  int status = 200;
  std::string body;
};

Answer error_answer(int status, const std::string& message) {
  Json doc = json(cJSON_CreateObject());
  cJSON_AddNumberToObject(doc.get(), "code", status);
  cJSON_AddStringToObject(doc.get(), "error", message.c_str());
  char* text = cJSON_PrintUnformatted(doc.get());
  Answer a{status, text != nullptr ? text : "{}"};
  cJSON_free(text);
  return a;
}

Answer json_answer(const cJSON* doc) {
  char* text = cJSON_PrintUnformatted(doc);
  if (text == nullptr) return error_answer(500, "cannot print reply");
  Answer a{200, text};
  cJSON_free(text);
  return a;
}

const char* text_of(const cJSON* object, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  return cJSON_IsString(item) ? item->valuestring : nullptr;
}

template <class Fn>
void each_camera(cJSON* node, Fn&& fn) {
  if (!cJSON_IsObject(node)) return;
  cJSON* groups = cJSON_GetObjectItemCaseSensitive(node, "groups");
  if (cJSON_IsArray(groups))
    for (cJSON* g = groups->child; g != nullptr; g = g->next) each_camera(g, fn);
  cJSON* cams = cJSON_GetObjectItemCaseSensitive(node, "cams");
  if (cJSON_IsArray(cams))
    for (cJSON* c = cams->child; c != nullptr; c = c->next) fn(c);
}

template <class Fn>
void each_device(cJSON* root, Fn&& fn) {
  cJSON* devs = cJSON_GetObjectItemCaseSensitive(root, "devs");
  if (cJSON_IsArray(devs))
    for (cJSON* d = devs->child; d != nullptr; d = d->next) fn(d);
}

void encrypt_members(cJSON* element, const char* const (&names)[3], const std::string& key) {
  if (!cJSON_IsObject(element)) return;
  for (const char* name : names) {
    const char* plain = text_of(element, name);
    if (plain == nullptr) continue;
    cJSON_ReplaceItemInObjectCaseSensitive(element, name, cJSON_CreateString(aes_encrypt_base64(plain, key).c_str()));
  }
}

// False when a present member is not the base64 of a block made with the service's public key.
bool decrypt_members(cJSON* element, const char* const (&names)[3]) {
  if (!cJSON_IsObject(element)) return true;
  for (const char* name : names) {
    cJSON* item = cJSON_GetObjectItemCaseSensitive(element, name);
    if (item == nullptr) continue;
    if (!cJSON_IsString(item)) return false;
    std::optional<std::string> plain = service_key().decrypt_base64(item->valuestring);
    if (!plain) return false;
    cJSON_ReplaceItemInObjectCaseSensitive(element, name, cJSON_CreateString(plain->c_str()));
  }
  return true;
}

// One scripted way of writing the reply: chunks with a pause before each, then either close
// or wait for the client to leave.
struct Delivery {
  struct Chunk {
    int wait_ms = 0;
    std::string bytes;
  };
  std::vector<Chunk> chunks;
  bool hold_open = false;
};

std::string serialize(int status, const std::string& body) {
  http::response<http::string_body> res{static_cast<http::status>(status), 11};
  res.set(http::field::server, "kavrel-sim cloud");
  res.set(http::field::content_type, "application/json;charset=utf-8");
  res.set(http::field::connection, "close");
  res.body() = body;
  res.prepare_payload();
  std::ostringstream out;
  out << res;
  return out.str();
}

Delivery deliver(const Answer& answer, const Fault* fault) {
  Delivery d;
  if (fault == nullptr) {
    d.chunks.push_back({0, serialize(answer.status, answer.body)});
    return d;
  }
  const std::string& body = answer.body;
  switch (fault->kind) {
    case Fault::Kind::kStatus: {
      Answer failed = error_answer(fault->status, "injected failure");
      d.chunks.push_back({0, serialize(failed.status, failed.body)});
      break;
    }
    case Fault::Kind::kNotJson:
      d.chunks.push_back({0, serialize(200, "<html>this is not json</html>")});
      break;
    case Fault::Kind::kLowercaseLength:
      d.chunks.push_back({0, "HTTP/1.1 200 OK\r\ncontent-length: " + std::to_string(body.size()) + "\r\n\r\n"});
      d.chunks.push_back({kLowercaseBodyDelayMs, body});
      break;
    case Fault::Kind::kLongHeader:
      d.chunks.push_back({0, "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(1100, 'p') +
                                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body});
      break;
    case Fault::Kind::kShortBody:
      d.chunks.push_back({0, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                 body.substr(0, body.size() / 2)});
      break;
    case Fault::Kind::kStallBody:
      d.chunks.push_back({0, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                 body.substr(0, body.size() / 2)});
      d.hold_open = true;
      break;
    case Fault::Kind::kDelay:
      d.chunks.push_back({fault->delay_ms, serialize(answer.status, answer.body)});
      break;
    case Fault::Kind::kClose:
      break;
    case Fault::Kind::kBadStatusLine:
      d.chunks.push_back({0, "SURPRISE\r\n\r\n"});
      break;
    case Fault::Kind::kBody:
      d.chunks.push_back({0, serialize(200, fault->body)});
      break;
  }
  return d;
}

}  // namespace

struct CloudService::Impl {
  explicit Impl(Options o) : options(std::move(o)), store(options.database) {}

  Options options;
  AccountStore store;

  // Server thread state: `io` and `acceptor` are made by start() before the thread runs and
  // dropped by stop() after it has been joined.
  std::unique_ptr<asio::io_context> io;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::thread server;
  std::atomic<uint16_t> bound_port{0};
  std::mutex lifecycle;  // serialises start() and stop()

  mutable std::mutex plan_lock;  // guards faults and log
  std::vector<Fault> faults;
  std::vector<RecordedRequest> log;

  void accept();
  Answer answer(const std::string& target, http::verb verb, const std::string& body, std::string& msg);
  Answer answer_method(const std::string& msg, cJSON* request, const AccountRow& account);
  std::optional<Fault> take_fault(const std::string& msg);
  void record(RecordedRequest r) {
    std::lock_guard<std::mutex> hold(plan_lock);
    log.push_back(std::move(r));
  }
};

namespace {

// One client connection: read one request, write the (possibly bent) reply, close.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, CloudService::Impl& service)
      : socket_(std::move(socket)), timer_(socket_.get_executor()), service_(service) {}

  void start() {
    parser_.body_limit(kMaxRequestBody);
    http::async_read(socket_, buffer_, parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
  }

 private:
  void on_read(beast::error_code ec) {
    if (ec) {
      close();
      return;
    }
    const auto& req = parser_.get();
    std::string msg;
    Answer a = service_.answer(std::string(req.target()), req.method(), req.body(), msg);
    std::optional<Fault> fault = service_.take_fault(msg);
    delivery_ = deliver(a, fault ? &*fault : nullptr);
    int answered = a.status;
    if (fault && fault->kind == Fault::Kind::kStatus) answered = fault->status;
    if (fault && fault->kind == Fault::Kind::kClose) answered = 0;
    if (fault && (fault->kind == Fault::Kind::kBody || fault->kind == Fault::Kind::kNotJson)) answered = 200;
    service_.record({std::string(req.target()), msg, req.body(), answered});
    next_chunk(0);
  }

  void next_chunk(size_t i) {
    if (i == delivery_.chunks.size()) {
      if (delivery_.hold_open) {
        wait_for_client();
      } else {
        close();
      }
      return;
    }
    auto write = [self = shared_from_this(), i] {
      asio::async_write(self->socket_, asio::buffer(self->delivery_.chunks[i].bytes),
                        [self, i](beast::error_code ec, size_t) {
                          if (ec) {
                            self->close();
                            return;
                          }
                          self->next_chunk(i + 1);
                        });
    };
    int wait_ms = delivery_.chunks[i].wait_ms;
    if (wait_ms <= 0) {
      write();
      return;
    }
    timer_.expires_after(std::chrono::milliseconds(wait_ms));
    timer_.async_wait([self = shared_from_this(), write](beast::error_code ec) {
      if (ec) return;
      write();
    });
  }

  void wait_for_client() {
    socket_.async_read_some(asio::buffer(sink_), [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) {
        self->close();
        return;
      }
      self->wait_for_client();
    });
  }

  void close() {
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  tcp::socket socket_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  http::request_parser<http::string_body> parser_;
  Delivery delivery_;
  char sink_[256];
  CloudService::Impl& service_;
};

}  // namespace

void CloudService::Impl::accept() {
  acceptor->async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
    } else {
      std::make_shared<Connection>(std::move(socket), *this)->start();
    }
    accept();
  });
}

std::optional<Fault> CloudService::Impl::take_fault(const std::string& msg) {
  std::lock_guard<std::mutex> hold(plan_lock);
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (!it->method.empty() && it->method != msg) continue;
    Fault chosen = *it;
    if (it->times > 0 && --it->times == 0) faults.erase(it);
    return chosen;
  }
  return std::nullopt;
}

Answer CloudService::Impl::answer(const std::string& target, http::verb verb, const std::string& body,
                                  std::string& msg) {
  (void)target;
  if (verb != http::verb::post) return error_answer(405, "only POST is served");
  Json request = json(cJSON_ParseWithLength(body.data(), body.size()));
  if (!cJSON_IsObject(request.get())) return error_answer(400, "request is not a JSON object");
  const char* method = text_of(request.get(), "msg");
  if (method != nullptr) msg = method;
  const char* app_key = text_of(request.get(), "app_key");
  const char* user = text_of(request.get(), "user");
  const char* key = text_of(request.get(), "key");
  std::optional<int64_t> timestamp = platform::json_integer_member<int64_t>(request.get(), "timestamp");
  if (method == nullptr || app_key == nullptr || user == nullptr || key == nullptr || !timestamp)
    return error_answer(400, "request lacks msg, timestamp, app_key, user or key");

  std::optional<std::string> app_pass = store.app_pass(app_key);
  if (!app_pass) return error_answer(401, "unknown application key");
  std::optional<AccountRow> account = store.account(user);
  if (!account) return error_answer(401, "unknown user");

  // The text the client signed after the five fixed fields, per method.
  std::string extra;
  if (msg == kDeviceList || msg == kCameraList) {
    const char* pkey_pass = text_of(request.get(), "pkey_pass");
    if (pkey_pass == nullptr) return error_answer(400, "request lacks pkey_pass");
    extra = pkey_pass;
  } else if (msg == kSetDeviceList || msg == kSetCameraList) {
    const char* content = text_of(request.get(), "content");
    if (content == nullptr) return error_answer(400, "request lacks content");
    extra = md5_hex(content);
  } else if (msg != kListSn) {
    return error_answer(400, "unknown method " + msg);
  }
  std::string signed_text = msg + "|" + app_key + "|" +
                            std::to_string(*timestamp) + "|" + *app_pass + "|" +
                            md5_hex(account->password);
  if (!extra.empty()) signed_text += "|" + extra;
  if (md5_hex(signed_text) != key) return error_answer(401, "signature does not match");
  return answer_method(msg, request.get(), *account);
}

Answer CloudService::Impl::answer_method(const std::string& msg, cJSON* request, const AccountRow& account) {
  if (msg == kListSn) {
    Json reply = json(cJSON_CreateObject());
    cJSON_AddNumberToObject(reply.get(), "devs_sn", static_cast<double>(account.devs_sn));
    cJSON_AddNumberToObject(reply.get(), "cams_sn", static_cast<double>(account.cams_sn));
    return json_answer(reply.get());
  }
  if (msg == kDeviceList || msg == kCameraList) {
    std::optional<std::string> session_key = service_key().decrypt_base64(text_of(request, "pkey_pass"));
    if (!session_key || session_key->empty()) return error_answer(400, "cannot decrypt pkey_pass");
    if (msg == kDeviceList) {
      Json list = json(store.device_list(account.id));
      each_device(list.get(), [&](cJSON* d) { encrypt_members(d, kDeviceSecrets, *session_key); });
      return json_answer(list.get());
    }
    Json list = json(store.camera_list(account.id));
    each_camera(list.get(), [&](cJSON* c) { encrypt_members(c, kCameraSecrets, *session_key); });
    return json_answer(list.get());
  }
  Json content = json(cJSON_Parse(text_of(request, "content")));
  if (!cJSON_IsObject(content.get())) return error_answer(400, "content is not a JSON object");
  bool readable = true;
  std::optional<int64_t> serial;
  if (msg == kSetDeviceList) {
    each_device(content.get(), [&](cJSON* d) { readable = decrypt_members(d, kDeviceSecrets) && readable; });
    if (!readable) return error_answer(400, "cannot decrypt a device secret");
    const cJSON* update = cJSON_GetObjectItemCaseSensitive(request, "update_sn");
    bool bump = cJSON_IsNumber(update) && update->valuedouble != 0;
    serial = store.store_device_list(account.id, content.get(), bump);
  } else {
    each_camera(content.get(), [&](cJSON* c) { readable = decrypt_members(c, kCameraSecrets) && readable; });
    if (!readable) return error_answer(400, "cannot decrypt a camera secret");
    serial = store.store_camera_list(account.id, content.get());
  }
  if (!serial) return error_answer(400, "content holds no list");
  Json reply = json(cJSON_CreateObject());
  cJSON_AddNumberToObject(reply.get(), "sn", static_cast<double>(*serial));
  return json_answer(reply.get());
}

CloudService::CloudService() : CloudService(Options{}) {}

CloudService::CloudService(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

CloudService::~CloudService() { stop(); }

bool CloudService::load_fixture(const fixture::Fixture& fixture, std::string& error) {
  return impl_->store.seed(fixture, error);
}

uint16_t CloudService::start() {
  std::lock_guard<std::mutex> hold(impl_->lifecycle);
  if (impl_->server.joinable()) return impl_->bound_port.load();
  try {
    impl_->io = std::make_unique<asio::io_context>(1);
    impl_->acceptor = std::make_unique<tcp::acceptor>(*impl_->io);
    tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), impl_->options.port);
    impl_->acceptor->open(endpoint.protocol());
    impl_->acceptor->set_option(asio::socket_base::reuse_address(true));
    impl_->acceptor->bind(endpoint);
    impl_->acceptor->listen();
    impl_->bound_port.store(impl_->acceptor->local_endpoint().port());
  } catch (const std::exception&) {
    impl_->acceptor.reset();
    impl_->io.reset();
    return 0;
  }
  impl_->accept();
  impl_->server = std::thread([io = impl_->io.get()] { io->run(); });
  return impl_->bound_port.load();
}

void CloudService::stop() {
  std::lock_guard<std::mutex> hold(impl_->lifecycle);
  if (!impl_->server.joinable()) return;
  impl_->io->stop();
  impl_->server.join();
  impl_->acceptor.reset();
  impl_->io.reset();  // drops the connections still open, closing their sockets
  impl_->bound_port.store(0);
}

uint16_t CloudService::port() const { return impl_->bound_port.load(); }

std::string CloudService::url() const { return "http://127.0.0.1:" + std::to_string(port()) + "/"; }

void CloudService::add_fault(Fault fault) {
  std::lock_guard<std::mutex> hold(impl_->plan_lock);
  impl_->faults.push_back(std::move(fault));
}

void CloudService::clear_faults() {
  std::lock_guard<std::mutex> hold(impl_->plan_lock);
  impl_->faults.clear();
}

std::vector<RecordedRequest> CloudService::requests() const {
  std::lock_guard<std::mutex> hold(impl_->plan_lock);
  return impl_->log;
}

void CloudService::clear_requests() {
  std::lock_guard<std::mutex> hold(impl_->plan_lock);
  impl_->log.clear();
}

AccountStore& CloudService::store() { return impl_->store; }

}  // namespace sim::cloud
