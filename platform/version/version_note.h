// Builds a module's version block as an ELF note, placed in the module by one definition:
//
//   PLATFORM_VERSION_NOTE(kVersion, platform::fixed_file_info(1, 2, 1329, 0, 1, 2, 1115, 0),
//                         "FileVersion\0" "1.2.1329.0\0" "ProductName\0" "kavrel\0");
//
// The string literal holds key NUL value NUL pairs; the macro adds the final NUL.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/version/version_info.h"

namespace platform {

inline constexpr uint32_t kVersionNoteType = 1;

constexpr FixedFileInfo fixed_file_info(uint16_t file_major, uint16_t file_minor, uint16_t file_build,
                                        uint16_t file_revision, uint16_t product_major, uint16_t product_minor,
                                        uint16_t product_build, uint16_t product_revision) {
  return FixedFileInfo{kFixedFileInfoSignature,
                       0x00010000u,
                       (uint32_t{file_major} << 16) | file_minor,
                       (uint32_t{file_build} << 16) | file_revision,
                       (uint32_t{product_major} << 16) | product_minor,
                       (uint32_t{product_build} << 16) | product_revision,
                       0x3Fu,
                       0,
                       0x40004u,  // a 32-bit module of its own platform
                       2,         // a dynamic library
                       0,
                       0,
                       0};
}

template <size_t N>
struct alignas(4) VersionNote {
  static constexpr uint32_t kStringBytes = static_cast<uint32_t>((N + 1 + 3) / 4 * 4);
  uint32_t name_size;
  uint32_t desc_size;
  uint32_t type;
  char name[8];
  uint32_t block_length;
  FixedFileInfo fixed;
  char strings[kStringBytes];
};

// `strings` is the literal's array: its own terminating zero plus one more end the table.
template <size_t N>
constexpr VersionNote<N> make_version_note(const FixedFileInfo& fixed, const char (&strings)[N]) {
  VersionNote<N> note{};
  note.name_size = 7;  // "KAVREL" and its zero
  constexpr uint32_t block = 4 + sizeof(FixedFileInfo) + VersionNote<N>::kStringBytes;
  note.desc_size = block;
  note.type = kVersionNoteType;
  const char owner[] = "KAVREL";
  for (size_t i = 0; i < sizeof owner; ++i) note.name[i] = owner[i];
  note.block_length = block;
  note.fixed = fixed;
  for (size_t i = 0; i < N; ++i) note.strings[i] = strings[i];
  return note;
}

}  // namespace platform

#define PLATFORM_VERSION_NOTE(name, fixed, strings)                                        \
  __attribute__((section(".note.kavrel.version"), used, aligned(4))) extern const auto name = \
      ::platform::make_version_note((fixed), strings)
