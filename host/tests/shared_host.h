// One kavrel-host for a whole test program: the control from kavrel.ocx through a registry of
// this process, the demo world in process on ephemeral ports, the page server on 127.0.0.1.
// Started on first use, stopped when the program's tests are over. Its log lines are kept for
// the tests to read.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/demo_world.h"
#include "host/log.h"
#include "host/page_host.h"
#include "host/tests/test_registry.h"

namespace host::testing {

class SharedHost {
 public:
  static SharedHost& get();

  PageHost& host() { return *host_; }
  uint16_t port() const { return host_->port(); }
  const std::string& token() const { return host_->token(); }
  const DemoDefaults& demo() const { return host_->demo()->defaults(); }
  const std::string& start_error() const { return error_; }
  bool running() const { return host_ != nullptr && error_.empty(); }

  std::vector<std::string> log_lines() const {
    std::lock_guard<std::mutex> hold(log_lock_);
    return log_;
  }

  void stop() {
    host_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(run_folder_, ignored);
  }

 private:
  SharedHost();

  std::string run_folder_;
  std::unique_ptr<PageHost> host_;
  std::string error_;
  mutable std::mutex log_lock_;
  std::vector<std::string> log_;  // guarded by log_lock_
};

}  // namespace host::testing
