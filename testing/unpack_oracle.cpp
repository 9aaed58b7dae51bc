#include "testing/unpack_oracle.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>

#include "cli/transcript.h"
#include "nm3info/run.h"
#include "testing/memory_file_system.h"
#include "testing/text_transcript.h"
#include "unpacker/unpack.h"

namespace oracle {

namespace {

const std::string workingDir = "/maps";
const std::string archivePath = "/maps/west.nm3";
const std::string folder = "/maps/west.nm2";

std::uint32_t u32At(std::string_view bytes, std::size_t at) {
    const auto byte = [&](std::size_t i) { return std::uint32_t{static_cast<unsigned char>(bytes[at + i])}; };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The names in `dir`, sorted.
std::vector<std::string> namesIn(const testsupport::MemoryFileSystem& files, const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& [path, contents] : files.snapshot()) {
        if (!path.starts_with(dir + "/")) continue;
        const std::string name = path.substr(dir.size() + 1);
        if (name.find('/') == std::string::npos) names.push_back(name);
    }
    return names;
}

std::string numbered(const char* format, unsigned number) {
    char name[32];
    std::snprintf(name, sizeof name, format, number);
    return name;
}

// On success: the members in the order the unpacker names them, together
// exactly the payload, each as long as its footer entries say.
const char* extractedWrong(const testsupport::MemoryFileSystem& files, std::string_view archive) {
    const std::uint32_t offsetFooter = u32At(archive, 8);
    const std::uint64_t count = (archive.size() - offsetFooter - 11) / 4;
    const unsigned version = static_cast<unsigned char>(archive[16]) | static_cast<unsigned char>(archive[17]) << 8;
    std::vector<std::string> names{numbered("index.%03u.nti", version)};
    for (std::uint64_t k = 0; k < count; ++k) names.push_back(numbered("west_%05u.nm2", static_cast<unsigned>(k)));
    std::vector<std::string> sorted = names;
    sorted.push_back("kept");
    std::sort(sorted.begin(), sorted.end());
    if (namesIn(files, folder) != sorted) return "extracted files are not the members";

    std::uint32_t start = 0;
    for (std::uint64_t k = 0; k <= count; ++k) {
        const std::uint32_t end = k < count ? u32At(archive, 12 + offsetFooter + 4 * k) : offsetFooter;
        const std::optional<std::string> member = files.bytesOf(folder + "/" + names[k]);
        if (!member || *member != archive.substr(12 + start, end - start)) return "member bytes differ";
        start = end;
    }
    return nullptr;
}

// Every failure the unpacker can report about this archive in memory: nothing
// fails there and the archive doesn't change while it is read, so neither a
// member file's message nor a read error during a copy may appear.
const char* const failureFormats[] = {" Error reading header file %s.\n",   " Not NM3 file: %s.\n",
                                      " Error get filesize file %s.\n",     " Error calculate footerSize file %s.\n",
                                      " Error read footer file %s.\n",      " Error invalid footer file %s.\n",
                                      " Error fread nti header file %s.\n", " No valid index in file: %s.\n"};

std::string failureText(const char* format, const std::string& path) {
    const std::string_view text = format;
    const std::size_t at = text.find("%s");
    return std::string(text.substr(0, at)) + path + std::string(text.substr(at + 2));
}

}  // namespace

std::optional<std::string> unpackFailure(std::string_view archive, const std::string& path) {
    const auto failure = [&](int which) { return failureText(failureFormats[which], path); };
    const std::size_t size = archive.size();
    if (size < 12) return failure(0);
    if (archive.substr(0, 4) != "GNM3") return failure(1);
    const std::uint32_t offsetFooter = u32At(archive, 8);
    if (size - 12 <= offsetFooter) return failure(2);
    const std::uint64_t count = (size - offsetFooter - 11) / 4;
    if (count == 0) return failure(3);
    if (12 + offsetFooter + 4 * count > size) return failure(4);
    std::uint32_t previous = 0;
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t start = u32At(archive, 12 + offsetFooter + 4 * k);
        if (start < previous || start > offsetFooter) return failure(5);
        previous = start;
    }
    if (size < 18) return failure(6);
    if (archive.substr(12, 4) != "NIDX") return failure(7);
    return std::nullopt;
}

std::string checkUnpack(std::string_view archive) {
    testsupport::MemoryFileSystem files;
    files.addDir(workingDir);
    files.setCurrentDir(workingDir);
    files.addFile(archivePath, archive);
    files.addDir(folder + "/kept");
    files.addFile(folder + "/west_00000.nm2", "old");

    // nm3info -t first, on the same tree, which it must leave as it was.
    const std::map<std::string, std::string> before = files.snapshot();
    testsupport::TextTranscript tested;
    const int testStatus =
        nm3info::run({"nm3info", "-t", "west.nm3"}, files, {nullptr, tested}, cli::OptionStyle::dash);
    const bool untouched = files.snapshot() == before && files.openFiles() == 0;

    testsupport::TextTranscript said;
    const cli::Outcome failed = unpacker::unpack(unpacker::Job{"west.nm3"}, files, said);
    const std::string transcript = said.text() + (failed ? failed->message : "");
    const auto broken = [&](const char* what) {
        return std::string(what) + "\ntranscript:\n" + transcript + "nm3info -t:\n" + tested.text();
    };

    if (!untouched) return broken("nm3info -t changed a file or left one open");
    if ((testStatus == 0) == failed.has_value()) return broken("nm3info -t and the unpacker disagree");
    if (occurrences(tested.text(), "\n") != (failed ? 1u : 0u)) return broken("nm3info -t said other than one line");

    if (files.bytesOf(archivePath) != archive) return broken("archive changed");
    if (files.info(folder + "/kept").kind != fs::Kind::directory) return broken("sub-folder removed");
    if (files.openFiles() != 0) return broken("file left open");
    if (files.bytesOf(folder + "/west_00000.nm2") == "old") return broken("old file kept");
    std::size_t messages = 0;
    for (const char* format : failureFormats) messages += occurrences(transcript, failureText(format, archivePath));

    const std::optional<std::string> expected = unpackFailure(archive, archivePath);
    if (failed.has_value() != expected.has_value()) return broken("success or failure not as the bytes call for");
    if (expected) {
        if (!transcript.ends_with(*expected)) return broken("another message");
        if (messages != 1) return broken("failure without exactly one message");
        if (namesIn(files, folder) != std::vector<std::string>{"kept"}) {
            return broken("member written before the archive was checked");
        }
        return {};
    }
    if (messages != 0) return broken("success with a failure message");
    if (!transcript.ends_with(" - Ok\n")) return broken("success without the last member's line");
    if (const char* wrong = extractedWrong(files, archive)) return broken(wrong);
    return {};
}

}  // namespace oracle
