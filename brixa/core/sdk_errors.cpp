#include "brixa/core/sdk_errors.h"

#include <cstdio>

#include "devsdk/netsdk/netsdk.h"
#include "devsdk/playsdk/playsdk.h"
#include "trace/trace.h"

namespace brixa {
namespace {

struct NamedError {
  uint32_t number;
  const char* name;
};

constexpr NamedError kNetErrors[] = {
    {1, "ERROR_NET_SYSTEM_ERROR"},
    {2, "ERROR_NET_NETWORK_ERROR"},
    {3, "ERROR_NET_DEV_VER_NOMATCH"},
    {4, "ERROR_NET_INVALID_HANDLE"},
    {5, "ERROR_NET_OPEN_CHANNEL_ERROR"},
    {6, "ERROR_NET_CLOSE_CHANNEL_ERROR"},
    {7, "ERROR_NET_ILLEGAL_PARAM"},
    {8, "ERROR_NET_SDK_INIT_ERROR"},
    {9, "ERROR_NET_SDK_UNINIT_ERROR"},
    {10, "ERROR_NET_RENDER_OPEN_ERROR"},
    {11, "ERROR_NET_DEC_OPEN_ERROR"},
    {12, "ERROR_NET_DEC_CLOSE_ERROR"},
    {13, "ERROR_NET_MULTIPLAY_NOCHANNEL"},
    {14, "ERROR_NET_TALK_INIT_ERROR"},
    {15, "ERROR_NET_TALK_NOT_INIT"},
    {16, "ERROR_NET_TALK_SENDDATA_ERROR"},
    {17, "ERROR_NET_REAL_ALREADY_SAVING"},
    {18, "ERROR_NET_NOT_SAVING"},
    {19, "ERROR_NET_OPEN_FILE_ERROR"},
    {20, "ERROR_NET_PTZ_SET_TIMER_ERROR"},
    {21, "ERROR_NET_RETURN_DATA_ERROR"},
    {22, "ERROR_NET_INSUFFICIENT_BUFFER"},
    {23, "ERROR_NET_NOT_SUPPORTED"},
    {24, "ERROR_NET_NO_RECORD_FOUND"},
    {27, "ERROR_NET_NO_TALK_CHANNEL"},
    {28, "ERROR_NET_NO_AUDIO"},
    {29, "ERROR_NET_NO_INIT"},
    {30, "ERROR_NET_DOWNLOAD_END"},
    {100, "ERROR_NET_LOGIN_ERROR_PASSWORD"},
    {101, "ERROR_NET_LOGIN_ERROR_USER"},
    {102, "ERROR_NET_LOGIN_ERROR_TIMEOUT"},
    {103, "ERROR_NET_LOGIN_ERROR_RELOGGIN"},
    {104, "ERROR_NET_LOGIN_ERROR_LOCKED"},
    {105, "ERROR_NET_LOGIN_ERROR_BLACKLIST"},
    {106, "ERROR_NET_LOGIN_ERROR_BUSY"},
    {107, "ERROR_NET_LOGIN_ERROR_CONNECT"},
    {108, "ERROR_NET_LOGIN_ERROR_NETWORK"},
    {120, "ERROR_NET_RENDER_SOUND_ON_ERROR"},
    {121, "ERROR_NET_RENDER_SOUND_OFF_ERROR"},
    {122, "ERROR_NET_RENDER_SET_VOLUME_ERROR"},
    {123, "ERROR_NET_RENDER_ADJUST_ERROR"},
    {124, "ERROR_NET_RENDER_PAUSE_ERROR"},
    {125, "ERROR_NET_RENDER_SNAP_ERROR"},
    {126, "ERROR_NET_RENDER_STEP_ERROR"},
    {127, "ERROR_NET_RENDER_FRAMERATE_ERROR"},
    {309, "ERROR_NET_CONFIG_DEVBUSY"},
    {310, "ERROR_NET_CONFIG_DATAILLEGAL"},
};

constexpr const char* kPlayErrors[] = {
    "No error",
    "Illegal input parameter",
    "Callabck sequence is not right",
    "Failed to set multiple-media setup",
    "Failed to decode video",
    "Failed to decode audio",
    "Failed to allocate meomory",
    "File operation failed",
    "Failed to create thread events",
    "Failed to create directDraw",
    "Failed to create back-end buffer",
    "Buffer is full. Input stream failed",
    "Failed to create audio device",
    "Failed to set volume",
    "Become valid when play file",
    "Become valid when play stream",
    "System does not support. Decoder can work in Pentium 3 or higher",
    "No file head",
    "Decoder and encoder version are not compatilble",
    "Failed to initialize decoder",
    "File is too short or bit stream can not be recognized",
    "Failed to initialize MMTimer",
    "Bit copy failed",
    "Failed to display overlay",
    "Memory too small",
};

}  // namespace

const char* netsdk_error_name(uint32_t code) {
  if (code == 0) return "ERROR_NET_NOERROR";
  if ((code & NET_ERROR_BASE) == 0) return "ERROR_NET_ERROR";
  uint32_t number = code & ~NET_ERROR_BASE;
  for (const auto& e : kNetErrors) {
    if (e.number == number) return e.name;
  }
  return "ERROR_NET_ERROR";
}

const char* playsdk_error_text(uint32_t code) {
  return code < sizeof kPlayErrors / sizeof kPlayErrors[0] ? kPlayErrors[code] : nullptr;
}

void trace_netsdk_error(const char* name, int32_t line, const char* message) {
  uint32_t code = NET_GetLastError();
  if (!trace::on()) return;
  char detail[256];
  snprintf(detail, sizeof detail, "%s %s", message != nullptr ? message : "", netsdk_error_name(code));
  trace::error(name, line, detail);
}

void trace_playsdk_error(const char* name, int32_t line, const char* message, int32_t port) {
  uint32_t code = PLAY_GetLastError(port);
  if (!trace::on()) return;
  char detail[256] = "";
  if (const char* text = playsdk_error_text(code)) {
    snprintf(detail, sizeof detail, "%s %s", message != nullptr ? message : "", text);
  }
  trace::error(name, line, detail);
}

}  // namespace brixa
