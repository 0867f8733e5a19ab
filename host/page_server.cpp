#include "host/page_server.h"

#include <utility>  // Boost 1.74's Asio needs std::exchange declared first

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "host/closable_io.h"
#include "host/downloads.h"
#include "host/log.h"
#include "host/secrets.h"

namespace host {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;

constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr auto kWriteTimeout = std::chrono::seconds(120);
constexpr size_t kHeaderLimit = 16 * 1024;
constexpr size_t kBodyLimit = 64 * 1024;

std::string decode_percent(std::string_view text, bool* ok) {
  std::string out;
  *ok = true;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) {
        *ok = false;
        return out;
      }
      auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9') return h - '0';
        if (h >= 'a' && h <= 'f') return h - 'a' + 10;
        if (h >= 'A' && h <= 'F') return h - 'A' + 10;
        return -1;
      };
      int hi = hex(text[i + 1]);
      int lo = hex(text[i + 2]);
      if (hi < 0 || lo < 0) {
        *ok = false;
        return out;
      }
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == 0) {
      *ok = false;
      return out;
    }
    out += c;
  }
  return out;
}

std::string_view view(beast::string_view text) { return std::string_view(text.data(), text.size()); }

// The value of `name` in a query string, or nothing.
std::optional<std::string> query_value(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name) {
      return std::string(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::optional<std::string> cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    size_t semi = header.find(';');
    std::string_view item = header.substr(0, semi);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    size_t eq = item.find('=');
    if (eq != std::string_view::npos && item.substr(0, eq) == name) return std::string(item.substr(eq + 1));
    if (semi == std::string_view::npos) break;
    header.remove_prefix(semi + 1);
  }
  return std::nullopt;
}

// A relative path of the portal that is safe to join to its folder: no "..", no hidden files,
// no empty segments, no backslashes.
bool safe_relative_path(const std::string& path) {
  if (path.empty() || path.find('\\') != std::string::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    std::string segment = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (segment.empty() || segment.front() == '.') return false;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return true;
}

// The real path of `relative` inside `folder`, when it is a regular file there.
std::optional<std::string> file_inside(const std::string& folder, const std::string& relative) {
  if (folder.empty()) return std::nullopt;
  char root[PATH_MAX];
  char full[PATH_MAX];
  if (::realpath(folder.c_str(), root) == nullptr) return std::nullopt;
  std::string joined = std::string(root) + "/" + relative;
  if (::realpath(joined.c_str(), full) == nullptr) return std::nullopt;
  std::string prefix = std::string(root) + "/";
  std::string resolved = full;
  if (resolved.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
  struct stat info;
  if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return resolved;
}

std::string disposition(const std::string& name) {
  std::string plain;
  std::string encoded;
  static const char digits[] = "0123456789ABCDEF";
  for (unsigned char c : name) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                c == '-' || c == '_';
    plain += safe ? static_cast<char>(c) : '_';
    if (safe) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += digits[c >> 4];
      encoded += digits[c & 15];
    }
  }
  return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + encoded;
}

}  // namespace

// Everything of the server; shared with the sessions and the page handles so that a late post
// finds either a running network thread or nothing.
struct PageServer::State : std::enable_shared_from_this<PageServer::State> {
  State(PageServerOptions o, const Downloads& d, PageListener& l) : options(std::move(o)), downloads(d), listener(l) {}

  const PageServerOptions options;
  const Downloads& downloads;
  PageListener& listener;
  const std::string token = random_hex(24);
  const std::string cookie = random_hex(24);
  uint16_t port = 0;  // set by start() before the thread runs

  ClosableIo io{1};
  tcp::acceptor acceptor{io};
  std::thread thread;
  std::promise<void> thread_ended;
  // Keeps the network thread running until stop(); network thread and start() only.
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;

  // Whether posting still reaches the network thread. Written by stop(), read by every poster;
  // guarded by post_lock.
  std::mutex post_lock;
  bool accepting_posts = false;

  // Network thread only: how to close each open connection, and the pending timers, for stop().
  std::map<uint64_t, std::function<void()>> open_connections;
  std::set<std::shared_ptr<asio::steady_timer>> timers;
  uint64_t next_connection = 1;
  uint64_t next_page_id = 1;

  bool post(std::function<void()> fn) {
    std::lock_guard<std::mutex> hold(post_lock);
    if (!accepting_posts) return false;
    asio::post(io, std::move(fn));
    return true;
  }
  // As post(), but runs `fn` at once when called on the network thread.
  bool dispatch(std::function<void()> fn) {
    if (io.get_executor().running_in_this_thread()) {
      fn();
      return true;
    }
    return post(std::move(fn));
  }

  std::string cookie_name() const { return "kavrel_session_" + std::to_string(port); }
  bool host_allowed(std::string_view host) const {
    return host == "127.0.0.1:" + std::to_string(port) || host == "localhost:" + std::to_string(port);
  }

  void accept();
};

namespace {

using StatePtr = std::shared_ptr<PageServer::State>;

class WsSession;

// The handle the listener holds: a weak reference to the session, so holding it keeps nothing open.
class PageHandle final : public PageSocket {
 public:
  PageHandle(StatePtr state, std::weak_ptr<WsSession> session, uint64_t id)
      : state_(std::move(state)), session_(std::move(session)), id_(id) {}
  void send_text(std::string text) override;
  void send_binary(std::shared_ptr<const std::vector<uint8_t>> bytes) override;
  void close() override;
  uint64_t id() const override { return id_; }

 private:
  StatePtr state_;
  std::weak_ptr<WsSession> session_;
  const uint64_t id_;
};

// One WebSocket, on the network thread.
class WsSession : public std::enable_shared_from_this<WsSession> {
 public:
  WsSession(StatePtr state, tcp::socket socket) : state_(std::move(state)), ws_(std::move(socket)) {}

  void start(Request request) {
    handle_ = std::make_shared<PageHandle>(state_, weak_from_this(), state_->next_page_id++);
    connection_ = state_->next_connection++;
    state_->open_connections[connection_] = [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->abort();
    };
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& res) { res.set(http::field::server, "kavrel-host"); }));
    ws_.read_message_max(state_->options.max_message);
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) { self->on_accept(ec); });
  }

  void send(bool binary, std::string text, std::shared_ptr<const std::vector<uint8_t>> bytes) {
    if (closed_ || closing_) return;
    size_t size = binary ? bytes->size() : text.size();
    if (queued_bytes_ + size > state_->options.max_queued_bytes) {
      log_line("a page reads too slowly; closing it");
      abort();
      return;
    }
    queued_bytes_ += size;
    queue_.push_back(Outgoing{binary, std::move(text), std::move(bytes)});
    if (!writing_ && open_) write_next();
  }

  void close_after_queue() {
    if (closed_ || closing_) return;
    closing_ = true;
    if (!writing_ && open_) finish_close();
  }

  // Drops the connection at once.
  void abort() {
    if (closed_) return;
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
    beast::get_lowest_layer(ws_).close();
  }

 private:
  struct Outgoing {
    bool binary = false;
    std::string text;
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    size_t size() const { return binary ? bytes->size() : text.size(); }
  };

  void on_accept(beast::error_code ec) {
    if (ec) {
      finish();
      return;
    }
    open_ = true;
    state_->listener.on_page_open(handle_);
    if (!queue_.empty()) write_next();
    else if (closing_) finish_close();
    read();
  }

  void read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
  }

  void on_read(beast::error_code ec) {
    if (ec) {
      if (ec == websocket::error::message_too_big) log_line("a page message over the size limit closed its socket");
      finish();
      return;
    }
    if (ws_.got_text()) {
      std::string text = beast::buffers_to_string(buffer_.data());
      buffer_.consume(buffer_.size());
      state_->listener.on_page_message(handle_, text);
    } else {
      buffer_.consume(buffer_.size());
    }
    if (!closed_) read();
  }

  void write_next() {
    if (queue_.empty()) {
      if (closing_) finish_close();
      return;
    }
    writing_ = true;
    Outgoing& next = queue_.front();
    ws_.binary(next.binary);
    auto done = [self = shared_from_this()](beast::error_code ec, size_t) { self->on_write(ec); };
    if (next.binary) {
      ws_.async_write(asio::buffer(*next.bytes), std::move(done));
    } else {
      ws_.async_write(asio::buffer(next.text), std::move(done));
    }
  }

  void on_write(beast::error_code ec) {
    writing_ = false;
    if (!queue_.empty()) {
      queued_bytes_ -= queue_.front().size();
      queue_.pop_front();
    }
    if (ec) {
      abort();
      return;
    }
    write_next();
  }

  void finish_close() {
    if (close_sent_) return;
    close_sent_ = true;
    ws_.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {});
  }

  void finish() {
    if (closed_) return;
    closed_ = true;
    queue_.clear();
    state_->open_connections.erase(connection_);
    beast::get_lowest_layer(ws_).close();
    if (open_) state_->listener.on_page_closed(handle_);
  }

  StatePtr state_;
  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
  std::shared_ptr<PageHandle> handle_;
  uint64_t connection_ = 0;
  std::deque<Outgoing> queue_;
  size_t queued_bytes_ = 0;
  bool open_ = false;
  bool writing_ = false;
  bool closing_ = false;
  bool close_sent_ = false;
  bool closed_ = false;
};

void PageHandle::send_text(std::string text) {
  state_->dispatch([session = session_, text = std::move(text)]() mutable {
    if (auto s = session.lock()) s->send(false, std::move(text), nullptr);
  });
}

void PageHandle::send_binary(std::shared_ptr<const std::vector<uint8_t>> bytes) {
  state_->dispatch([session = session_, bytes = std::move(bytes)]() mutable {
    if (auto s = session.lock()) s->send(true, {}, std::move(bytes));
  });
}

void PageHandle::close() {
  state_->post([session = session_] {
    if (auto s = session.lock()) s->close_after_queue();
  });
}

// One HTTP connection: requests in turn until the peer closes, or a WebSocket takes it over.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(StatePtr state, tcp::socket socket) : state_(std::move(state)), stream_(std::move(socket)) {}

  void start() {
    connection_ = state_->next_connection++;
    state_->open_connections[connection_] = [weak = weak_from_this()] {
      if (auto self = weak.lock()) self->close();
    };
    read();
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

 private:
  void read() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    stream_.expires_after(kRequestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
  }

  void on_read(beast::error_code ec) {
    if (ec) {
      if (ec != http::error::end_of_stream && ec != asio::error::operation_aborted && ec != beast::error::timeout &&
          ec != asio::error::connection_reset && ec != asio::error::eof) {
        // A request over the limits or not HTTP: answer once, then close.
        auto res = plain(http::status::bad_request, "bad request\n", 11);
        res.keep_alive(false);
        send(std::move(res));
        return;
      }
      done();
      return;
    }
    handle(parser_->release());
  }

  http::response<http::string_body> plain(http::status status, std::string body, unsigned version) {
    http::response<http::string_body> res{status, version};
    res.set(http::field::content_type, "text/plain; charset=utf-8");
    res.body() = std::move(body);
    return res;
  }

  template <class Body>
  void decorate(http::response<Body>& res) {
    res.set(http::field::server, "kavrel-host");
    res.set(http::field::cache_control, "no-store");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("X-Frame-Options", "DENY");
    res.set("Referrer-Policy", "no-referrer");
  }

  template <class Body>
  void send(http::response<Body>&& res) {
    decorate(res);
    res.prepare_payload();
    auto message = std::make_shared<http::response<Body>>(std::move(res));
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code ec, size_t) {
      if (ec || message->need_eof()) {
        self->close();
        self->done();
        return;
      }
      self->read();
    });
  }

  void refuse(const Request& req, http::status status, const char* why) {
    log_verbose(std::string("refused a request: ") + why);
    auto res = plain(status, std::string(why) + "\n", req.version());
    res.keep_alive(false);
    send(std::move(res));
  }

  void handle(Request req) {
    std::string target(req.target());
    std::string path = target.substr(0, target.find('?'));
    std::string query = target.find('?') == std::string::npos ? "" : target.substr(target.find('?') + 1);

    if (!state_->host_allowed(view(req[http::field::host]))) return refuse(req, http::status::forbidden, "wrong host");
    if (req.method() != http::verb::get) return refuse(req, http::status::method_not_allowed, "only GET");

    if (path == "/" && query_value(query, "token")) {
      if (!secret_equal(*query_value(query, "token"), state_->token)) {
        return refuse(req, http::status::forbidden, "wrong token");
      }
      http::response<http::string_body> res{http::status::see_other, req.version()};
      res.set(http::field::location, "/");
      res.set(http::field::set_cookie,
              state_->cookie_name() + "=" + state_->cookie + "; Path=/; HttpOnly; SameSite=Strict");
      res.keep_alive(req.keep_alive());
      return send(std::move(res));
    }

    auto cookie = cookie_value(view(req[http::field::cookie]), state_->cookie_name());
    if (!cookie) return refuse(req, http::status::unauthorized, "no session: open the address kavrel-host printed");
    if (!secret_equal(*cookie, state_->cookie)) return refuse(req, http::status::forbidden, "wrong session");

    if (websocket::is_upgrade(req)) {
      if (path != "/bridge") return refuse(req, http::status::not_found, "no WebSocket here");
      std::string origin(req[http::field::origin]);
      if (origin != "http://" + std::string(req[http::field::host])) {
        return refuse(req, http::status::forbidden, "foreign origin");
      }
      state_->open_connections.erase(connection_);
      stream_.expires_never();
      auto ws = std::make_shared<WsSession>(state_, stream_.release_socket());
      ws->start(std::move(req));
      return;
    }

    bool decoded_ok = false;
    std::string decoded = decode_percent(path, &decoded_ok);
    if (!decoded_ok) return refuse(req, http::status::bad_request, "bad path");

    if (decoded == "/typelib.json") {
      http::response<http::string_body> res{http::status::ok, req.version()};
      res.set(http::field::content_type, "application/json");
      res.body() = state_->options.typelib_json;
      res.keep_alive(req.keep_alive());
      return send(std::move(res));
    }
    if (decoded.rfind("/download/", 0) == 0) return serve_download(req, decoded.substr(10));
    if (decoded == "/kavrel.js") return serve_file(req, state_->options.generated_dir, "kavrel.js", false, "");
    std::string relative = decoded == "/" ? "index.html" : decoded.substr(1);
    if (!safe_relative_path(relative)) return refuse(req, http::status::not_found, "not found");
    serve_file(req, state_->options.web_dir, relative, false, "");
  }

  void serve_file(const Request& req, const std::string& folder, const std::string& relative, bool attachment,
                  const std::string& name) {
    auto found = file_inside(folder, relative);
    if (!found) return refuse(req, http::status::not_found, "not found");
    serve_path(req, *found, content_type_for(relative), attachment, name);
  }

  void serve_path(const Request& req, const std::string& path, const std::string& type, bool attachment,
                  const std::string& name) {
    http::file_body::value_type body;
    beast::error_code ec;
    body.open(path.c_str(), beast::file_mode::scan, ec);
    if (ec) return refuse(req, http::status::not_found, "not found");
    http::response<http::file_body> res{std::piecewise_construct, std::make_tuple(std::move(body)),
                                        std::make_tuple(http::status::ok, req.version())};
    res.set(http::field::content_type, type);
    if (attachment) res.set(http::field::content_disposition, disposition(name));
    res.keep_alive(req.keep_alive());
    send(std::move(res));
  }

  void serve_download(const Request& req, const std::string& id) {
    std::optional<Download> item = state_->downloads.find(id);
    if (!item) return refuse(req, http::status::not_found, "not found");
    if (!item->bytes) return serve_path(req, item->path, item->content_type, item->attachment, item->name);
    http::response<http::vector_body<uint8_t>> res{http::status::ok, req.version()};
    res.set(http::field::content_type, item->content_type);
    if (item->attachment) res.set(http::field::content_disposition, disposition(item->name));
    res.body() = *item->bytes;
    res.keep_alive(req.keep_alive());
    send(std::move(res));
  }

  void done() { state_->open_connections.erase(connection_); }

  StatePtr state_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  uint64_t connection_ = 0;
};

}  // namespace

void PageServer::State::accept() {
  acceptor.async_accept([self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
    if (ec) {
      if (ec == asio::error::operation_aborted || !self->acceptor.is_open()) return;
    } else {
      // Calls, results and acknowledgements are small and answered at once: no Nagle delay.
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<HttpSession>(self, std::move(socket))->start();
    }
    self->accept();
  });
}

PageServer::PageServer(PageServerOptions options, const Downloads& downloads, PageListener& listener)
    : state_(std::make_shared<State>(std::move(options), downloads, listener)) {}

PageServer::~PageServer() { stop(); }

bool PageServer::start(std::string* error) {
  beast::error_code ec;
  tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), state_->options.port);
  state_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) state_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) state_->acceptor.bind(endpoint, ec);
  if (!ec) state_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    if (error != nullptr) *error = "cannot listen on 127.0.0.1:" + std::to_string(state_->options.port) + ": " + ec.message();
    return false;
  }
  state_->port = state_->acceptor.local_endpoint().port();
  {
    std::lock_guard<std::mutex> hold(state_->post_lock);
    state_->accepting_posts = true;
  }
  state_->work.emplace(state_->io.get_executor());
  state_->accept();
  state_->thread = std::thread([state = state_] {
    state->io.run();
    state->thread_ended.set_value();
  });
  return true;
}

void PageServer::stop() {
  if (!state_->thread.joinable()) return;
  // Close every connection and timer on the network thread; with nothing left to do, the thread
  // runs out. Listeners hear of closed pages before it does.
  bool posted = state_->post([state = state_] {
    beast::error_code ignored;
    state->acceptor.close(ignored);
    auto closers = state->open_connections;
    for (auto& [id, close] : closers) close();
    for (auto& timer : state->timers) timer->cancel();
    state->timers.clear();
    state->work.reset();
  });
  {
    std::lock_guard<std::mutex> hold(state_->post_lock);
    state_->accepting_posts = false;
  }
  if (!posted || state_->thread_ended.get_future().wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
    state_->io.stop();
  }
  state_->thread.join();
  // Handlers a cut-short thread never ran hold their sessions, and the sessions this state: run
  // them out here (each sees its connection closed), so nothing keeps the other alive.
  // Handlers a cut-short thread never ran, and the websocket writes suspended behind a close,
  // hold their sessions, and the sessions this state: destroy them unrun, so nothing keeps the
  // other alive. The network thread is gone, so its tables are this thread's now.
  state_->io.shut_down_services();
  state_->open_connections.clear();
  state_->timers.clear();
}

uint16_t PageServer::port() const { return state_->port; }

std::string PageServer::address() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/?token=" + state_->token;
}

const std::string& PageServer::token() const { return state_->token; }

std::string PageServer::cookie_name() const { return state_->cookie_name(); }

void PageServer::post(std::function<void()> fn) { state_->post(std::move(fn)); }

void PageServer::post_after(std::chrono::milliseconds delay, std::function<void()> fn) {
  state_->post([state = state_, delay, fn = std::move(fn)]() mutable {
    auto timer = std::make_shared<asio::steady_timer>(state->io, delay);
    state->timers.insert(timer);
    timer->async_wait([state, timer, fn = std::move(fn)](beast::error_code ec) {
      state->timers.erase(timer);
      if (!ec) fn();
    });
  });
}

}  // namespace host
