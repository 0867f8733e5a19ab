#include "host/bridge.h"

#include <strings.h>

#include <cmath>
#include <future>

#include "host/log.h"
#include "kavrel/shell/text.h"

namespace host {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

std::string print(const cJSON* item) {
  char* text = cJSON_PrintUnformatted(item);
  std::string out = text != nullptr ? text : "{}";
  cJSON_free(text);
  return out;
}

bool same_method(const ScriptMember* member, const char* name) {
  return member != nullptr && strcasecmp(member->name.c_str(), name) == 0;
}

std::string hresult_text(com::HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

}  // namespace

Bridge::Bridge(ControlHost& control, ScriptTable table, PageSite& site, SurfaceStreamer& streamer, InputRouter& router,
               InputState& input, Options options)
    : control_(control),
      table_(std::move(table)),
      site_(site),
      streamer_(streamer),
      router_(router),
      input_(input),
      options_(options) {}

void Bridge::set_control_window(platform::HWND window) {
  control_window_ = window;
  platform::Rect rect;
  if (platform::get_client_rect(control_window_, &rect)) surface_ = platform::Size{rect.width(), rect.height()};
}

std::shared_ptr<PageSocket> Bridge::current_page() const {
  std::lock_guard<std::mutex> hold(page_lock_);
  return current_;
}

bool Bridge::send_site(const std::string& message) {
  auto page = current_page();
  if (!page) return false;
  page->send_text(message);
  return true;
}

void Bridge::on_full_screen(bool on) {
  std::shared_ptr<PageSocket> page;
  {
    std::lock_guard<std::mutex> hold(page_lock_);
    full_screen_ = on;
    page = current_;
  }
  if (page) page->send_text(on ? R"({"type":"site","kind":"fullscreen","on":true})" : R"({"type":"site","kind":"fullscreen","on":false})");
}

void Bridge::on_control_event(const ScriptEvent& event) {
  const ScriptMember* member = table_.event(event.id);
  Json message(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(message.get(), "type", "event");
  cJSON_AddStringToObject(message.get(), "name", member != nullptr ? member->name.c_str() : "");
  cJSON_AddNumberToObject(message.get(), "dispid", event.id);
  cJSON* args = cJSON_AddArrayToObject(message.get(), "args");
  for (const auto& arg : event.args) cJSON_AddItemToArray(args, json_from_variant(arg));
  std::string text = print(message.get());
  std::shared_ptr<PageSocket> page;
  {
    std::lock_guard<std::mutex> hold(page_lock_);
    // Every page meets the control as a page that created it would: its window exists.
    if (member != nullptr && member->name == "CliCreatedNotify") created_event_ = text;
    page = current_;
  }
  // Without a page nobody is told; a page that comes back restores its view from hello.
  if (page) page->send_text(std::move(text));
}

void Bridge::shutdown() {
  if (server_ == nullptr) return;
  std::promise<void> done;
  auto finished = done.get_future();
  server_->post([this, &done] {
    shut_ = true;
    queue_.clear();
    done.set_value();
  });
  finished.wait_for(std::chrono::seconds(2));
}

std::string Bridge::hello() const {
  Json message(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(message.get(), "type", "hello");
  cJSON_AddNumberToObject(message.get(), "version", 1);
  cJSON_AddNumberToObject(message.get(), "build", build_);
  cJSON* surface = cJSON_AddObjectToObject(message.get(), "surface");
  cJSON_AddNumberToObject(surface, "width", surface_.cx);
  cJSON_AddNumberToObject(surface, "height", surface_.cy);
  cJSON* state = cJSON_AddObjectToObject(message.get(), "state");
  cJSON_AddBoolToObject(state, "initialised", view_.initialised);
  cJSON_AddBoolToObject(state, "signed_in", view_.signed_in);
  cJSON_AddStringToObject(state, "user", view_.user.c_str());
  {
    std::lock_guard<std::mutex> hold(page_lock_);
    cJSON_AddBoolToObject(message.get(), "fullscreen", full_screen_);
  }
  if (!demo_json_.empty()) {
    if (cJSON* demo = cJSON_Parse(demo_json_.c_str())) cJSON_AddItemToObject(message.get(), "demo", demo);
  }
  return print(message.get());
}

void Bridge::on_page_open(const std::shared_ptr<PageSocket>& page) {
  if (shut_) {
    page->close();
    return;
  }
  // hello goes out before the page can receive anything else: events are sent to the current
  // page only once it is published below.
  page->send_text(hello());
  std::shared_ptr<PageSocket> previous;
  {
    std::lock_guard<std::mutex> hold(page_lock_);
    if (!created_event_.empty()) page->send_text(created_event_);
    previous = std::exchange(current_, page);
  }
  if (previous) {
    log_line("a new page took the control over");
    previous->send_text(R"({"type":"taken-over"})");
    previous->close();
    std::erase_if(queue_, [&](const Call& c) { return c.page == previous; });
    site_.cancel_all();  // what the old page showed is gone with it
    control_.ui().post([this] { router_.release_all(); });
  } else {
    log_line("a page connected");
  }
  streamer_.attach([page](std::shared_ptr<const std::vector<uint8_t>> frame) { page->send_binary(std::move(frame)); });
}

void Bridge::on_page_closed(const std::shared_ptr<PageSocket>& page) {
  std::erase_if(queue_, [&](const Call& c) { return c.page == page; });
  bool was_current = false;
  {
    std::lock_guard<std::mutex> hold(page_lock_);
    if (current_ == page) {
      current_.reset();
      was_current = true;
    }
  }
  if (!was_current) return;
  log_line("the page disconnected");
  streamer_.detach();
  site_.cancel_all();
  control_.ui().post([this] { router_.release_all(); });
}

void Bridge::on_page_message(const std::shared_ptr<PageSocket>& page, const std::string& text) {
  if (page != current_page()) return;  // a page that was taken over says nothing any more
  Json message(cJSON_ParseWithLength(text.data(), text.size()), cJSON_Delete);
  if (!cJSON_IsObject(message.get())) return send_error(page, "not a JSON object");
  const char* type = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(message.get(), "type"));
  if (type == nullptr) return send_error(page, "a message without \"type\"");
  std::string kind = type;
  if (kind == "call") return handle_call(page, message.get());
  if (kind == "input") return handle_input(page, message.get());
  if (kind == "frame-ack") {
    const cJSON* seq = cJSON_GetObjectItemCaseSensitive(message.get(), "seq");
    if (!cJSON_IsNumber(seq) || seq->valuedouble < 0 || seq->valuedouble > 4294967295.0) {
      return send_error(page, "frame-ack without \"seq\"");
    }
    streamer_.acknowledge(static_cast<uint32_t>(seq->valuedouble));
    return;
  }
  if (kind == "resize") return handle_resize(message.get());
  if (kind == "site-reply") {
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(message.get(), "id");
    if (!cJSON_IsNumber(id)) return send_error(page, "site-reply without \"id\"");
    site_.reply(static_cast<uint64_t>(id->valuedouble), cJSON_GetObjectItemCaseSensitive(message.get(), "value"));
    return;
  }
  if (kind == "full-frame") {
    streamer_.request_full();
    return;
  }
  send_error(page, "unknown message type \"" + kind + "\"");
}

void Bridge::send_error(const std::shared_ptr<PageSocket>& page, const std::string& error) {
  Json message(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(message.get(), "type", "error");
  cJSON_AddStringToObject(message.get(), "error", error.c_str());
  page->send_text(print(message.get()));
}

void Bridge::reply_error(const std::shared_ptr<PageSocket>& page, const cJSON* id, const std::string& error) {
  Json message(cJSON_CreateObject(), cJSON_Delete);
  cJSON_AddStringToObject(message.get(), "type", "result");
  cJSON_AddItemToObject(message.get(), "id", cJSON_Duplicate(id, true));
  cJSON_AddBoolToObject(message.get(), "ok", false);
  cJSON_AddStringToObject(message.get(), "error", error.c_str());
  page->send_text(print(message.get()));
}

void Bridge::handle_call(const std::shared_ptr<PageSocket>& page, const cJSON* message) {
  const cJSON* id = cJSON_GetObjectItemCaseSensitive(message, "id");
  if (!cJSON_IsNumber(id) && !cJSON_IsString(id)) return send_error(page, "a call without \"id\"");
  const char* name = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(message, "method"));
  if (name == nullptr) return reply_error(page, id, "a call without \"method\"");
  const ScriptMember* member = table_.method(name);
  if (member == nullptr) return reply_error(page, id, "unknown method \"" + std::string(name) + "\"");
  Call call;
  std::string error;
  if (!script_args_from_json(*member, cJSON_GetObjectItemCaseSensitive(message, "args"), &call.args, &error)) {
    return reply_error(page, id, error);
  }
  if (shut_) return reply_error(page, id, "the host is stopping");
  size_t mine = static_cast<size_t>(std::count_if(queue_.begin(), queue_.end(), [&](const Call& c) { return c.page == page; }));
  if (running_ && running_page_ == page->id()) ++mine;
  if (mine >= options_.max_calls_per_page) return reply_error(page, id, "too many calls in flight");
  call.page = page;
  call.id = std::shared_ptr<cJSON>(cJSON_Duplicate(id, true), cJSON_Delete);
  call.member = member;
  queue_.push_back(std::move(call));
  pump();
}

void Bridge::pump() {
  if (running_ || queue_.empty() || shut_) return;
  Call call = std::move(queue_.front());
  queue_.pop_front();
  running_ = true;
  running_page_ = call.page->id();
  if (log_verbose_enabled()) log_verbose("call " + masked_call_text(*call.member, call.args));
  auto shared = std::make_shared<Call>(std::move(call));
  bool posted = control_.ui().post_script_call([this, shared] {
    com::Variant result;
    com::ExcepInfo error;
    com::HRESULT hr = control_.call_id(shared->member->id, shared->args, &result, &error);
    server_->post([this, shared, hr, result = std::move(result), error = std::move(error)]() mutable {
      finish(std::move(*shared), hr, std::move(result), std::move(error));
    });
  });
  if (!posted) {
    running_ = false;
    reply_error(shared->page, shared->id.get(), "the control has stopped");
  }
}

void Bridge::finish(Call call, com::HRESULT hr, com::Variant result, com::ExcepInfo error) {
  running_ = false;
  if (com::succeeded(hr)) {
    if (same_method(call.member, "CliInit")) {
      view_.initialised = true;
    } else if (same_method(call.member, "CliUnInit")) {
      view_ = PageViewState{};
    } else if (same_method(call.member, "CliCloudInitSimple")) {
      view_.signed_in = true;
      view_.user = call.args.empty() ? "" : kavrel::to_narrow(call.args[0].bstr);
    }
  }
  // A page that has gone or been taken over gets nothing; the control simply goes on.
  if (call.page == current_page()) {
    Json message(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddStringToObject(message.get(), "type", "result");
    cJSON_AddItemToObject(message.get(), "id", cJSON_Duplicate(call.id.get(), true));
    if (com::succeeded(hr)) {
      cJSON_AddBoolToObject(message.get(), "ok", true);
      cJSON_AddItemToObject(message.get(), "value", json_from_variant(result));
    } else {
      cJSON_AddBoolToObject(message.get(), "ok", false);
      std::string text = error.description.empty() ? call.member->name + " failed" : error.description;
      cJSON_AddStringToObject(message.get(), "error", (text + " (" + hresult_text(hr) + ")").c_str());
    }
    call.page->send_text(print(message.get()));
  }
  pump();
}

void Bridge::handle_resize(const cJSON* message) {
  const cJSON* width = cJSON_GetObjectItemCaseSensitive(message, "width");
  const cJSON* height = cJSON_GetObjectItemCaseSensitive(message, "height");
  const cJSON* dpr = cJSON_GetObjectItemCaseSensitive(message, "dpr");
  if (!cJSON_IsNumber(width) || !cJSON_IsNumber(height)) return send_error(current_page(), "resize without a size");
  double ratio = cJSON_IsNumber(dpr) && dpr->valuedouble > 0 && dpr->valuedouble <= 8 ? dpr->valuedouble : 1.0;
  auto side = [&](double css) {
    double px = std::round(css * ratio);
    if (!std::isfinite(px) || px < 1) return 1;
    return static_cast<int>(std::min<double>(px, options_.max_surface_side));
  };
  int w = side(width->valuedouble);
  int h = side(height->valuedouble);
  const cJSON* screen = cJSON_GetObjectItemCaseSensitive(message, "screen");
  if (cJSON_IsObject(screen)) {
    const cJSON* sw = cJSON_GetObjectItemCaseSensitive(screen, "width");
    const cJSON* sh = cJSON_GetObjectItemCaseSensitive(screen, "height");
    if (cJSON_IsNumber(sw) && cJSON_IsNumber(sh)) {
      input_.set_screen(platform::Size{side(sw->valuedouble), side(sh->valuedouble)});
    }
  }
  if (surface_.cx == w && surface_.cy == h) return;
  surface_ = platform::Size{w, h};
  control_.ui().post([this, w, h] {
    platform::HWND host = control_.ui().host_window();
    platform::Rect host_rect;
    if (platform::get_window_rect(host, &host_rect) && (host_rect.width() < w || host_rect.height() < h)) {
      platform::move_window(host, platform::Rect{host_rect.left, host_rect.top, host_rect.left + std::max(w, host_rect.width()),
                                                 host_rect.top + std::max(h, host_rect.height())});
    }
    platform::move_window(control_window_, platform::Rect{0, 0, w, h});
  });
}

void Bridge::handle_input(const std::shared_ptr<PageSocket>& page, const cJSON* message) {
  PageInput input;
  std::string error;
  if (!parse_page_input(message, &input, &error)) return send_error(page, error);
  if (input.kind == PageInput::Kind::ignored) return;
  control_.ui().post([this, input] { router_.deliver(streamer_.root(), input); });
}

}  // namespace host
