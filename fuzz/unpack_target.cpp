// Fuzz target: the input is an archive, unpacked by the unpacker's own run
// on the file system held in memory. Beside the sanitizers' findings, the
// run must keep the archive as it was and end in one of two ways: success
// with the members, concatenated in order, equal to the archive's payload,
// or status 1 after exactly one of the unpacker's messages, which ends the
// transcript; which of the two, and which message, the archive's bytes
// decide, as worked out here independently of the unpacker.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <map>

#include "console/text.h"
#include "console/transcript.h"
#include "fs/memory_file_system.h"
#include "unpacker/messages.h"
#include "unpacker/unpack.h"

namespace {

const std::string workingDir = "/maps";
const std::string archivePath = "/maps/west.nm3";
const std::string folder = "/maps/west.nm2";

std::string transcript;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\ntranscript:\n%s\n", what, transcript.c_str());
    std::abort();
}

// The names in `dir`, sorted.
std::vector<std::string> namesIn(const fs::MemoryFileSystem& files, const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& [path, contents] : files.snapshot()) {
        if (path.rfind(dir + "/", 0) != 0) continue;
        const std::string name = path.substr(dir.size() + 1);
        if (name.find('/') == std::string::npos) names.push_back(name);
    }
    return names;
}

void require(bool condition, const char* what) {
    if (!condition) fail(what);
}

std::uint32_t u32At(const std::uint8_t* data, std::size_t at) {
    return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
           std::uint32_t{data[at + 3]} << 24;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Every failure the unpacker can report about this archive. Nothing fails in
// memory and the archive doesn't change while it is read, so every failure
// is found by the checks before extraction: neither the member files'
// messages nor a read error during a copy may appear.
std::vector<std::string> failureTexts() {
    std::vector<std::string> texts{unpacker::text::notDirectory};
    for (const char* format :
         {unpacker::text::notFound, unpacker::text::seekStart, unpacker::text::shortHeader,
          unpacker::text::notArchive, unpacker::text::seekEnd, unpacker::text::badFileSize,
          unpacker::text::badFooterSize, unpacker::text::noTableMemory, unpacker::text::seekFooter,
          unpacker::text::shortFooter, unpacker::text::invalidFooter, unpacker::text::seekIndexFirst,
          unpacker::text::shortIndexHeader, unpacker::text::badIndexTag, unpacker::text::seekIndexSecond}) {
        texts.push_back(console::formatText(format, archivePath.c_str()));
    }
    return texts;
}

// On success: the members in the order the unpacker names them, together
// exactly the payload, each as long as its footer entries say.
void checkExtracted(const fs::MemoryFileSystem& files, const std::uint8_t* data, std::size_t size) {
    require(size >= 18 && std::string(reinterpret_cast<const char*>(data), 4) == "GNM3", "success without a header");
    require(std::string(reinterpret_cast<const char*>(data) + 12, 4) == "NIDX", "success without an index tag");
    const std::uint32_t offsetFooter = u32At(data, 8);
    require(size - 12 > offsetFooter, "success with a file too short for its members");
    const std::uint64_t count = (size - offsetFooter - 11) / 4;
    require(count >= 1 && 12 + offsetFooter + 4 * count <= size, "success with a footer cut short");

    const unsigned version = data[16] | data[17] << 8;
    std::vector<std::string> names{console::formatText("index.%03u.nti", version)};
    for (std::uint64_t k = 0; k < count; ++k) {
        names.push_back(console::formatText("west_%05u.nm2", static_cast<unsigned>(k)));
    }
    std::vector<std::string> sorted = names;
    sorted.push_back("kept");
    std::sort(sorted.begin(), sorted.end());
    require(namesIn(files, folder) == sorted, "extracted files are not the members");

    std::uint32_t start = 0;
    for (std::uint64_t k = 0; k <= count; ++k) {
        const std::uint32_t end = k < count ? u32At(data, 12 + offsetFooter + 4 * k) : offsetFooter;
        require(start <= end && end <= offsetFooter, "success with a footer out of order");
        const std::optional<std::string> member = files.bytesOf(folder + "/" + names[k]);
        require(member && member->size() == end - start, "member of the wrong length");
        require(std::equal(member->begin(), member->end(), reinterpret_cast<const char*>(data) + 12 + start),
                "member bytes differ");
        start = end;
    }
}

// The one outcome the archive's bytes call for, worked out the plain way:
// the message's format, or nullptr for success.
const char* expectedFailure(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return unpacker::text::shortHeader;
    if (std::string(reinterpret_cast<const char*>(data), 4) != "GNM3") return unpacker::text::notArchive;
    const std::uint32_t offsetFooter = u32At(data, 8);
    if (size - 12 <= offsetFooter) return unpacker::text::badFileSize;
    const std::uint64_t count = (size - offsetFooter - 11) / 4;
    if (count == 0) return unpacker::text::badFooterSize;
    if (12 + offsetFooter + 4 * count > size) return unpacker::text::shortFooter;
    std::uint32_t previous = 0;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t start = u32At(data, 12 + offsetFooter + 4 * k);
        if (start < previous || start > offsetFooter) return unpacker::text::invalidFooter;
        previous = start;
    }
    if (size < 18) return unpacker::text::shortIndexHeader;
    if (std::string(reinterpret_cast<const char*>(data) + 12, 4) != "NIDX") return unpacker::text::badIndexTag;
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::MemoryFileSystem files;
    files.addDir(workingDir);
    files.setCurrentDir(workingDir);
    const std::string archive(reinterpret_cast<const char*>(data), size);
    files.addFile(archivePath, archive);
    // A folder left from an earlier run: its files go, its sub-folder stays.
    files.addDir(folder + "/kept");
    files.addFile(folder + "/west_00000.nm2", "old");

    console::TextTranscript said;
    const console::Outcome failed = unpacker::unpack(cli::UnpackJob{"west.nm3"}, files, said);
    transcript = said.text() + (failed ? failed->message : "");
    const int status = failed ? 1 : 0;

    require(files.bytesOf(archivePath) == archive, "archive changed");
    require(files.status(folder + "/kept").kind == fs::Kind::directory, "sub-folder removed");
    require(files.openFiles() == 0, "file left open");
    require(files.bytesOf(folder + "/west_00000.nm2") != "old", "old file kept");
    std::size_t messages = 0;
    std::string last;
    for (const std::string& text : failureTexts()) {
        messages += occurrences(transcript, text);
        if (endsWith(transcript, text)) last = text;
    }
    const char* expected = expectedFailure(data, size);
    require((status == 0) == (expected == nullptr), "success or failure not as the bytes call for");
    if (expected != nullptr) require(last == console::formatText(expected, archivePath.c_str()), "another message");
    if (status == 0) {
        require(messages == 0, "success with a failure message");
        require(endsWith(transcript, " - Ok\n"), "success without the last member's line");
        checkExtracted(files, data, size);
    } else {
        require(status == 1, "status neither 0 nor 1");
        require(messages == 1 && !last.empty(), "failure without exactly one message at the end");
        require(namesIn(files, folder) == std::vector<std::string>{"kept"},
                "member written before the archive was checked");
    }
    return 0;
}
