// Names of the NetSDK's error codes and texts of the PlaySDK's, for the error-trace exports.
#pragma once

#include <cstdint>

namespace brixa {

// The name of a NetSDK last-error code (0, or 0x80000000 plus the error number);
// "ERROR_NET_ERROR" for a number without a name of its own.
const char* netsdk_error_name(uint32_t code);
// The text of a PlaySDK error code 0-24, or null outside that range.
const char* playsdk_error_text(uint32_t code);

// brixa_error and brixa_play_error: trace the last error with its name or text.
void trace_netsdk_error(const char* name, int32_t line, const char* message);
void trace_playsdk_error(const char* name, int32_t line, const char* message, int32_t port);

}  // namespace brixa
