// The binary resources of the control module (pictures now; anything kept as bytes), embedded in
// the module at build time and found by identifier and type, as a module's resource section is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavrel::resources {

// Picture resources (type "PNG", 32 x 32 with alpha unless noted).
inline constexpr uint32_t IDB_PNG_CLOSE = 201;            // red square with a white cross
inline constexpr uint32_t IDB_PNG_SPEAKERS_MUTED = 203;   // 80 x 16 strip of four muted loudspeakers
inline constexpr uint32_t IDB_PNG_SNAPSHOT = 204;         // stack of photographs
inline constexpr uint32_t IDB_PNG_SPEAKERS = 205;         // 80 x 16 strip of four loudspeakers
inline constexpr uint32_t IDB_PNG_RECORD = 206;           // green round button
inline constexpr uint32_t IDB_PNG_RECORDING = 207;        // red round button
inline constexpr uint32_t IDB_PNG_ALARM_ON = 208;         // lit red beacon
inline constexpr uint32_t IDB_PNG_ALARM_OFF = 209;        // grey beacon
inline constexpr uint32_t IDB_PNG_HISTORY = 210;          // clock with a green back-arrow
inline constexpr uint32_t IDB_PNG_BLC = 211;              // torch
inline constexpr uint32_t IDB_PNG_FREEZE = 212;           // snowflake

// Sound resources (type "WAVE", PCM WAVE files).
inline constexpr uint32_t IDR_WAVE_SNAPSHOT = 301;  // shutter click, 0.6 s, stereo, 48 kHz, 24-bit
inline constexpr uint32_t IDR_WAVE_RECORD = 302;    // two-tone beep, 0.4 s, stereo, 48 kHz, 16-bit
inline constexpr uint32_t IDR_WAVE_ALARM = 303;     // rising alarm tone, 2.4 s, stereo, 44.1 kHz, 16-bit

inline constexpr std::string_view kTypePng = "PNG";
inline constexpr std::string_view kTypeWave = "WAVE";
inline constexpr std::string_view kTypeBitmap = "BITMAP";  // a BMP file

struct EmbeddedResource {
  uint32_t id;
  const char* type;
  const uint8_t* data;
  size_t size;
};
// Generated at build time.
extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

struct ResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
  explicit operator bool() const { return data != nullptr && size > 0; }
};

// A place resources are found in: the control module, or a test's own table.
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  // The bytes of resource `id` of `type`; empty when there is none.
  virtual ResourceBytes Find(uint32_t id, std::string_view type) const = 0;
};

// The control module's own resources.
const ResourceSource& module_resources();

}  // namespace kavrel::resources
