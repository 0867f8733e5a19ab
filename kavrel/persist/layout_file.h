// Layout files: how the wall is populated (the pane count and each of the sixteen panes' camera
// and stream), kept as "<name>.zorlay" text files in the configuration folder.
//
// The format is one value per line: the pane count, then for each pane i its camera identifier
// and its stream identifier (-1 for none). Files are replaced whole (written beside the old one,
// then renamed over it), so a failed save never leaves a cut file behind.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

inline constexpr size_t kLayoutPanes = 16;
inline constexpr const char* kLayoutExtension = ".zorlay";
inline constexpr const char* kDefaultLayoutName = "Default";

struct Layout {
  int32_t pane_count = 0;
  std::array<std::string, kLayoutPanes> camera_ids;
  std::array<int32_t, kLayoutPanes> stream_ids{};
};

// The file name of a layout: the name with each of < > : " / \ | ? * replaced by an underscore,
// plus ".zorlay". Empty for a name that would still not name a file of its own in the folder:
// empty, ".", "..", or holding a control character.
std::string layout_file_name(std::string_view layout_name);

// The file's text for the pane count and assignment: panes at or beyond the count, and panes
// whose stream is -1, keep no camera; panes beyond the count have stream -1.
std::string format_layout(const Layout& layout);
// Reads a layout file's text; a missing line reads as empty text and as 0, a malformed number
// as 0.
Layout parse_layout(std::string_view text);

// Replaces `path` with `text`: written to a temporary file in the same folder, flushed to disk,
// then renamed over `path`. On failure the old file is untouched, the temporary file removed,
// and `error` says why.
bool replace_file(const std::string& path, std::string_view text, std::string* error);
// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> read_file(const std::string& path);

// The read-only attribute: set makes the file unwritable for everyone, clear restores the
// owner's write permission. False when the file's mode cannot be changed (a missing file too).
bool set_read_only(const std::string& path, bool read_only);

// The names of the layout files in `folder` (file names without ".zorlay"), in directory order,
// leaving out "Default.zorlay".
std::vector<std::string> list_layouts(const std::string& folder);
// {"Layouts":[...]} with the names as JSON strings, escaped as JSON requires.
std::string layout_list_json(const std::vector<std::string>& names);

}  // namespace kavrel
