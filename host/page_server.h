// The page server: HTTP and WebSocket on 127.0.0.1 for the page, on one network thread.
//
// It serves the portal's static files, the generated kavrel.js, the type library description
// and the downloads, trades the per-run token of the printed address for a session cookie, and
// hands every WebSocket at /bridge to a PageListener. host/PROTOCOL.md describes what a page
// sees; the checks (cookie, Host, Origin, sizes) are all made here, before the listener hears of
// a page.
//
// Threads: one network thread owned by the server runs every socket and every listener call.
// post() and the PageSocket members may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

class Downloads;

// One page's WebSocket as the rest of the host holds it. Holding one keeps no socket alive: once
// the page has gone, sends are dropped.
class PageSocket {
 public:
  virtual ~PageSocket() = default;
  virtual void send_text(std::string text) = 0;
  virtual void send_binary(std::shared_ptr<const std::vector<uint8_t>> bytes) = 0;
  // Sends what is queued, then closes the socket.
  virtual void close() = 0;
  // Process-unique, never reused.
  virtual uint64_t id() const = 0;
};

// Told about pages, on the network thread.
class PageListener {
 public:
  virtual ~PageListener() = default;
  virtual void on_page_open(const std::shared_ptr<PageSocket>& page) = 0;
  virtual void on_page_message(const std::shared_ptr<PageSocket>& page, const std::string& text) = 0;
  // Once per page, whichever side closed.
  virtual void on_page_closed(const std::shared_ptr<PageSocket>& page) = 0;
};

struct PageServerOptions {
  uint16_t port = 0;          // 0: an ephemeral port
  std::string web_dir;        // the portal's static files
  std::string generated_dir;  // holds the generated kavrel.js
  std::string typelib_json;   // served as /typelib.json
  size_t max_message = 1u << 20;        // a longer page message closes the socket (1009)
  size_t max_queued_bytes = 32u << 20;  // a page that reads slower than this is closed
};

class PageServer {
 public:
  PageServer(PageServerOptions options, const Downloads& downloads, PageListener& listener);
  // Stops first.
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Binds 127.0.0.1 and starts the network thread. False with `error` when it cannot listen.
  bool start(std::string* error);
  // Closes every connection and joins the network thread. Later posts are dropped.
  void stop();

  uint16_t port() const;
  // "http://127.0.0.1:PORT/?token=TOKEN": the one address to open.
  std::string address() const;
  const std::string& token() const;
  // The session cookie's name (one per port, so hosts on other ports keep theirs).
  std::string cookie_name() const;

  void post(std::function<void()> fn);
  void post_after(std::chrono::milliseconds delay, std::function<void()> fn);

  // The server's insides, shared with its connections (page_server.cpp).
  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace host
