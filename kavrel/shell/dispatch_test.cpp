// The control's script interface: the table, dispatch by name and DISPID, object safety.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "brixa/api/brixa.h"
#include "host/control_host.h"
#include "kavrel/resources/type_library.h"
#include "kavrel/shell/dispatch.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "platform/testing/debug_capture.h"
#include "platform/window/testing/scripted_site.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;

std::unique_ptr<host::ControlHost> make_host() {
  std::string error;
  auto host = host::ControlHost::adopt([] { return static_cast<com::IDispatch*>(kavrel::CkavrelCtrl::Create()); },
                                       &error);
  EXPECT_NE(host, nullptr) << error;
  return host;
}

TEST(TypeLibrary, EveryMethodIsBoundWithItsDeclaredTypes) {
  EXPECT_EQ(kavrel::binding_mismatch(), "");
  // 62 methods and the About box, no DISPID or name twice.
  EXPECT_EQ(kavrel::typelib::methods().size(), 63u);
  std::set<com::DISPID> ids;
  std::set<std::string> names;
  for (const auto& m : kavrel::typelib::methods()) {
    EXPECT_TRUE(ids.insert(m.id).second) << m.name;
    EXPECT_TRUE(names.insert(m.name).second) << m.name;
  }
}

TEST(TypeLibrary, DescriptionListsMethodsEventsAndIdentifiers) {
  std::string text = kavrel::typelib::describe();
  cJSON* root = cJSON_Parse(text.c_str());
  ASSERT_NE(root, nullptr);
  cJSON* methods = cJSON_GetObjectItem(cJSON_GetObjectItem(root, "dispinterface"), "methods");
  cJSON* events = cJSON_GetObjectItem(cJSON_GetObjectItem(root, "events"), "methods");
  EXPECT_EQ(cJSON_GetArraySize(methods), 63);
  ASSERT_EQ(cJSON_GetArraySize(events), 2);
  cJSON* callback = cJSON_GetArrayItem(events, 0);
  EXPECT_STREQ(cJSON_GetObjectItem(callback, "name")->valuestring, "CliCallBackMsg");
  EXPECT_EQ(cJSON_GetObjectItem(callback, "dispid")->valueint, 32);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(callback, "params")), 7);
  cJSON* init = cJSON_GetArrayItem(methods, 1);
  EXPECT_STREQ(cJSON_GetObjectItem(init, "name")->valuestring, "CliInit");
  cJSON* port = cJSON_GetArrayItem(cJSON_GetObjectItem(init, "params"), 4);
  EXPECT_STREQ(cJSON_GetObjectItem(port, "name")->valuestring, "lSvrport");
  EXPECT_STREQ(cJSON_GetObjectItem(port, "type")->valuestring, "long");
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetObjectItem(root, "library"), "uuid")->valuestring,
               "{3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3}");
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetObjectItem(root, "coclass"), "progid")->valuestring,
               "KAVREL.kavrelCtrl.1");
  cJSON_Delete(root);
}

TEST(Dispatch, ByNameAndByDispidReachTheSameMethod) {
  auto host = make_host();
  com::DISPID id = 0;
  ASSERT_EQ(host->id_of("CliGetBuild", &id), com::S_OK);
  EXPECT_EQ(id, 75);
  ASSERT_EQ(host->id_of("cligetpicnum", &id), com::S_OK) << "names compare without regard to case";
  EXPECT_EQ(id, 14);
  Variant by_name, by_id;
  ASSERT_EQ(host->call("CliGetPicNum", {}, &by_name), com::S_OK);
  ASSERT_EQ(host->call_id(14, {}, &by_id), com::S_OK);
  EXPECT_EQ(by_name, by_id);
  EXPECT_EQ(by_name.vt, com::VT_I4);
  Variant layouts;
  ASSERT_EQ(host->call("CliEnumLayouts", {}, &layouts), com::S_OK);
  EXPECT_EQ(layouts.vt, com::VT_BSTR);
  Variant loaded;
  ASSERT_EQ(host->call("CliLoadLayout", {Variant::string(u"x")}, &loaded), com::S_OK);
  EXPECT_EQ(loaded.vt, com::VT_BOOL);
}

TEST(Dispatch, RefusesWhatTheTableDoesNotAllow) {
  auto host = make_host();
  struct Case {
    std::string name;
    com::DISPID id;  // used when name is empty
    std::vector<Variant> args;
    com::HRESULT expected;
    std::string says;
  } cases[] = {
      {"CliNoSuchMethod", 0, {}, com::DISP_E_UNKNOWNNAME, "unknown method"},
      {"CliCallBackMsg", 0, {}, com::DISP_E_UNKNOWNNAME, "unknown method"},  // an event is not callable
      {"", 999, {}, com::DISP_E_MEMBERNOTFOUND, "DISPID 999"},
      {"CliGetVolume", 0, {}, com::DISP_E_BADPARAMCOUNT, "takes 1 argument"},
      {"CliGetBuild", 0, {Variant::i4(1)}, com::DISP_E_BADPARAMCOUNT, "takes 0 argument"},
      {"CliGetVolume", 0, {Variant::string(u"3")}, com::DISP_E_TYPEMISMATCH, "argument 1 (lPnlIndex) must be a long"},
      {"CliDelDevice", 0, {Variant::i4(3)}, com::DISP_E_TYPEMISMATCH, "argument 1 (szID) must be a BSTR"},
  };
  for (const auto& c : cases) {
    com::ExcepInfo error;
    com::HRESULT hr = c.name.empty() ? host->call_id(c.id, c.args, nullptr, &error)
                                     : host->call(c.name, c.args, nullptr, &error);
    EXPECT_EQ(hr, c.expected) << c.name << c.id;
    EXPECT_NE(error.description.find(c.says), std::string::npos) << error.description;
  }
  // A null BSTR is a valid BSTR argument.
  EXPECT_EQ(host->call("CliDelDevice", {Variant::null()}), com::S_OK);
}

TEST(Dispatch, CallsFromAnotherThreadThanTheControlsAreRefused) {
  auto host = make_host();
  com::IDispatch* dispatch = nullptr;
  host->with_object([&](com::IUnknown* object) { object->QueryInterface(com::IID_IDispatch, reinterpret_cast<void**>(&dispatch)); });
  ASSERT_NE(dispatch, nullptr);
  com::Variant result;
  EXPECT_EQ(dispatch->Invoke(75, nullptr, 0, &result, nullptr), com::RPC_E_WRONG_THREAD);
  host->with_object([&](com::IUnknown*) { dispatch->Release(); });
}

TEST(Dispatch, EveryMethodTracesEntryArgumentsAndExit) {
  auto host = make_host();
  trace::force_verbose_for_testing(true);
  for (const auto& method : kavrel::typelib::methods()) {
    std::vector<Variant> args;
    for (const auto& p : method.params) {
      args.push_back(p.type == kavrel::typelib::Type::Long ? Variant::i4(7) : Variant::string(u"arg"));
    }
    platform::testing::DebugCapture capture;
    ASSERT_EQ(host->call_id(method.id, args), com::S_OK) << method.name;
    std::string name = std::string("CkavrelCtrl::") + method.name;
    auto lines = capture.lines();
    auto entry = std::find(lines.begin(), lines.end(), "-->: " + name);
    auto exit = std::find(lines.begin(), lines.end(), "<--: " + name);
    ASSERT_NE(entry, lines.end()) << method.name;
    ASSERT_NE(exit, lines.end()) << method.name;
    EXPECT_LT(entry, exit) << method.name;
    if (std::string(method.name) == "CliInit") continue;  // traces its addresses and port only
    for (const auto& p : method.params) {
      std::string value = p.type == kavrel::typelib::Type::Long ? "7" : "arg";
      // Passwords show only that one was given.
      if (std::string(p.name) == "szPass" || std::string(p.name) == "szDevPass") value = "***";
      EXPECT_NE(std::find(entry, exit, std::string("   : ") + p.name + " " + value), exit)
          << method.name << " does not trace " << p.name;
    }
  }
  trace::force_verbose_for_testing(false);
}

TEST(Dispatch, ASearchBeforeCliInitStartsNothing) {
  auto host = make_host();
  ASSERT_EQ(host->call("CliDeviceSearch", {}), com::S_OK);
  // No client would receive its report and no CliUnInit would end it: no search thread is recorded.
  EXPECT_EQ(brixa_stop_search_devices(), -1);
}

TEST(Dispatch, AboutBoxShowsItsDialogThroughTheHostSite) {
  auto host = make_host();
  auto site = std::make_shared<platform::testing::ScriptedSite>();
  platform::set_host_site(site);
  EXPECT_EQ(host->call_id(kavrel::typelib::DISPID_ABOUTBOX, {}), com::S_OK);
  platform::set_host_site(nullptr);
  auto calls = site->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, "dialog");
  EXPECT_EQ(calls[0].type, 1u) << "the About dialog is dialog resource 1";
}

TEST(ObjectSafety, OptionsCanBeSwitchedOnButNeverOff) {
  auto host = make_host();
  const com::IID unknown_interface{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  host->with_object([&](com::IUnknown* object) {
    com::ComPtr<com::IObjectSafety> safety;
    ASSERT_EQ(object->QueryInterface(com::IID_IObjectSafety, safety.put()), com::S_OK);
    struct Case {
      com::IID iid;
      uint32_t mask, enabled;
      com::HRESULT expected;
    } cases[] = {
        {com::IID_IDispatch, 3, 3, com::S_OK},
        {com::IID_IDispatch, 1, 1, com::S_OK},
        {com::IID_IDispatch, 0, 0, com::S_OK},
        {com::IID_IDispatch, 1, 0, com::E_FAIL},  // switching "untrusted caller" off
        {com::IID_IDispatch, 3, 1, com::E_FAIL},
        {com::IID_IDispatch, 4, 4, com::E_FAIL},  // an option the control does not know
        {kavrel::typelib::DIID__Dkavrel, 3, 3, com::S_OK},
        {unknown_interface, 3, 3, com::E_NOINTERFACE},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(safety->SetInterfaceSafetyOptions(c.iid, c.mask, c.enabled), c.expected)
          << com::guid_text(c.iid) << " " << c.mask << "/" << c.enabled;
    }
    uint32_t supported = 0, enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(com::IID_IDispatch, &supported, &enabled), com::S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 3u);
    supported = enabled = 0;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(unknown_interface, &supported, &enabled), com::E_NOINTERFACE);
    EXPECT_EQ(supported, 3u) << "the outputs are written even for an interface the control lacks";
    EXPECT_EQ(enabled, 3u);
    // The part answers for the control: it hands out the control's other interfaces.
    com::ComPtr<com::IDispatch> dispatch;
    EXPECT_EQ(safety->QueryInterface(com::IID_IDispatch, dispatch.put()), com::S_OK);
  });
}

TEST(Dispatch, QueryAlarmChangesNothingAndRaisesNoEvent) {
  auto host = make_host();
  ASSERT_EQ(host->create_window(), com::S_OK);
  ASSERT_TRUE(host->wait_for_event([](const host::ScriptEvent& e) { return e.id == 34; }, 5s));
  host->clear_events();
  EXPECT_EQ(host->call("CliQueryAlarm", {Variant::string(u"dev"), Variant::string(u"20160101000000"),
                                         Variant::string(u"20160102000000")}),
            com::S_OK);
  EXPECT_FALSE(host->wait_for_event([](const host::ScriptEvent&) { return true; }, 200ms));
}

}  // namespace
