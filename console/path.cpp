#include "console/path.h"

#include "platform/platform.h"

namespace console {

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != platform::separator) path += platform::separator;
    path += name;
    return path;
}

}  // namespace console
