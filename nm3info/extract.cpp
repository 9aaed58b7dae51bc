#include "nm3info/extract.h"

#include <cinttypes>

#include "cli/text.h"
#include "format/records.h"
#include "fs/copy.h"
#include "nm3info/verdict.h"

namespace nm3info {

Extracted extractMember(fs::FileSystem& files, fs::File& archive, std::uint64_t number, fs::File& out) {
    // Member m runs from end m - 1 (0 for the index) to end m.
    std::uint64_t members = 0;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    const unpacker::ArchiveLayout layout = unpacker::scanArchive(archive, [&](const std::vector<std::uint32_t>& ends) {
        for (const std::uint32_t memberEnd : ends) {
            if (members + 1 == number) start = memberEnd;
            if (members == number) end = memberEnd;
            ++members;
        }
        return unpacker::ArchiveFault::none;
    });
    const Judgement judgement = judge(layout);
    if (judgement.verdict != Verdict::sound) return {false, judgement.reason};
    if (number >= members) {
        return {false, cli::formatText("no member %" PRIu64 ": it has %" PRIu64 ", numbered from 0", number, members)};
    }
    const char* const unreadable = "can't be read";
    if (!archive.seek(format::archiveHeaderSize + std::uint64_t{start})) return {false, unreadable};
    fs::BlockReader reader(files, archive, fs::Block(fs::BlockReader::capacity));
    const fs::CopyResult copy = fs::copyBlocks(reader, out, end - start);
    if (copy.outcome == fs::CopyResult::Outcome::writeError) return {true, ""};
    // The size was checked, so an archive that ends early changed meanwhile.
    if (copy.outcome == fs::CopyResult::Outcome::readError || copy.copied < end - start) return {false, unreadable};
    return {};
}

}  // namespace nm3info
