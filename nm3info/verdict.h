// What an archive's reading comes to, in plain words.
#pragma once

#include <string>

#include "fs/file_system.h"
#include "unpacker/archive_reader.h"

namespace nm3info {

enum class Verdict { sound, damaged, unreadable };

struct Judgement {
    Verdict verdict = Verdict::sound;
    std::string reason;  // unless sound
};

// Sound exactly when unveskal would go on to write the members.
[[nodiscard]] Judgement judge(const unpacker::ArchiveLayout& layout);

// Whether the footer was read whole and in order, so that every member was
// visited.
[[nodiscard]] bool footerWhole(unpacker::ArchiveFault fault);

// The archive at `path` opened to be read, shared with other readers only,
// as unveskal opens it; without a file, why it can't be.
struct Opened {
    std::unique_ptr<fs::File> file;
    std::string reason;
};
[[nodiscard]] Opened openArchive(fs::FileSystem& files, const std::string& path);

}  // namespace nm3info
