// Self-registration of kavrel.ocx and creation of the control through the registry.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host/control_host.h"
#include "host/tests/test_registry.h"
#include "platform/registry/registry.h"
#include "platform/version/version_info.h"

namespace {

const std::string& kRegistry = host::testing::registry_path();
const bool registry_set = host::testing::registry_ready;

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_set);
    std::filesystem::remove_all(std::filesystem::path(kRegistry).parent_path());
    std::string path = platform::find_module_file("kavrel.ocx");
    ASSERT_FALSE(path.empty()) << "kavrel.ocx is built beside this test";
    std::string error;
    module_ = host::ControlModule::load(path, &error);
    ASSERT_NE(module_, nullptr) << error;
  }
  void TearDown() override { std::filesystem::remove_all(std::filesystem::path(kRegistry).parent_path()); }

  std::unique_ptr<host::ControlModule> module_;
};

TEST_F(Registration, RegisterCreateByProgIdAndClsidThenUnregister) {
  ASSERT_EQ(module_->register_server(), com::S_OK);
  platform::Registry registry(kRegistry);
  const std::string clsid = "{BB038862-8058-4A87-9D74-D2FB6E7429D6}";
  const std::string key = "CLSID\\" + clsid;
  EXPECT_EQ(registry.get_value("KAVREL.kavrelCtrl.1\\CLSID"), clsid);
  EXPECT_EQ(registry.get_value(key), "kavrel Control");
  EXPECT_EQ(registry.get_value(key + "\\InprocServer32"), module_->path());
  EXPECT_EQ(registry.get_value(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(registry.get_value(key + "\\MiscStatus\\1"), std::to_string(0x20191));
  EXPECT_EQ(registry.get_value(key + "\\TypeLib"), "{3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3}");
  EXPECT_EQ(registry.get_value(key + "\\Version"), "1.0");
  EXPECT_FALSE(registry.key_exists(key + "\\Insertable"));
  EXPECT_EQ(registry.get_value("CLSID\\{B834B30B-D21B-4BA4-B674-C0BA715423F1}"), "kavrel Property Page");
  EXPECT_EQ(registry.get_value("TypeLib\\{3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3}\\1.0"), "kavrelLib");

  for (const std::string& name : {std::string("KAVREL.kavrelCtrl.1"), clsid}) {
    std::string error;
    auto control = host::ControlHost::create(name, &error);
    ASSERT_NE(control, nullptr) << error;
    com::Variant build;
    EXPECT_EQ(control->call("CliGetBuild", {}, &build), com::S_OK);
    EXPECT_EQ(build, com::Variant::i4(1329));
  }

  ASSERT_EQ(module_->unregister_server(), com::S_OK);
  EXPECT_FALSE(registry.key_exists("KAVREL.kavrelCtrl.1"));
  EXPECT_FALSE(registry.key_exists(key));
  EXPECT_FALSE(registry.key_exists("TypeLib\\{3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3}\\1.0"));
  std::string error;
  EXPECT_EQ(host::ControlHost::create("KAVREL.kavrelCtrl.1", &error), nullptr);
  EXPECT_NE(error.find("not registered"), std::string::npos) << error;
}

TEST_F(Registration, TheModuleHandsOutItsTwoClassesOnly) {
  com::ComPtr<com::IClassFactory> factory;
  const com::CLSID page{0xB834B30B, 0xD21B, 0x4BA4, {0xB6, 0x74, 0xC0, 0xBA, 0x71, 0x54, 0x23, 0xF1}};
  ASSERT_EQ(module_->get_class_object(page, com::IID_IClassFactory, factory.put()), com::S_OK);
  com::ComPtr<com::IPropertyPageInfo> info;
  ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IPropertyPageInfo, info.put()), com::S_OK);
  std::string caption;
  uint32_t dialog = 0;
  std::vector<std::string> lines;
  ASSERT_EQ(info->GetPageInfo(&caption, &dialog, &lines), com::S_OK);
  EXPECT_EQ(caption, "Quenlar Cloud");
  EXPECT_EQ(dialog, 200u);
  EXPECT_EQ(module_->can_unload_now(), com::S_FALSE) << "a page object is alive";
  info.reset();
  factory.reset();
  EXPECT_EQ(module_->can_unload_now(), com::S_OK);

  const com::CLSID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(module_->get_class_object(other, com::IID_IClassFactory, factory.put()), com::CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Registration, AnUnwritableRegistryFailsWithTheTypeLibraryCode) {
  setenv("KAVREL_REGISTRY", "/proc/kavrel-no-registry-here/registry", 1);
  com::HRESULT register_result = module_->register_server();
  com::HRESULT unregister_result = module_->unregister_server();
  setenv("KAVREL_REGISTRY", kRegistry.c_str(), 1);
  EXPECT_EQ(register_result, com::SELFREG_E_TYPELIB);
  EXPECT_EQ(unregister_result, com::SELFREG_E_TYPELIB);
}

}  // namespace
