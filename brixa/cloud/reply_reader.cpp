#include "brixa/cloud/reply_reader.h"

#include <cstdio>
#include <cstring>

#include "brixa/cloud/http_exchange.h"
#include "trace/trace.h"

namespace brixa::cloud {
namespace {

constexpr const char* kTraceName = "http_post";

// The value of the first header line that begins exactly with "Content-Length:"; 0 without
// one. Case matters: "content-length:" is not read.
long long content_length_of(const char* header) {
  const char* line = header;
  while (line != nullptr && *line != 0) {
    if (std::strncmp(line, "Content-Length:", 15) == 0) {
      long long value = 0;
      if (std::sscanf(line, "Content-Length: %lld", &value) != 1) return 0;
      return value;
    }
    const char* next = std::strstr(line, "\r\n");
    line = next != nullptr ? next + 2 : nullptr;
  }
  return 0;
}

}  // namespace

ReplyReader::ReplyReader(CloudSession& session) : s_(session) {
  s_.status = -1;
  s_.content_length = 0;
  s_.received = 0;
  s_.header[0] = 0;
  s_.body[0] = 0;
}

bool ReplyReader::header_full() const { return in_header_ && header_got_ >= sizeof s_.header - 1; }

bool ReplyReader::body_complete() const { return !in_header_ && s_.received >= s_.content_length; }

char* ReplyReader::space() { return in_header_ ? s_.header + header_got_ : s_.body.data() + s_.received; }

size_t ReplyReader::room() const {
  if (in_header_) return sizeof s_.header - 1 - header_got_;
  return s_.received < s_.content_length ? s_.content_length - s_.received : 0;
}

int32_t ReplyReader::take(size_t n) {
  if (n > room()) n = room();
  if (!in_header_) {
    s_.received += static_cast<uint32_t>(n);
    return 0;
  }
  header_got_ += n;
  s_.header[header_got_] = 0;
  const char* blank_line = static_cast<const char*>(memmem(s_.header, header_got_, "\r\n\r\n", 4));
  return blank_line != nullptr ? header_complete(blank_line) : 0;
}

int32_t ReplyReader::header_complete(const char* blank_line) {
  in_header_ = false;
  size_t header_end = static_cast<size_t>(blank_line - s_.header) + 4;
  size_t early = header_got_ - header_end;  // body bytes that came with the header
  std::memcpy(s_.body.data(), s_.header + header_end, early);
  s_.body[early] = 0;
  s_.received = static_cast<uint32_t>(early);
  s_.header[header_end] = 0;

  unsigned status = 0;
  if (std::sscanf(s_.header, "HTTP/%*s%u", &status) != 1) {
    s_.status = -1;
    trace::error(kTraceName, 152, "Cannot read the status line");
    return kErrStatusLine;
  }
  s_.status = static_cast<int32_t>(status);

  long long announced = content_length_of(s_.header);
  if (announced < 0 || announced > static_cast<long long>(kMaxReplyBody)) {
    trace::error(kTraceName, 158, "Unusable Content-Length");
    return kErrBody;
  }
  s_.content_length = static_cast<uint32_t>(announced);
  if (s_.body.size() < s_.content_length + 1) s_.body.resize(s_.content_length + 4);
  return 0;
}

void ReplyReader::finish() {
  if (in_header_ || s_.content_length == 0) return;
  if (s_.received > s_.content_length) s_.received = s_.content_length;
  s_.body[s_.received] = 0;
}

}  // namespace brixa::cloud
