#include "kavrel/media/stream_converter.h"

#include <atomic>

#include "streamconv/streamconv.h"

namespace kavrel {
namespace {

const StreamConverterCalls kLibrary = {SC_init, SC_Open, SC_InputData, SC_Close, SC_Release, SC_Cleanup};
std::atomic<const StreamConverterCalls*> in_force{&kLibrary};

}  // namespace

const StreamConverterCalls& stream_converter_calls() { return *in_force.load(); }

void set_stream_converter_calls(const StreamConverterCalls* calls) {
  in_force.store(calls != nullptr ? calls : &kLibrary);
}

}  // namespace kavrel
