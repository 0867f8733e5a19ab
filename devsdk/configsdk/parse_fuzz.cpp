// Fuzz target: the ConfigSDK's parser on any text a device may send, for both records, and the
// raw stream's block reader on the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devsdk/configsdk/configsdk.h"
#include "devsdk/proto/media_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated by the string
  std::vector<uint8_t> record(sizeof(CFG_ENCODE_INFO));
  CLIENT_ParseData(CFG_CMD_ENCODE, text.c_str(), record.data(), static_cast<uint32_t>(record.size()), nullptr);
  CLIENT_ParseData(CFG_CAP_VIDEOINPUT, text.c_str(), record.data(), sizeof(CFG_VIDEOINPUT_CAPS), nullptr);
  proto::MediaBlockReader reader;
  reader.feed(data, size / 2);
  proto::MediaBlock block;
  while (reader.next(block) == proto::MediaBlockReader::Result::block) {
  }
  reader.feed(data + size / 2, size - size / 2);
  while (reader.next(block) == proto::MediaBlockReader::Result::block) {
  }
  return 0;
}
