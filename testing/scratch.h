// Fresh temporary folders and file helpers for the tests.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

using Bytes = std::string;

// A new empty folder, deleted with everything in it when the test ends.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // `name` inside the folder.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);
bool fileExists(const std::string& path);

// A member file: `tag`, the 16-bit little-endian `version`, then `bodySize`
// bytes that depend on `seed`.
Bytes memberBytes(const char* tag, std::uint16_t version, std::size_t bodySize, unsigned seed = 1);

Bytes u32le(std::uint32_t value);

}  // namespace testsupport
