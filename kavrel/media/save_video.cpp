#include "kavrel/media/save_video.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/window/browser_save.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr const char* kConvertName = "CkavrelCtrl::ConvertDAV2MP4";
constexpr const char* kSaveName = "CkavrelCtrl::SaveVideoFile";
constexpr size_t kPipeBlock = 1024;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

void remove_file(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

bool low_byte_set(int32_t result) { return (static_cast<uint32_t>(result) & 0xFFu) != 0; }

}  // namespace

bool convert_dav_to_mp4(const StreamConverterCalls& converter, const std::string& source,
                        const std::string& destination) {
  trace::enter(kConvertName);
  struct Leave {
    ~Leave() { trace::leave(kConvertName); }
  } leave;

  trace::step("initializing stream converter");
  if (!low_byte_set(converter.init())) {
    trace::error(kConvertName, 5125, "SC_init fails");
    return false;
  }
  // Each successful init is matched by one cleanup, whatever step fails after it.
  bool cleaned_up = false;
  auto cleanup = [&] {
    if (cleaned_up) return true;
    cleaned_up = true;
    trace::step("cleanup of stream converter");
    if (low_byte_set(converter.cleanup())) return true;
    trace::error(kConvertName, 5165, "SC_Cleanup fails");
    return false;
  };

  trace::step("opening source DAV file");
  std::unique_ptr<FILE, FileCloser> input(std::fopen(source.c_str(), "rb"));
  if (input == nullptr) {
    trace::error(kConvertName, 5133, "Open file fails");
    cleanup();
    return false;
  }

  trace::step("open stream converter");
  void* handle = nullptr;
  if (converter.open(kConverterFormatMp4, destination.c_str(), static_cast<int32_t>(destination.size()), &handle) < 0) {
    trace::error(kConvertName, 5141, "SC_Open fails");
    cleanup();
    remove_file(destination);
    return false;
  }

  trace::step("piping data into converter");
  uint8_t block[kPipeBlock];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, input.get())) > 0) {
    converter.input(handle, block, static_cast<int32_t>(got));
  }
  bool read_failed = std::ferror(input.get()) != 0;
  input.reset();

  trace::step("closing handles");
  converter.close(handle);
  converter.release(handle);
  bool cleanup_ok = cleanup();
  if (read_failed) trace::error(kConvertName, 5150, "Read file fails");

  std::error_code error;
  bool written = std::filesystem::is_regular_file(destination, error) && std::filesystem::file_size(destination, error) > 0;
  if (read_failed || !cleanup_ok || !written) {
    if (!written) trace::error(kConvertName, 5170, "No converted file");
    remove_file(destination);
    return false;
  }
  trace::step("Video file conversion completed");
  return true;
}

SaveOutcome save_video_file(platform::HWND owner, const std::string& source, const StreamConverterCalls& converter) {
  trace::enter(kSaveName);
  SaveOutcome outcome = SaveOutcome::cancelled;
  std::string chosen;
  platform::SaveState state = 0;
  if (platform::show_save_file_dialog(owner, kSaveInitialName, kSaveFilter, kSaveDefaultExtension, &chosen, &state) !=
      platform::kSaveOk) {
    trace::step("User canceled saving backup");
    platform::cancel_save_file(state);
  } else {
    size_t dot = chosen.find_last_of('.');
    std::string extension = dot != std::string::npos ? chosen.substr(dot) : std::string();
    if (extension == ".mp4" || extension == ".MP4") {
      trace::step("Convert backup file to MP4");
      std::string converted = source + ".mp4";
      if (convert_dav_to_mp4(converter, source, converted)) {
        trace::step("Saving converted backup file to user-selected name");
        trace::value("pwszSelectedFilename", chosen.c_str());
        outcome = platform::save_file(state, converted) == platform::kSaveOk ? SaveOutcome::saved_mp4
                                                                             : SaveOutcome::save_failed;
      } else {
        // Nothing that claims to be the user's video is saved from a failed conversion.
        trace::error(kSaveName, 5190, "Video file conversion failed");
        platform::cancel_save_file(state);
        outcome = SaveOutcome::conversion_failed;
      }
      remove_file(converted);
    } else {
      trace::step("Saving temp backup file to user-selected name");
      trace::value("pwszSelectedFilename", chosen.c_str());
      outcome = platform::save_file(state, source) == platform::kSaveOk ? SaveOutcome::saved_dav
                                                                        : SaveOutcome::save_failed;
    }
  }
  trace::step("Deleting temp backup file");
  trace::value("WideBackupFileName", source.c_str());
  remove_file(source);
  trace::leave(kSaveName);
  return outcome;
}

}  // namespace kavrel
