#include "platform/window/host_site.h"

#include <gtest/gtest.h>

#include "platform/window/testing/scripted_site.h"

namespace {

TEST(HostSite, HeadlessByDefaultAndScriptableWhenInstalled) {
  EXPECT_EQ(platform::host_site()->message_box(nullptr, "t", "c", platform::MB_OK), platform::IDOK);
  EXPECT_FALSE(platform::host_site()->save_file_dialog(nullptr, {}).chosen);

  auto site = std::make_shared<platform::testing::ScriptedSite>();
  site->answer_box(platform::IDCANCEL);
  site->answer_menu(205);
  site->set_key(platform::VK_ESCAPE, true);
  platform::set_host_site(site);
  EXPECT_EQ(platform::host_site()->message_box(nullptr, "texto", "Quenlar Cloud", platform::MB_OKCANCEL),
            platform::IDCANCEL);
  platform::Menu menu;
  platform::MenuItem close;
  close.text = "Fechar";
  close.command = 205;
  menu.items.push_back(close);
  EXPECT_EQ(platform::host_site()->track_popup_menu(nullptr, menu, {1, 2}), 205u);
  EXPECT_EQ(platform::host_site()->track_popup_menu(nullptr, menu, {1, 2}), 0u) << "answers are used once";
  EXPECT_TRUE(platform::host_site()->is_key_down(platform::VK_ESCAPE));
  ASSERT_EQ(site->calls().size(), 3u);
  EXPECT_EQ(site->calls()[0].caption, "Quenlar Cloud");

  platform::set_host_site(nullptr);
  EXPECT_FALSE(platform::host_site()->is_key_down(platform::VK_ESCAPE));
}

}  // namespace
