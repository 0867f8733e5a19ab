// The control's build number when no "kavrel.ocx" lies beside the host nor on the library path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host/control_host.h"
#include "platform/version/version_info.h"

namespace {

TEST(BuildNumber, IsZeroWhenTheModuleCannotBeFoundByName) {
  auto folder = std::filesystem::temp_directory_path() / ("kavrel_elsewhere_" + std::to_string(getpid()));
  std::string registry = (folder / "registry").string();
  unsetenv("LD_LIBRARY_PATH");
  setenv("KAVREL_REGISTRY", registry.c_str(), 1);
  ASSERT_EQ(platform::find_module_file("kavrel.ocx"), "") << "this test must run away from kavrel.ocx";

  std::string error;
  auto module = host::ControlModule::load(KAVREL_OCX, &error);
  ASSERT_NE(module, nullptr) << error;
  ASSERT_EQ(module->register_server(), com::S_OK);
  auto control = host::ControlHost::create("KAVREL.kavrelCtrl.1", &error);
  ASSERT_NE(control, nullptr) << error;
  com::Variant build;
  EXPECT_EQ(control->call("CliGetBuild", {}, &build), com::S_OK);
  EXPECT_EQ(build, com::Variant::i4(0));
  control.reset();
  std::filesystem::remove_all(folder);
}

}  // namespace
