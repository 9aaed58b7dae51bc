#include "cli/standard_output.h"

#include "cli/terminal.h"

namespace cli {

namespace {

class StandardOutput : public fs::File {
public:
    std::optional<std::size_t> read(void*, std::size_t) override { return std::nullopt; }
    std::optional<std::size_t> readSome(void*, std::size_t) override { return std::nullopt; }
    bool write(const void* data, std::size_t size) override { return writeOutput(data, size); }
    bool seek(std::uint64_t) override { return false; }
    std::optional<std::uint64_t> seekEnd() override { return std::nullopt; }
    bool truncate(std::uint64_t) override { return false; }
    std::optional<fs::FileInfo> info() override { return std::nullopt; }
    // The stream stays open for whatever the process says after.
    bool close() override { return true; }
};

}  // namespace

std::unique_ptr<fs::File> standardOutput() {
    if (!outputOpen()) return nullptr;
    return std::make_unique<StandardOutput>();
}

}  // namespace cli
