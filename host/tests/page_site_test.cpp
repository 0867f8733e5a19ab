// The host site answered by a page: requests go out as messages, answers come back by id, and a
// page that is slow, gone or answers nonsense leaves the control with the headless answer. A
// request on the user-interface thread keeps its loop turning but holds script calls back.
#include "host/page_site.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "host/tests/page_client.h"

namespace {

using namespace std::chrono_literals;
using host::testing::JsonPtr;
using host::testing::json_string;
using host::testing::parse_json;

class PageSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string folder = (std::filesystem::temp_directory_path() / "kavrel_page_site_test_XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    folder_ = folder;
    host::PageSite::Options options;
    options.reply_timeout = 400ms;
    options.save_folder = folder_ + "/saved";
    site_ = std::make_unique<host::PageSite>(ui_, downloads_, input_, options);
    std::string error;
    ASSERT_TRUE(site_->start(
        [this](const std::string& message) {
          std::lock_guard<std::mutex> hold(lock_);
          if (!page_there_) return false;
          sent_.push_back(message);
          arrived_.notify_all();
          return true;
        },
        &error))
        << error;
  }
  void TearDown() override {
    site_.reset();
    std::filesystem::remove_all(folder_);
  }

  // The next message the site sent, within the deadline.
  JsonPtr next_sent(std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!arrived_.wait_for(hold, timeout, [&] { return !sent_.empty(); })) return nullptr;
    JsonPtr message = parse_json(sent_.front());
    sent_.erase(sent_.begin());
    return message;
  }
  void answer(const JsonPtr& request, const std::string& value_json) {
    JsonPtr value = parse_json(value_json);
    site_->reply(static_cast<uint64_t>(cJSON_GetObjectItemCaseSensitive(request.get(), "id")->valuedouble), value.get());
  }
  // Runs `fn` on the user-interface thread without waiting for it.
  template <class Fn>
  auto on_ui(Fn fn) {
    auto task = std::make_shared<std::packaged_task<decltype(fn())()>>(std::move(fn));
    auto result = task->get_future();
    ui_.post([task] { (*task)(); });
    return result;
  }

  host::UiThread ui_;
  host::Downloads downloads_;
  host::InputState input_;
  std::string folder_;
  std::unique_ptr<host::PageSite> site_;
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<std::string> sent_;  // guarded by lock_
  bool page_there_ = true;         // guarded by lock_
};

TEST_F(PageSiteTest, AnswersCountOnlyWhenTheRequestOffersThem) {
  struct Case {
    const char* kind;
    std::function<int()> ask;
    const char* answer;
    int expected;
  };
  auto item = [](const char* text, uint32_t command, bool disabled = false) {
    platform::MenuItem i;
    i.text = text;
    i.command = command;
    i.disabled = disabled;
    return i;
  };
  platform::Menu menu;
  platform::MenuItem separator;
  separator.separator = true;
  platform::MenuItem blc = item("BLC", 0);
  blc.submenu = {item("Baixo", 230), item("Alto", 232, true)};
  menu.items = {item("Fechar", 205), separator, blc};
  platform::DialogTemplate about{1, "Sobre", {"kavrel"}, {{platform::IDOK, "OK"}, {9, "Mais"}}, {}};
  auto box = [this](uint32_t type) { return [this, type] { return site_->message_box(nullptr, "texto", "Quenlar Cloud", type); }; };
  auto pick = [&] { return static_cast<int>(site_->track_popup_menu(nullptr, menu, platform::Point{3, 4})); };
  auto dialog = [&] { return site_->show_dialog(nullptr, about); };
  const Case cases[] = {
      {"message_box", box(platform::MB_YESNO), "7", platform::IDNO},
      {"message_box", box(platform::MB_YESNO), "2", platform::IDOK},  // Cancel is not offered
      {"message_box", box(platform::MB_OKCANCEL | platform::MB_ICONERROR), "2", platform::IDCANCEL},
      {"message_box", box(platform::MB_OK), "\"yes\"", platform::IDOK},
      {"menu", pick, "230", 230},
      {"menu", pick, "232", 0},   // disabled
      {"menu", pick, "999", 0},   // not in the menu
      {"menu", pick, "null", 0},
      {"dialog", dialog, "9", 9},
      {"dialog", dialog, "3", platform::IDOK},
  };
  for (const Case& c : cases) {
    auto result = on_ui(c.ask);
    JsonPtr request = next_sent();
    ASSERT_TRUE(request) << c.kind;
    EXPECT_EQ(json_string(request.get(), "kind"), c.kind);
    answer(request, c.answer);
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready) << c.kind << " " << c.answer;
    EXPECT_EQ(result.get(), c.expected) << c.kind << " answered " << c.answer;
  }
}

TEST_F(PageSiteTest, AnUnansweredRequestEndsWithTheHeadlessAnswerAndIsWithdrawnFromThePage) {
  auto result = on_ui([this] { return site_->message_box(nullptr, "texto", "t", platform::MB_YESNO); });
  JsonPtr request = next_sent();
  ASSERT_TRUE(request);
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready) << "the wait is bounded";
  EXPECT_EQ(result.get(), platform::IDOK);
  JsonPtr cancel = next_sent();
  ASSERT_TRUE(cancel);
  EXPECT_EQ(json_string(cancel.get(), "type"), "site-cancel");
  EXPECT_EQ(cJSON_GetObjectItem(cancel.get(), "id")->valueint, cJSON_GetObjectItem(request.get(), "id")->valueint);
  answer(request, "6");  // too late: nothing waits for it any more
}

TEST_F(PageSiteTest, APageThatGoesEndsTheWaitAtOnceAndNoPageMeansNoQuestion) {
  auto result = on_ui([this] {
    platform::Menu menu;
    menu.items.resize(1);
    menu.items[0].text = "Fechar";
    menu.items[0].command = 205;
    return static_cast<int>(site_->track_popup_menu(nullptr, menu, {}));
  });
  ASSERT_TRUE(next_sent());
  site_->cancel_all();
  ASSERT_EQ(result.wait_for(300ms), std::future_status::ready);
  EXPECT_EQ(result.get(), 0);
  {
    std::lock_guard<std::mutex> hold(lock_);
    page_there_ = false;
  }
  EXPECT_FALSE(site_->play_sound("301", "RIFF", 4)) << "no page plays it";
  auto none = on_ui([this] { return site_->save_file_dialog(nullptr, platform::SaveDialogRequest{}).chosen; });
  ASSERT_EQ(none.wait_for(1s), std::future_status::ready);
  EXPECT_FALSE(none.get());
}

// Input from the page reaches its window in two steps (posted work that posts the window
// message); a script call sent after it must still run after the message.
TEST_F(PageSiteTest, AScriptCallRunsAfterTheInputSentBeforeIt) {
  std::mutex order_lock;
  std::vector<std::string> order;
  auto note = [&](const char* what) {
    std::lock_guard<std::mutex> hold(order_lock);
    order.push_back(what);
  };
  std::promise<void> done;
  ASSERT_TRUE(ui_.post([&] { ui_.post([&] { note("input"); }); }));
  ASSERT_TRUE(ui_.post_script_call([&] {
    note("call");
    done.set_value();
  }));
  ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
  std::lock_guard<std::mutex> hold(order_lock);
  EXPECT_EQ(order, (std::vector<std::string>{"input", "call"}));
}

TEST_F(PageSiteTest, ScriptCallsWaitWhileTheUserInterfaceThreadWaitsForThePage) {
  auto result = on_ui([this] { return site_->message_box(nullptr, "texto", "t", platform::MB_OK); });
  JsonPtr request = next_sent();
  ASSERT_TRUE(request);
  std::atomic<bool> call_ran{false};
  std::atomic<bool> posted_ran{false};
  ASSERT_TRUE(ui_.post_script_call([&] { call_ran = true; }));
  ASSERT_TRUE(ui_.post([&] { posted_ran = true; }));
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (!posted_ran && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(posted_ran) << "the loop keeps serving other messages while it waits";
  EXPECT_FALSE(call_ran) << "a script call ran inside another one";
  answer(request, "1");
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  deadline = std::chrono::steady_clock::now() + 5s;
  while (!call_ran && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(call_ran) << "the held call runs once the wait is over";
}

TEST_F(PageSiteTest, ASavedFileIsOfferedAsADownloadOnceWrittenUnderAPlainName) {
  platform::SaveDialogRequest request;
  request.initial_name = "Video.mp4";
  request.filters = {{"File video MP4", "*.mp4"}, {"File video DAV", "*.dav"}};
  request.default_extension = "mp4";
  auto result = on_ui([&] { return site_->save_file_dialog(nullptr, request); });
  JsonPtr asked = next_sent();
  ASSERT_TRUE(asked);
  EXPECT_EQ(json_string(asked.get(), "initial_name"), "Video.mp4");
  answer(asked, R"({"chosen":true,"name":"../../etc/Gravação","filter_index":2})");
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  platform::SaveDialogResult chosen = result.get();
  ASSERT_TRUE(chosen.chosen);
  EXPECT_EQ(chosen.filter_index, 2u);
  std::filesystem::path path(chosen.path);
  EXPECT_EQ(path.filename(), "Gravação.mp4") << "a plain name with the default extension";
  EXPECT_EQ(path.parent_path().parent_path(), std::filesystem::path(folder_ + "/saved"));

  // A file under another name in the save's folder (a copy still being made) is not offered.
  { std::ofstream(chosen.path + ".part", std::ios::binary) << "half a video"; }
  { std::ofstream(chosen.path, std::ios::binary) << "video bytes"; }
  JsonPtr offered = next_sent();
  ASSERT_TRUE(offered) << "the written file was not offered";
  EXPECT_EQ(json_string(offered.get(), "kind"), "download");
  EXPECT_EQ(json_string(offered.get(), "name"), "Gravação.mp4");
  std::string url = json_string(offered.get(), "url");
  ASSERT_EQ(url.rfind("/download/", 0), 0u);
  auto entry = downloads_.find(url.substr(10));
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->path, chosen.path);
  EXPECT_TRUE(entry->attachment);
}

TEST_F(PageSiteTest, SoundsAreOfferedOncePerContentAndInputStateAnswersAtOnce) {
  const char wave[] = "RIFF....WAVEfmt ";
  ASSERT_TRUE(site_->play_sound("301", wave, sizeof wave));
  ASSERT_TRUE(site_->play_sound("301", wave, sizeof wave));
  JsonPtr first = next_sent();
  JsonPtr second = next_sent();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(json_string(first.get(), "kind"), "sound");
  EXPECT_EQ(json_string(first.get(), "url"), json_string(second.get(), "url")) << "the page caches by URL";
  auto entry = downloads_.find(json_string(first.get(), "url").substr(10));
  ASSERT_TRUE(entry && entry->bytes);
  EXPECT_EQ(entry->bytes->size(), sizeof wave);
  EXPECT_FALSE(entry->attachment);

  input_.set_cursor(platform::Point{12, 34});
  input_.set_key(platform::VK_ESCAPE, true);
  input_.set_screen(platform::Size{2560, 1440});
  EXPECT_EQ(site_->cursor_position(), (platform::Point{12, 34}));
  EXPECT_TRUE(site_->is_key_down(platform::VK_ESCAPE));
  EXPECT_EQ(site_->screen_size(), (platform::Size{2560, 1440}));
  input_.release_all();
  EXPECT_FALSE(site_->is_key_down(platform::VK_ESCAPE));
}

TEST_F(PageSiteTest, AFileThatWasNotSavedIsToldToThePageByName) {
  site_->file_not_saved("Gravação.mp4");
  JsonPtr told = next_sent();
  ASSERT_TRUE(told);
  EXPECT_EQ(json_string(told.get(), "kind"), "file_not_saved");
  EXPECT_EQ(json_string(told.get(), "name"), "Gravação.mp4");
}

TEST_F(PageSiteTest, LiveSoundGoesToThePageAsBase64PcmAndItsEndFollows) {
  // Odd lengths, negative samples and both extremes: the page reads them back exactly.
  const int16_t samples[] = {0, 1, -1, 32767, -32768, 258, -2};
  site_->play_audio(7, samples, std::size(samples), 8000);
  site_->stop_audio(7);
  JsonPtr audio = next_sent();
  JsonPtr end = next_sent();
  ASSERT_TRUE(audio && end);
  EXPECT_EQ(json_string(audio.get(), "kind"), "audio");
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(audio.get(), "stream")), 7);
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(audio.get(), "rate")), 8000);
  // 0 1 -1 32767 -32768 258 -2 as little-endian bytes, in base64.
  EXPECT_EQ(json_string(audio.get(), "pcm"), "AAABAP///38AgAIB/v8=");
  EXPECT_EQ(json_string(end.get(), "kind"), "audio-end");
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(end.get(), "stream")), 7);
  // Nothing to send is not sent.
  site_->play_audio(7, samples, 0, 8000);
  EXPECT_FALSE(next_sent(std::chrono::milliseconds(100)));
}

}  // namespace

namespace {

// A save dialog asked from a thread other than the user-interface thread (an export that ended
// on the library's thread) waits for the page as long as it may; the control's shutdown ends it.
TEST_F(PageSiteTest, ControlShutdownEndsASaveDialogWaitingOnAnotherThread) {
  host::PageSite::Options options;
  options.reply_timeout = 600s;
  options.save_folder = folder_ + "/saved";
  options.cache_folder = folder_ + "/cache/kavrel-host/temp";
  site_ = std::make_unique<host::PageSite>(ui_, downloads_, input_, options);
  std::string error;
  ASSERT_TRUE(site_->start(
      [this](const std::string& message) {
        std::lock_guard<std::mutex> hold(lock_);
        sent_.push_back(message);
        arrived_.notify_all();
        return true;
      },
      &error));
  EXPECT_EQ(site_->writable_cache_folder(), options.cache_folder);
  EXPECT_TRUE(std::filesystem::is_directory(options.cache_folder)) << "made when asked for";

  auto result = std::async(std::launch::async, [this] {
    return site_->save_file_dialog(nullptr, platform::SaveDialogRequest{});
  });
  JsonPtr asked = next_sent();
  ASSERT_TRUE(asked);
  EXPECT_EQ(json_string(asked.get(), "kind"), "save_dialog");
  EXPECT_EQ(result.wait_for(50ms), std::future_status::timeout);
  site_->cancel_dialogs();
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(result.get().chosen);
}

TEST_F(PageSiteTest, WithoutACacheFolderTheSiteHasNone) { EXPECT_EQ(site_->writable_cache_folder(), ""); }

}  // namespace
