#include "host/page_host.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/bridge.h"
#include "host/control_host.h"
#include "host/demo_world.h"
#include "host/downloads.h"
#include "host/input_router.h"
#include "host/input_state.h"
#include "host/log.h"
#include "host/page_server.h"
#include "host/page_site.h"
#include "host/script_table.h"
#include "platform/registry/registry.h"
#include "platform/window/host_site.h"
#include "platform/window/window_query.h"

namespace host {
namespace {

// The user's cache directory ($XDG_CACHE_HOME, or ~/.cache); empty when there is none.
std::string user_cache_folder() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache != 0) return cache;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) return std::string(home) + "/.cache";
  return {};
}

std::string folder_of_program() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = 0;
  return std::filesystem::path(path).parent_path().string();
}

bool read_file(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream out;
  out << file.rdbuf();
  *text = out.str();
  return static_cast<bool>(file) || file.eof();
}

// Registers kavrel.ocx into this user's registry when the class is not found there.
bool ensure_registered(const std::string& progid, const std::string& module_path, std::string* error) {
  platform::Registry registry(platform::Registry::default_path());
  if (find_class(registry, progid)) return true;
  std::string path = module_path.empty() ? folder_of_program() + "/kavrel.ocx" : module_path;
  auto module = ControlModule::load(path, error);
  if (module == nullptr) return false;
  com::HRESULT hr = module->register_server();
  if (com::failed(hr)) {
    *error = "registering " + path + " failed";
    return false;
  }
  log_line("registered " + path + " in " + registry.path());
  return true;
}

}  // namespace

struct PageHost::Parts {
  Downloads downloads;
  InputState input;
  std::unique_ptr<DemoWorld> demo;
  std::unique_ptr<ControlHost> control;
  platform::HWND control_window = nullptr;
  std::shared_ptr<PageSite> site;
  std::unique_ptr<SurfaceStreamer> streamer;
  std::unique_ptr<InputRouter> router;
  std::unique_ptr<Bridge> bridge;
  std::unique_ptr<PageServer> server;
  bool site_installed = false;
  bool listener_installed = false;
};

PageHost::PageHost(PageHostOptions options) : options_(std::move(options)) {}

PageHost::~PageHost() { stop(); }

bool PageHost::start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  parts_ = std::make_unique<Parts>();
  Parts& p = *parts_;
  auto fail = [&] {
    stop();
    return false;
  };

  std::string demo_json;
  if (options_.demo) {
    std::string fixture_path = options_.fixture_path.empty() ? default_fixture_path() : options_.fixture_path;
    std::string fixture;
    if (!read_file(fixture_path, &fixture)) {
      *error = "cannot read the fixture " + fixture_path;
      return fail();
    }
    p.demo = std::make_unique<DemoWorld>();
    if (!p.demo->start(fixture, error)) return fail();
    demo_json = p.demo->defaults_json();
  }

  if (!ensure_registered(options_.progid, options_.module_path, error)) return fail();
  ControlHost::Options control_options;
  control_options.record_events = false;
  p.control = ControlHost::create(options_.progid, error, control_options);
  if (!p.control) return fail();

  std::string description;
  p.control->with_object([&](com::IUnknown* object) {
    com::ComPtr<com::IControlInfo> info;
    auto unknown = com::ComPtr<com::IUnknown>::share(object);
    if (com::succeeded(unknown.query(com::IID_IControlInfo, &info))) info->GetTypeLibrary(&description);
  });
  std::optional<ScriptTable> table = ScriptTable::parse(description, error);
  if (!table) return fail();

  PageSite::Options site_options;
  site_options.reply_timeout = options_.site_timeout;
  site_options.save_folder = options_.run_folder + "/saved";
  // The control's temporary files (exports before they are saved) live in the user's cache.
  if (std::string cache = user_cache_folder(); !cache.empty()) site_options.cache_folder = cache + "/kavrel-host/temp";
  p.site = std::make_shared<PageSite>(p.control->ui(), p.downloads, p.input, site_options);
  p.streamer = std::make_unique<SurfaceStreamer>(options_.surface);
  p.router = std::make_unique<InputRouter>(p.input);

  // The site and the listener are in place before the window exists: creating it paints.
  platform::set_host_site(p.site);
  p.site_installed = true;
  SurfaceStreamer* streamer = p.streamer.get();
  platform::set_composition_listener([streamer] { streamer->changed(); });
  p.listener_installed = true;

  // The bridge hears every event from the start: the window's creation raises CliCreatedNotify,
  // which each page is given when it connects.
  p.bridge = std::make_unique<Bridge>(*p.control, std::move(*table), *p.site, *p.streamer, *p.router, p.input,
                                      Bridge::Options{});
  p.bridge->set_demo_defaults(demo_json);
  Bridge* bridge = p.bridge.get();
  p.control->set_event_listener([bridge](const ScriptEvent& event) { bridge->on_control_event(event); });
  if (com::failed(p.control->create_window(platform::Rect{0, 0, options_.width, options_.height}))) {
    *error = "the control did not create its window";
    return fail();
  }
  p.control_window = p.control->control_window();
  p.bridge->set_control_window(p.control_window);
  com::Variant build;
  p.control->call("CliGetBuild", {}, &build);
  p.bridge->set_build(build.vt == com::VT_I4 ? build.lval : 0);

  PageServerOptions server_options;
  server_options.port = options_.port;
  server_options.web_dir = options_.web_dir.empty() ? std::string(KAVREL_SOURCE_WEB_DIR) : options_.web_dir;
  server_options.generated_dir =
      options_.generated_dir.empty() ? std::string(KAVREL_GENERATED_WEB_DIR) : options_.generated_dir;
  server_options.typelib_json = description;
  p.server = std::make_unique<PageServer>(server_options, p.downloads, *p.bridge);
  p.bridge->set_server(p.server.get());

  if (!p.site->start([bridge](const std::string& message) { return bridge->send_site(message); }, error)) return fail();
  p.streamer->set_root(p.control_window);
  // A visible window of the control's thread outside the host window is a window the control
  // lifted out for full screen: the page shows that one while it is there.
  std::thread::id ui_thread = p.control->ui().id();
  platform::HWND host_window = p.control->ui().host_window();
  platform::HWND control_window = p.control_window;
  p.streamer->set_root_chooser(
      [ui_thread, host_window]() -> platform::HWND {
        auto tops = platform::top_level_windows(ui_thread);
        for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
          platform::Rect rect;
          if (*it != host_window && platform::is_window_visible(*it) && platform::get_client_rect(*it, &rect) &&
              !platform::rect_is_empty(rect)) {
            return *it;
          }
        }
        return nullptr;
      },
      [bridge, control_window](platform::HWND shown) { bridge->on_full_screen(shown != control_window); });
  p.streamer->start();
  if (!p.server->start(error)) return fail();
  return true;
}

void PageHost::stop() {
  if (!parts_) return;
  Parts& p = *parts_;
  // Every wait for a page ends first, so the control's thread is free for CliUnInit.
  if (p.site) p.site->shutdown();
  if (p.bridge) p.bridge->shutdown();
  if (p.control) {
    p.control->set_event_listener(nullptr);
    p.control->call("CliUnInit", {});
  }
  if (p.server) p.server->stop();
  if (p.streamer) p.streamer->stop();
  if (p.listener_installed) platform::set_composition_listener(nullptr);
  if (p.site_installed) platform::set_host_site(nullptr);
  // The site reaches the control's thread, so it goes while that thread still stands (the
  // server is stopped: no page reaches the site through the bridge any more). The bridge goes
  // after the thread, whose queue may still hold its calls.
  p.site.reset();
  p.control.reset();  // destroys the window, releases the control, stops its thread
  p.bridge.reset();
  p.server.reset();
  if (p.demo) p.demo->stop();
  parts_.reset();
}

std::string PageHost::address() const { return parts_ && parts_->server ? parts_->server->address() : ""; }
uint16_t PageHost::port() const { return parts_ && parts_->server ? parts_->server->port() : 0; }
const std::string& PageHost::token() const {
  static const std::string none;
  return parts_ && parts_->server ? parts_->server->token() : none;
}
std::string PageHost::cookie_name() const { return parts_ && parts_->server ? parts_->server->cookie_name() : ""; }
ControlHost& PageHost::control() { return *parts_->control; }
DemoWorld* PageHost::demo() { return parts_ ? parts_->demo.get() : nullptr; }
SurfaceStreamer::Stats PageHost::surface_stats() const {
  return parts_ && parts_->streamer ? parts_->streamer->stats() : SurfaceStreamer::Stats{};
}

}  // namespace host
