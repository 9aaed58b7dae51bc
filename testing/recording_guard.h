// An output guard for runs in memory: it records what an interrupt would
// cut and delete, while it would.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "packer/output_guard.h"

namespace testsupport {

class RecordingGuard : public packer::OutputGuard {
public:
    std::unique_ptr<fs::File> create(fs::FileSystem& files, const std::string& path, std::string& madeAt) override {
        std::unique_ptr<fs::File> file = files.createOutput(path, madeAt);
        if (!file) return nullptr;
        guarded_ = {path};
        if (!madeAt.empty()) guarded_.push_back(madeAt);
        return file;
    }
    bool close(fs::File& output) override { return output.close(); }
    void forget() override { guarded_.clear(); }
    void keep() override { guarded_.clear(); }

    // The output's path, then the file made through a link; empty while
    // nothing is guarded.
    [[nodiscard]] const std::vector<std::string>& guarded() const { return guarded_; }

private:
    std::vector<std::string> guarded_;
};

}  // namespace testsupport
