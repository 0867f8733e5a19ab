// The call shape of every traced control method: the entry line when it starts and the exit
// line however it is left, an exception included.
#pragma once

#include "trace/trace.h"

namespace kavrel {

class TracedMethod {
 public:
  explicit TracedMethod(const char* name) : name_(name) { trace::enter(name); }
  ~TracedMethod() { trace::leave(name_); }
  TracedMethod(const TracedMethod&) = delete;
  TracedMethod& operator=(const TracedMethod&) = delete;
  const char* name() const { return name_; }

 private:
  const char* name_;
};

}  // namespace kavrel
