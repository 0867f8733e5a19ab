#include "kavrel/ui/picture_modes.h"

#include <atomic>

#include "brixa/api/brixa.h"

namespace kavrel::ui {
namespace {

// The library finds a stream's capture by the window it renders into.
const PictureModeCalls kLibrary = {
    [](platform::HWND w, int32_t mode) { brixa_set_history_mode(w, mode); },
    [](platform::HWND w, int32_t ms) { brixa_set_history_interval(w, ms); },
    [](platform::HWND w, int32_t mode) { brixa_set_wdr_mode(w, mode); },
    [](platform::HWND w, int32_t intensity) { brixa_set_wdr_intensity(w, intensity); },
    [](platform::HWND w, int32_t mode, int32_t corner) { brixa_set_freeze_mode(w, mode, corner); },
};

std::atomic<const PictureModeCalls*> current{&kLibrary};

}  // namespace

const PictureModeCalls& picture_mode_calls() { return *current.load(); }

void set_picture_mode_calls(const PictureModeCalls* calls) { current.store(calls != nullptr ? calls : &kLibrary); }

}  // namespace kavrel::ui
