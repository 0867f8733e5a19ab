#include "brixa/core/session_teardown.h"

#include "brixa/alerts/alerts.h"
#include "brixa/core/sdk_errors.h"
#include "brixa/live/live_streams.h"
#include "brixa/record/playback.h"
#include "brixa/sdk/sdk.h"

namespace brixa {

void stop_session_activity(device_session* session) {
  alerts::stop_session_alerts(session);
  live::stop_session_streams(session);
  record::stop_session_recordings(session);
  if (session->login_handle > 0) {
    if (!NET_Logout(session->login_handle)) trace_netsdk_error("brixa_release", 197, "NET_Logout (197)");
    session->login_handle = 0;
  }
}

void session_going_away(device_session* session) { record::forget_session(session); }

}  // namespace brixa
