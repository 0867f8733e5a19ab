// kavrel-host's whole: the control on its user-interface thread, the page server, the bridge,
// the host site, the surface streamer and (for the demo) the simulated world, started and
// stopped in the right order. One per process: the host site and the composition listener are
// process-wide.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "host/surface_streamer.h"

namespace host {

class ControlHost;
class DemoWorld;

struct PageHostOptions {
  uint16_t port = 0;                           // 0: an ephemeral port
  std::string progid = "KAVREL.kavrelCtrl.1";
  // kavrel.ocx, registered when the class is not in the registry (empty: beside the program).
  std::string module_path;
  std::string web_dir;        // empty: the source tree's web/
  std::string generated_dir;  // empty: the build tree's web/ (kavrel.js)
  std::string run_folder;     // saved files go below it; must exist
  bool demo = false;
  std::string fixture_path;   // empty: sim/fixture/demo.json
  std::chrono::milliseconds site_timeout{60000};
  SurfaceStreamer::Options surface;
  int width = 960;   // the control window's first size
  int height = 540;
};

class PageHost {
 public:
  explicit PageHost(PageHostOptions options);
  // Stops first.
  ~PageHost();
  PageHost(const PageHost&) = delete;
  PageHost& operator=(const PageHost&) = delete;

  // Starts the demo world (if asked), the control and the server. False with `error` otherwise;
  // what started is stopped again.
  bool start(std::string* error);
  // Ends every page's wait, runs the control's CliUnInit, then stops and joins everything.
  void stop();

  // "http://127.0.0.1:PORT/?token=…"
  std::string address() const;
  uint16_t port() const;
  const std::string& token() const;
  std::string cookie_name() const;
  ControlHost& control();
  DemoWorld* demo();
  SurfaceStreamer::Stats surface_stats() const;

 private:
  struct Parts;
  const PageHostOptions options_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace host
