#include "kavrel/core/control_message.h"

namespace kavrel {

ControlMessage ControlMessage::make(int32_t context, int32_t handle, int32_t id, int32_t tag1, int32_t tag2,
                                    const char* info, int32_t info_len) {
  ControlMessage m;
  m.hContext = context;
  m.handle = handle;
  m.nID = id;
  m.nTag1 = tag1;
  m.nTag2 = tag2;
  m.nInfoLen = info_len;
  if (info_len > 0 && info != nullptr) m.info.emplace(info, static_cast<size_t>(info_len));
  return m;
}

}  // namespace kavrel
