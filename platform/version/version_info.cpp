#include "platform/version/version_info.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/version/version_note.h"

namespace platform {
namespace {

constexpr uint64_t kMaxNoteSection = 1u << 20;  // no version note section is anywhere near this
constexpr uint32_t kMaxBlock = 64u * 1024u;

class File {
 public:
  explicit File(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool ok() const { return fd_ >= 0; }
  // Reads exactly `size` bytes at `offset`; false on a short read.
  bool read_at(uint64_t offset, void* out, uint64_t size) const {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
      ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      p += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

struct Section {
  uint32_t type;
  uint64_t offset;
  uint64_t size;
};

template <class Ehdr, class Shdr>
bool read_sections(const File& file, std::vector<Section>* sections) {
  Ehdr header{};
  if (!file.read_at(0, &header, sizeof header)) return false;
  if (header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0 || header.e_shnum > 4096) return false;
  for (uint32_t i = 0; i < header.e_shnum; ++i) {
    Shdr section{};
    if (!file.read_at(uint64_t{header.e_shoff} + uint64_t{i} * sizeof(Shdr), &section, sizeof section)) return false;
    sections->push_back(Section{section.sh_type, section.sh_offset, section.sh_size});
  }
  return true;
}

// The version block found in the module's note sections, or empty.
std::vector<char> read_block(const std::string& name) {
  std::string path = find_module_file(name);
  if (path.empty()) return {};
  File file(path);
  if (!file.ok()) return {};
  unsigned char ident[EI_NIDENT] = {};
  if (!file.read_at(0, ident, sizeof ident) || memcmp(ident, ELFMAG, SELFMAG) != 0) return {};
  if (ident[EI_DATA] != ELFDATA2LSB) return {};
  std::vector<Section> sections;
  bool ok = ident[EI_CLASS] == ELFCLASS64   ? read_sections<Elf64_Ehdr, Elf64_Shdr>(file, &sections)
            : ident[EI_CLASS] == ELFCLASS32 ? read_sections<Elf32_Ehdr, Elf32_Shdr>(file, &sections)
                                            : false;
  if (!ok) return {};
  for (const Section& section : sections) {
    if (section.type != SHT_NOTE || section.size == 0 || section.size > kMaxNoteSection) continue;
    std::vector<char> notes(section.size);
    if (!file.read_at(section.offset, notes.data(), section.size)) continue;
    uint64_t at = 0;
    while (at + 12 <= notes.size()) {
      uint32_t name_size, desc_size, type;
      memcpy(&name_size, &notes[at], 4);
      memcpy(&desc_size, &notes[at + 4], 4);
      memcpy(&type, &notes[at + 8], 4);
      uint64_t name_at = at + 12;
      uint64_t desc_at = name_at + ((uint64_t{name_size} + 3) & ~uint64_t{3});
      uint64_t next = desc_at + ((uint64_t{desc_size} + 3) & ~uint64_t{3});
      if (next > notes.size() || desc_at + desc_size > notes.size()) break;
      if (name_size == 7 && memcmp(&notes[name_at], "KAVREL", 7) == 0 && type == kVersionNoteType &&
          desc_size >= 4 + sizeof(FixedFileInfo) && desc_size <= kMaxBlock) {
        uint32_t length;
        memcpy(&length, &notes[desc_at], 4);
        if (length == desc_size) return std::vector<char>(notes.begin() + desc_at, notes.begin() + desc_at + desc_size);
      }
      at = next;
    }
  }
  return {};
}

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string program_folder() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::string find_module_file(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return is_regular_file(name) ? name : std::string();
  std::vector<std::string> folders;
  folders.push_back(program_folder());
  if (const char* library_path = std::getenv("LD_LIBRARY_PATH")) {
    std::string all(library_path);
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      folders.push_back(all.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    std::string candidate = folder + "/" + name;
    if (is_regular_file(candidate)) return candidate;
  }
  return {};
}

uint32_t get_file_version_info_size(const std::string& name) {
  return static_cast<uint32_t>(read_block(name).size());
}

bool get_file_version_info(const std::string& name, uint32_t size, void* data) {
  if (data == nullptr) return false;
  std::vector<char> block = read_block(name);
  if (block.empty() || block.size() > size) return false;
  memcpy(data, block.data(), block.size());
  return true;
}

bool query_version_value(const void* block, const std::string& sub_block, const void** value, uint32_t* length) {
  if (block == nullptr || value == nullptr || length == nullptr) return false;
  const char* bytes = static_cast<const char*>(block);
  uint32_t total;
  memcpy(&total, bytes, 4);
  if (total < 4 + sizeof(FixedFileInfo) || total > kMaxBlock) return false;
  if (sub_block == "\\") {
    *value = bytes + 4;
    *length = sizeof(FixedFileInfo);
    return true;
  }
  std::string key = sub_block.substr(sub_block.find_last_of('\\') == std::string::npos ? 0 : sub_block.find_last_of('\\') + 1);
  if (key.empty()) return false;
  const char* at = bytes + 4 + sizeof(FixedFileInfo);
  const char* end = bytes + total;
  while (at < end && *at != 0) {
    const char* key_end = static_cast<const char*>(memchr(at, 0, static_cast<size_t>(end - at)));
    if (key_end == nullptr) return false;
    const char* text = key_end + 1;
    const char* text_end = text < end ? static_cast<const char*>(memchr(text, 0, static_cast<size_t>(end - text))) : nullptr;
    if (text_end == nullptr) return false;
    if (key == std::string(at, key_end)) {
      *value = text;
      *length = static_cast<uint32_t>(text_end - text);
      return true;
    }
    at = text_end + 1;
  }
  return false;
}

}  // namespace platform
