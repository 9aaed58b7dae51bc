// An archive read and checked as unveskal reads it, with its members
// visited in order as the footer is read, none of them kept.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "format/records.h"
#include "fs/file_system.h"
#include "nm3info/verdict.h"

namespace nm3info {

// What unveskal takes but veskal never writes: a member too short for its
// header, or of a version below the lowest it packs.
enum class Note { none, noHeader, oldVersion };

struct Member {
    std::uint64_t number = 0;  // 0 the index, 1 the route file, ...
    std::uint64_t offset = 0;  // of its first byte in the archive
    std::uint64_t size = 0;
    std::optional<format::MemberHeader> header;  // none when shorter than one
    std::string name;                            // what unveskal names it; empty when it can't
    Note note = Note::none;
};

// Given each member in turn; false ends the survey.
using MemberSink = std::function<bool(const Member&)>;

struct Survey {
    Judgement judgement;
    bool listed = false;        // the footer was read whole: every member was visited
    std::uint64_t visited = 0;  // members handed to the sink
    std::uint64_t members = 0;  // these four once listed
    std::uint64_t payload = 0;
    std::uint64_t size = 0;
    std::uint64_t trailing = 0;  // bytes after the footer's last whole entry
    bool noted = false;          // a member's note, or trailing bytes
};

// The name unveskal gives the members of the archive at `path`.
[[nodiscard]] std::string baseNameOf(fs::FileSystem& files, const std::string& path);

// Reads and checks `archive`. With a sink, every member is read for its
// header, named with `baseName` and handed to `sink`; without one only the
// header, footer and index header are read.
[[nodiscard]] Survey surveyArchive(fs::File& archive, const std::string& baseName, const MemberSink& sink);

}  // namespace nm3info
