// Writes benchmark atlases: member files with a valid 6-byte header and
// pseudo-random bodies, so that nothing large lives in the repository.
//
//   make_atlas file PATH TAG VERSION SIZE
//   make_atlas many DIR PREFIX COUNT MIN_SIZE MAX_SIZE SEED
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::uint64_t state = 88172645463325252ull;

std::uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

bool writeMember(const std::string& path, const char* tag, unsigned version, std::uint64_t size) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::vector<unsigned char> block(1 << 20);
    std::uint64_t done = 0;
    bool ok = true;
    while (ok && done < size) {
        const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        for (std::size_t i = 0; i < now; i += 8) {
            const std::uint64_t value = next();
            for (std::size_t j = 0; j < 8 && i + j < now; ++j) {
                block[i + j] = static_cast<unsigned char>(value >> (8 * j));
            }
        }
        if (done == 0) {
            for (std::size_t i = 0; i < 4 && i < now; ++i) block[i] = static_cast<unsigned char>(tag[i]);
            if (now > 4) block[4] = static_cast<unsigned char>(version & 0xFF);
            if (now > 5) block[5] = static_cast<unsigned char>(version >> 8);
        }
        ok = std::fwrite(block.data(), 1, now, out) == now;
        done += now;
    }
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "file" && argc == 6) {
        return writeMember(argv[2], argv[3], std::stoul(argv[4]), std::stoull(argv[5])) ? 0 : 1;
    }
    if (mode == "many" && argc == 8) {
        const std::string dir = argv[2];
        const std::string prefix = argv[3];
        const unsigned long count = std::stoul(argv[4]);
        const std::uint64_t minSize = std::stoull(argv[5]);
        const std::uint64_t maxSize = std::stoull(argv[6]);
        state ^= std::stoull(argv[7]) * 0x9E3779B97F4A7C15ull;
        for (unsigned long i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "%s%06lu.nm2", prefix.c_str(), i);
            const std::uint64_t size = minSize + (maxSize > minSize ? next() % (maxSize - minSize + 1) : 0);
            if (!writeMember(dir + "/" + name, "TILE", 16, size)) return 1;
        }
        return 0;
    }
    std::fprintf(stderr, "usage: make_atlas file PATH TAG VERSION SIZE | many DIR PREFIX COUNT MIN MAX SEED\n");
    return 2;
}
