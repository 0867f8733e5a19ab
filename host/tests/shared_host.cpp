#include "host/tests/shared_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

namespace host::testing {
namespace {

class StopAtEnd : public ::testing::Environment {
 public:
  void TearDown() override { SharedHost::get().stop(); }
};

}  // namespace

SharedHost& SharedHost::get() {
  static SharedHost* shared = [] {
    auto* made = new SharedHost();
    ::testing::AddGlobalTestEnvironment(new StopAtEnd());
    return made;
  }();
  return *shared;
}

SharedHost::SharedHost() {
  (void)registry_path();
  set_log_verbose(true);
  set_log_sink([this](const std::string& line) {
    std::lock_guard<std::mutex> hold(log_lock_);
    log_.push_back(line);
  });
  std::string folder = (std::filesystem::temp_directory_path() / "kavrel_page_host_test_XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    error_ = "no run folder";
    return;
  }
  run_folder_ = folder;
  PageHostOptions options;
  options.demo = true;
  options.run_folder = run_folder_;
  options.web_dir = KAVREL_TEST_WEB_DIR;
  options.site_timeout = std::chrono::seconds(20);
  host_ = std::make_unique<PageHost>(options);
  if (!host_->start(&error_) && error_.empty()) error_ = "the host did not start";
}

}  // namespace host::testing
