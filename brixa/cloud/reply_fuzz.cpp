// Fuzz target: the cloud client's HTTP reply reader. Arbitrary bytes arrive as a reply, in
// pieces whose size the first byte chooses; every number of a body that is JSON is then read as
// the control reads integers from the lists.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cstdlib>

#include "brixa/cloud/reply_reader.h"
#include "platform/json/json_integer.h"

namespace {

// Every number of the document through the checked conversion: a value it gives back must be
// the number itself.
void read_numbers(const cJSON* item) {
  for (; item != nullptr; item = item->next) {
    if (cJSON_IsNumber(item)) {
      if (auto v = platform::json_integer<int32_t>(item); v && static_cast<double>(*v) != item->valuedouble) abort();
      if (auto v = platform::json_integer<int64_t>(item); v && static_cast<double>(*v) != item->valuedouble) abort();
      if (auto v = platform::json_integer<uint16_t>(item); v && static_cast<double>(*v) != item->valuedouble) abort();
    }
    read_numbers(item->child);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 97 + 1;
  ++data;
  --size;
  brixa::cloud::CloudSession session;
  brixa::cloud::ReplyReader reply(session);
  while (size > 0) {
    if (reply.header_full() || reply.body_complete()) break;
    size_t n = std::min({piece, size, reply.room()});
    if (n == 0) break;
    std::memcpy(reply.space(), data, n);
    data += n;
    size -= n;
    if (reply.take(n) != 0) return 0;
  }
  reply.finish();
  if (reply.in_header()) return 0;
  if (session.received > session.body.size() - 1) abort();
  size_t length = std::strlen(session.body.data());
  cJSON* root = cJSON_ParseWithLength(session.body.data(), length);
  if (root == nullptr) return 0;
  read_numbers(root);
  cJSON_Delete(root);
  return 0;
}
