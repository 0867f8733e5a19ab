// The reader of the cloud service's HTTP replies: takes the reply's bytes as they arrive and
// fills the session's status, header and body. It knows nothing of sockets or time; the
// exchange (http_exchange.cpp) feeds it and decides how long to wait for more.
//
// The header goes into the session's 1024-byte header buffer until its blank line; bytes after
// the blank line are the first body bytes. The status comes from the status line, the body
// length from the first "Content-Length:" line (case as written; 0 without one).
#pragma once

#include <cstddef>
#include <cstdint>

#include "brixa/cloud/cloud_session.h"

namespace brixa::cloud {

// The reader works on the session's reply fields, which its user holds `exchange_lock` for
// (exchange() does, for the whole exchange). The analysis cannot see that the lock of the
// session reference it keeps is the one its caller holds, so its members are not checked.
class ReplyReader {
 public:
  // Empties the session's status, header and body for a new reply.
  explicit ReplyReader(CloudSession& session) NO_THREAD_SAFETY_ANALYSIS;

  bool in_header() const { return in_header_; }
  // The header buffer is full and holds no blank line yet.
  bool header_full() const NO_THREAD_SAFETY_ANALYSIS;
  // Every announced body byte has arrived (always true once a header announced no body).
  bool body_complete() const NO_THREAD_SAFETY_ANALYSIS;

  // Where the next received bytes go: the free part of the header buffer while in the header,
  // then the missing part of the body. Empty when nothing more is wanted.
  char* space() NO_THREAD_SAFETY_ANALYSIS;
  size_t room() const NO_THREAD_SAFETY_ANALYSIS;

  // Takes `n` bytes written into space(): 0 to go on, or an error code (kErrStatusLine,
  // kErrBody), traced, when the header just completed cannot be used.
  int32_t take(size_t n) NO_THREAD_SAFETY_ANALYSIS;

  // Ends the reply where it stands (complete, or the peer fell silent): the body is
  // zero-terminated after what has arrived, at most the announced length.
  void finish() NO_THREAD_SAFETY_ANALYSIS;

 private:
  int32_t header_complete(const char* blank_line) NO_THREAD_SAFETY_ANALYSIS;

  CloudSession& s_;
  bool in_header_ = true;
  size_t header_got_ = 0;
};

}  // namespace brixa::cloud
