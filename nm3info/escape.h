// Bytes from an archive or a command line made safe to show.
#pragma once

#include <string>
#include <string_view>

#include "format/records.h"

namespace nm3info {

// The tag's printable ASCII characters as they are, a backslash doubled,
// any other byte as \xHH.
[[nodiscard]] std::string shownTag(const format::Tag& tag);

// `text` for a terminal: control characters as \xHH, everything else as it
// is.
[[nodiscard]] std::string shownText(std::string_view text);

// `text` as a quoted JSON string, valid UTF-8 whatever it holds: bytes that
// are not UTF-8 become U+FFFD.
[[nodiscard]] std::string jsonString(std::string_view text);

}  // namespace nm3info
