#include "nm3info/survey.h"

#include "cli/text.h"

namespace nm3info {

namespace {

// The members' walk through the footer's ends.
struct Walk {
    fs::File& archive;
    const std::string& baseName;
    const MemberSink& sink;
    std::uint64_t number = 0;
    std::uint32_t start = 0;
    bool noted = false;
};

// The member's header, and the name unveskal gives it. The index is named
// from the six bytes at its start, as unveskal reads them, however short
// it is. False when bytes that are there can't be read.
bool readMember(const Walk& walk, Member& member) {
    if (member.number > 0) {
        const auto nm2 = static_cast<unsigned>(member.number - 1);
        member.name = cli::formatText("%s_%05u.nm2", walk.baseName.c_str(), nm2);
        if (member.size < format::memberHeaderSize) return true;
    }
    format::MemberHeaderBytes bytes{};
    if (!walk.archive.seek(member.offset)) return false;
    const std::optional<std::size_t> got = walk.archive.read(bytes.data(), bytes.size());
    if (!got) return false;
    const bool whole = *got == bytes.size();
    if (member.size >= format::memberHeaderSize) {
        if (!whole) return false;
        member.header = format::decodeMemberHeader(bytes);
    }
    if (member.number == 0 && whole) {
        member.name = cli::formatText("index.%03u.nti", unsigned{format::decodeMemberHeader(bytes).version});
    }
    return true;
}

Note noteOn(const Member& member) {
    if (!member.header) return Note::noHeader;
    const std::uint16_t lowest = member.number == 0 ? format::minIndexVersion : format::minNm2Version;
    return member.header->version < lowest ? Note::oldVersion : Note::none;
}

unpacker::ArchiveFault visit(Walk& walk, const std::vector<std::uint32_t>& ends) {
    for (const std::uint32_t end : ends) {
        Member member;
        member.number = walk.number;
        member.offset = format::archiveHeaderSize + std::uint64_t{walk.start};
        member.size = end - walk.start;
        if (!readMember(walk, member)) return unpacker::ArchiveFault::stopped;
        member.note = noteOn(member);
        walk.noted = walk.noted || member.note != Note::none;
        if (!walk.sink(member)) return unpacker::ArchiveFault::stopped;
        ++walk.number;
        walk.start = end;
    }
    return unpacker::ArchiveFault::none;
}

}  // namespace

std::string baseNameOf(fs::FileSystem& files, const std::string& path) {
    const fs::PathStyle style = files.style();
    // Named from the full path, as unveskal names them; a path that can't
    // be placed keeps its own last part.
    const std::optional<std::string> workingDir =
        fs::isAbsolute(path, style) ? std::optional<std::string>(std::string()) : files.currentDir();
    const std::string full = workingDir ? files.fullPath(path, *workingDir) : std::string();
    return fs::splitPath(full.empty() ? path : full, style).name;
}

Survey surveyArchive(fs::File& archive, const std::string& baseName, const MemberSink& sink) {
    Walk walk{archive, baseName, sink};
    const unpacker::ArchiveLayout layout = unpacker::scanArchive(archive, [&](const std::vector<std::uint32_t>& ends) {
        return sink ? visit(walk, ends) : unpacker::ArchiveFault::none;
    });
    Survey survey{judge(layout)};
    survey.visited = walk.number;
    survey.listed = footerWhole(layout.fault);
    if (!survey.listed) return survey;
    survey.members = layout.footerSize + 1;
    survey.payload = layout.offsetFooter;
    survey.size = layout.fileSize;
    survey.trailing =
        layout.fileSize - format::archiveHeaderSize - layout.offsetFooter - layout.footerSize * format::footerEntrySize;
    survey.noted = walk.noted || survey.trailing > 0;
    return survey;
}

}  // namespace nm3info
