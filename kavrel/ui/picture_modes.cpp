#include "kavrel/ui/picture_modes.h"

#include <atomic>

#include "trace/trace.h"

namespace kavrel::ui {
namespace {

void no_filter(const char* what) { trace::value("No picture filter attached", what); }

const PictureModeCalls kUnattached = {
    [](platform::HWND, int32_t) { no_filter("history mode"); },
    [](platform::HWND, int32_t) { no_filter("history interval"); },
    [](platform::HWND, int32_t) { no_filter("wdr mode"); },
    [](platform::HWND, int32_t) { no_filter("wdr intensity"); },
    [](platform::HWND, int32_t, int32_t) { no_filter("freeze mode"); },
};

std::atomic<const PictureModeCalls*> current{&kUnattached};

}  // namespace

const PictureModeCalls& picture_mode_calls() { return *current.load(); }

void set_picture_mode_calls(const PictureModeCalls* calls) { current.store(calls != nullptr ? calls : &kUnattached); }

}  // namespace kavrel::ui
