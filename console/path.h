#pragma once

#include <string>
#include <string_view>

namespace console {

// `folder` and `name` joined by the platform's separator, which is not
// doubled when `folder` already ends in one.
std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace console
