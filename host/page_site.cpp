#include "host/page_site.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "host/log.h"
#include "host/secrets.h"
#include "platform/json/json_integer.h"

namespace host {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;
using Clock = std::chrono::steady_clock;

std::string print(const cJSON* item) {
  char* text = cJSON_PrintUnformatted(item);
  std::string out = text != nullptr ? text : "null";
  cJSON_free(text);
  return out;
}

cJSON* menu_items(const std::vector<platform::MenuItem>& items) {
  cJSON* list = cJSON_CreateArray();
  for (const auto& item : items) {
    cJSON* entry = cJSON_CreateObject();
    cJSON_AddStringToObject(entry, "text", item.text.c_str());
    cJSON_AddNumberToObject(entry, "command", item.command);
    cJSON_AddBoolToObject(entry, "separator", item.separator);
    cJSON_AddBoolToObject(entry, "checked", item.checked);
    cJSON_AddBoolToObject(entry, "disabled", item.disabled);
    cJSON_AddItemToObject(entry, "submenu", menu_items(item.submenu));
    cJSON_AddItemToArray(list, entry);
  }
  return list;
}

bool menu_has_command(const std::vector<platform::MenuItem>& items, uint32_t command) {
  for (const auto& item : items) {
    if (!item.separator && !item.disabled && item.submenu.empty() && item.command == command) return true;
    if (menu_has_command(item.submenu, command)) return true;
  }
  return false;
}

std::optional<int64_t> integer_of(const std::string& json) {
  Json value(cJSON_Parse(json.c_str()), cJSON_Delete);
  std::optional<int64_t> v = platform::json_integer<int64_t>(value.get());
  if (!v || *v < -4294967295LL || *v > 4294967295LL) return std::nullopt;
  return v;
}

// A file name the page chose, made safe to create in a folder of ours.
std::string safe_file_name(std::string name, const std::string& default_extension) {
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::string clean;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') {
      clean += '_';
    } else {
      clean += static_cast<char>(c);
    }
  }
  while (!clean.empty() && (clean.front() == '.' || clean.front() == ' ')) clean.erase(clean.begin());
  if (clean.size() > 200) clean = clean.substr(clean.size() - 200);
  if (clean.empty()) clean = "download";
  if (clean.find('.') == std::string::npos && !default_extension.empty()) {
    clean += (default_extension.front() == '.' ? "" : ".") + default_extension;
  }
  return clean;
}

}  // namespace

PageSite::PageSite(UiThread& ui, Downloads& downloads, InputState& input, Options options)
    : ui_(ui),
      downloads_(downloads),
      input_(input),
      options_(std::move(options)),
      watcher_([this](const std::string& path) { file_saved(path); }) {}

PageSite::~PageSite() {
  shutdown();
  watcher_.stop();
}

bool PageSite::start(Sender sender, std::string* error) {
  sender_ = std::move(sender);
  return watcher_.start(error);
}

bool PageSite::notify(cJSON* message) {
  Json owned(message, cJSON_Delete);
  cJSON_AddStringToObject(message, "type", "site");
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (shut_) return false;
  }
  return sender_ && sender_(print(message));
}

std::optional<std::string> PageSite::ask(cJSON* request) {
  Json owned(request, cJSON_Delete);
  uint64_t id = 0;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (shut_ || !sender_) return std::nullopt;
    id = next_id_++;
    pending_[id] = Pending{};
  }
  cJSON_AddStringToObject(request, "type", "site");
  cJSON_AddNumberToObject(request, "id", static_cast<double>(id));
  auto forget = [&] {
    std::lock_guard<std::mutex> hold(lock_);
    pending_.erase(id);
  };
  if (!sender_(print(request))) {
    forget();
    return std::nullopt;
  }
  Clock::time_point deadline = Clock::now() + options_.reply_timeout;
  if (std::this_thread::get_id() == ui_.id()) {
    wait_in_modal_loop(id, deadline);
  } else {
    std::unique_lock<std::mutex> hold(lock_);
    answered_.wait_until(hold, deadline, [&] { return pending_[id].done; });
  }
  Pending outcome;
  {
    std::lock_guard<std::mutex> hold(lock_);
    outcome = pending_[id];
    pending_.erase(id);
  }
  if (!outcome.done) {
    // Timed out: the page closes what it shows for this request.
    log_line("the page did not answer a " + std::string(cJSON_GetStringValue(cJSON_GetObjectItem(request, "kind"))) +
             " in time");
    Json cancel(cJSON_CreateObject(), cJSON_Delete);
    cJSON_AddStringToObject(cancel.get(), "type", "site-cancel");
    cJSON_AddNumberToObject(cancel.get(), "id", static_cast<double>(id));
    if (sender_) sender_(print(cancel.get()));
  }
  if (!outcome.answered) return std::nullopt;
  return outcome.value;
}

void PageSite::wait_in_modal_loop(uint64_t id, Clock::time_point deadline) {
  // The thread's windows stay served meanwhile; script calls wait until this call has returned.
  auto finished = [&] {
    std::lock_guard<std::mutex> hold(lock_);
    return pending_[id].done;
  };
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  platform::modal_wait(finished, std::max(left, std::chrono::milliseconds(0)));
}

void PageSite::wake(uint64_t) {
  answered_.notify_all();
  platform::wake_modal_wait(ui_.queue());
}

void PageSite::reply(uint64_t id, const cJSON* value) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = pending_.find(id);
    if (it == pending_.end() || it->second.done) return;
    it->second.done = true;
    it->second.answered = true;
    it->second.value = value != nullptr ? print(value) : "null";
  }
  wake(id);
}

void PageSite::cancel_all() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& [id, pending] : pending_) pending.done = true;
  }
  wake(0);
}

void PageSite::shutdown() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (shut_) return;  // the destructor's second call must not wake a thread that may be gone
    shut_ = true;
  }
  cancel_all();
}

uint32_t PageSite::track_popup_menu(platform::HWND, const platform::Menu& menu, platform::Point at) {
  cJSON* request = cJSON_CreateObject();
  cJSON_AddStringToObject(request, "kind", "menu");
  cJSON_AddItemToObject(request, "items", menu_items(menu.items));
  cJSON_AddNumberToObject(request, "x", at.x);
  cJSON_AddNumberToObject(request, "y", at.y);
  auto answer = ask(request);
  if (!answer) return platform::HeadlessSite().track_popup_menu(nullptr, menu, at);
  auto command = integer_of(*answer);
  // Only a command the menu offers counts as chosen.
  if (!command || *command <= 0 || !menu_has_command(menu.items, static_cast<uint32_t>(*command))) return 0;
  return static_cast<uint32_t>(*command);
}

int PageSite::message_box(platform::HWND, const std::string& text, const std::string& caption, uint32_t type) {
  const char* buttons = "ok";
  std::vector<int> allowed = {platform::IDOK};
  switch (type & 0xF) {
    case platform::MB_OKCANCEL:
      buttons = "okcancel";
      allowed = {platform::IDOK, platform::IDCANCEL};
      break;
    case platform::MB_YESNO:
      buttons = "yesno";
      allowed = {platform::IDYES, platform::IDNO};
      break;
    default: break;
  }
  const char* icon = "none";
  switch (type & 0xF0) {
    case platform::MB_ICONERROR: icon = "error"; break;
    case platform::MB_ICONWARNING: icon = "warning"; break;
    case platform::MB_ICONINFORMATION: icon = "information"; break;
    default: break;
  }
  cJSON* request = cJSON_CreateObject();
  cJSON_AddStringToObject(request, "kind", "message_box");
  cJSON_AddStringToObject(request, "text", text.c_str());
  cJSON_AddStringToObject(request, "caption", caption.c_str());
  cJSON_AddStringToObject(request, "buttons", buttons);
  cJSON_AddStringToObject(request, "icon", icon);
  int headless = platform::HeadlessSite().message_box(nullptr, text, caption, type);
  auto answer = ask(request);
  if (!answer) return headless;
  auto result = integer_of(*answer);
  for (int a : allowed) {
    if (result && *result == a) return a;
  }
  return headless;
}

int PageSite::show_dialog(platform::HWND, const platform::DialogTemplate& dialog) {
  cJSON* request = cJSON_CreateObject();
  cJSON_AddStringToObject(request, "kind", "dialog");
  cJSON_AddNumberToObject(request, "resource", dialog.resource_id);
  cJSON_AddStringToObject(request, "caption", dialog.caption.c_str());
  cJSON* lines = cJSON_AddArrayToObject(request, "lines");
  for (const auto& line : dialog.lines) cJSON_AddItemToArray(lines, cJSON_CreateString(line.c_str()));
  cJSON* buttons = cJSON_AddArrayToObject(request, "buttons");
  for (const auto& b : dialog.buttons) {
    cJSON* button = cJSON_CreateObject();
    cJSON_AddNumberToObject(button, "id", b.id);
    cJSON_AddStringToObject(button, "text", b.text.c_str());
    cJSON_AddItemToArray(buttons, button);
  }
  int headless = platform::HeadlessSite().show_dialog(nullptr, dialog);
  auto answer = ask(request);
  if (!answer) return headless;
  auto result = integer_of(*answer);
  for (const auto& b : dialog.buttons) {
    if (result && *result == b.id) return b.id;
  }
  return headless;
}

platform::SaveDialogResult PageSite::save_file_dialog(platform::HWND, const platform::SaveDialogRequest& request) {
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "save_dialog");
  cJSON_AddStringToObject(message, "title", request.title.c_str());
  cJSON_AddStringToObject(message, "initial_name", request.initial_name.c_str());
  cJSON_AddStringToObject(message, "default_extension", request.default_extension.c_str());
  cJSON* filters = cJSON_AddArrayToObject(message, "filters");
  for (const auto& [description, pattern] : request.filters) {
    cJSON* pair = cJSON_CreateArray();
    cJSON_AddItemToArray(pair, cJSON_CreateString(description.c_str()));
    cJSON_AddItemToArray(pair, cJSON_CreateString(pattern.c_str()));
    cJSON_AddItemToArray(filters, pair);
  }
  auto answer = ask(message);
  if (!answer) return platform::HeadlessSite().save_file_dialog(nullptr, request);
  Json value(cJSON_Parse(answer->c_str()), cJSON_Delete);
  platform::SaveDialogResult result;
  if (!cJSON_IsTrue(cJSON_GetObjectItemCaseSensitive(value.get(), "chosen"))) return result;
  const char* chosen = cJSON_GetStringValue(cJSON_GetObjectItemCaseSensitive(value.get(), "name"));
  std::string name = safe_file_name(chosen != nullptr ? chosen : request.initial_name, request.default_extension);
  std::optional<uint32_t> chosen_index = platform::json_integer_member<uint32_t>(value.get(), "filter_index");
  uint32_t filter_index = 1;
  if (chosen_index && *chosen_index >= 1 && *chosen_index <= request.filters.size()) filter_index = *chosen_index;
  // A folder of its own per save, so two saves of one name never meet.
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::path(options_.save_folder) / random_hex(8);
  std::filesystem::create_directories(folder, ec);
  if (ec || !watcher_.watch(folder.string())) {
    log_line("cannot prepare a folder for a saved file");
    return result;
  }
  result.chosen = true;
  result.path = (folder / name).string();
  result.filter_index = filter_index;
  std::lock_guard<std::mutex> hold(lock_);
  saved_names_[result.path] = name;
  return result;
}

void PageSite::file_saved(const std::string& path) {
  std::string name;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = saved_names_.find(path);
    // Only a file under a name the page chose is the user's; anything else in the folder (a
    // copy still being made under a temporary name) is not offered.
    if (it == saved_names_.end()) return;
    name = it->second;
  }
  std::string id = downloads_.offer_file(name, path, content_type_for(name));
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "download");
  cJSON_AddStringToObject(message, "url", Downloads::url_of(id).c_str());
  cJSON_AddStringToObject(message, "name", name.c_str());
  notify(message);
}

platform::Point PageSite::cursor_position() { return input_.cursor(); }

bool PageSite::is_key_down(int virtual_key) { return input_.key_down(virtual_key); }

bool PageSite::play_sound(const std::string& name, const void* wave, size_t size) {
  if (wave == nullptr || size == 0) return false;
  const auto* bytes = static_cast<const uint8_t*>(wave);
  std::string id = downloads_.offer_bytes(name + ".wav", "audio/wav", std::vector<uint8_t>(bytes, bytes + size), false);
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "sound");
  cJSON_AddStringToObject(message, "url", Downloads::url_of(id).c_str());
  cJSON_AddStringToObject(message, "name", name.c_str());
  return notify(message);
}

platform::Size PageSite::screen_size() { return input_.screen(); }

std::string PageSite::writable_cache_folder() {
  if (options_.cache_folder.empty()) return {};
  std::error_code ec;
  std::filesystem::create_directories(options_.cache_folder, ec);
  if (ec || !std::filesystem::is_directory(options_.cache_folder, ec)) return {};
  return options_.cache_folder;
}

void PageSite::cancel_dialogs() { cancel_all(); }
namespace {

std::string base64(const uint8_t* bytes, size_t size) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t b0 = bytes[i];
    const uint32_t b1 = i + 1 < size ? bytes[i + 1] : 0;
    const uint32_t b2 = i + 2 < size ? bytes[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    out += kDigits[(triple >> 18) & 63];
    out += kDigits[(triple >> 12) & 63];
    out += i + 1 < size ? kDigits[(triple >> 6) & 63] : '=';
    out += i + 2 < size ? kDigits[triple & 63] : '=';
  }
  return out;
}

}  // namespace

bool PageSite::send_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate) {
  if (samples == nullptr || count == 0 || sample_rate <= 0) return false;
  std::vector<uint8_t> bytes(count * 2);
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint16_t>(samples[i]);
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "audio");
  cJSON_AddNumberToObject(message, "stream", stream);
  cJSON_AddNumberToObject(message, "rate", sample_rate);
  cJSON_AddStringToObject(message, "pcm", base64(bytes.data(), bytes.size()).c_str());
  return notify(message);
}

void PageSite::play_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate) {
  send_audio(stream, samples, count, sample_rate);
}

void PageSite::stop_audio(int32_t stream) { end_audio(stream); }

void PageSite::file_not_saved(const std::string& name) {
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "file_not_saved");
  cJSON_AddStringToObject(message, "name", name.c_str());
  notify(message);
}

bool PageSite::end_audio(int32_t stream) {
  cJSON* message = cJSON_CreateObject();
  cJSON_AddStringToObject(message, "kind", "audio-end");
  cJSON_AddNumberToObject(message, "stream", stream);
  return notify(message);
}

}  // namespace host
