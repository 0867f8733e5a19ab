// An io_context whose services can be shut down before it is destroyed.
//
// Shutting the services down destroys the handlers they still hold (a websocket's suspended
// write among them) without running them. Those handlers hold their sessions, the sessions hold
// the state that owns the io_context: without this, such a cycle outlives its owner.
#pragma once

#include <utility>  // Boost 1.74's Asio needs std::exchange declared first

#include <boost/asio/io_context.hpp>

namespace host {

class ClosableIo : public boost::asio::io_context {
 public:
  using boost::asio::io_context::io_context;
  // Once the thread that ran it has ended; the io_context cannot run again afterwards.
  void shut_down_services() { shutdown(); }
};

}  // namespace host
