#include "testing/scratch.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testsupport {

ScratchDir::ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/veskal-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("can't write " + path);
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("can't read " + path);
    // In large pieces: byte by byte takes seconds for megabytes in a
    // sanitized build.
    Bytes bytes;
    std::string piece(1 << 16, '\0');
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        bytes.append(piece.data(), static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

Bytes memberBytes(const char* tag, std::uint16_t version, std::size_t bodySize, unsigned seed) {
    Bytes bytes(tag, 4);
    bytes += static_cast<char>(version & 0xFF);
    bytes += static_cast<char>(version >> 8);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < bodySize; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes += static_cast<char>(state >> 24);
    }
    return bytes;
}

Bytes u32le(std::uint32_t value) {
    Bytes bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

}  // namespace testsupport
