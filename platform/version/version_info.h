// The version resource of a module file: a block carrying a fixed file information record (file
// and product version, four 16-bit parts each) and named strings, read from the file by name.
//
// A module carries its block in an ELF note (owner "KAVREL", type 1); version_note.h makes one.
// The block is [uint32 total length][FixedFileInfo][key NUL value NUL ... NUL].
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;

struct FixedFileInfo {
  uint32_t signature;           // kFixedFileInfoSignature
  uint32_t struct_version;      // 0x00010000
  uint32_t file_version_ms;     // major << 16 | minor
  uint32_t file_version_ls;     // build << 16 | revision
  uint32_t product_version_ms;
  uint32_t product_version_ls;
  uint32_t file_flags_mask;
  uint32_t file_flags;
  uint32_t file_os;
  uint32_t file_type;
  uint32_t file_subtype;
  uint32_t file_date_ms;
  uint32_t file_date_ls;
};

// Resolves a module name the way modules are loaded: a name holding a '/' is taken as it is;
// a bare name is looked for in the folder of the running program, then in each folder of
// LD_LIBRARY_PATH. Empty when no such file exists.
std::string find_module_file(const std::string& name);

// Size in bytes of the file's version block, 0 when the file or its block cannot be found.
uint32_t get_file_version_info_size(const std::string& name);
// Copies the block into `data` (at least `size` bytes, as given by the size query). False when
// the file or block cannot be read or does not fit.
bool get_file_version_info(const std::string& name, uint32_t size, void* data);
// Looks a value up in a block: "\\" gives the FixedFileInfo, "\\StringFileInfo\\<any>\\<Key>"
// (or just "<Key>") the zero-terminated string stored under that key. `length` receives the
// size in bytes (the string's length without its zero). False when absent or malformed.
bool query_version_value(const void* block, const std::string& sub_block, const void** value, uint32_t* length);

}  // namespace platform
