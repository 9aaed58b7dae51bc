#include "testing/safety.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "cli/transcript.h"
#include "packer/pack.h"
#include "testing/memory_file_system.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "unpacker/unpack.h"

namespace safety {

namespace {

using Tree = std::map<std::string, std::string>;

class Choices {
public:
    explicit Choices(std::string_view bytes) : bytes_(bytes) {}
    unsigned below(std::size_t count) {
        const unsigned byte = at_ < bytes_.size() ? static_cast<unsigned char>(bytes_[at_]) : 0;
        ++at_;
        return static_cast<unsigned>(byte % count);
    }
    template <typename T>
    const T& of(const std::vector<T>& options) {
        return options[below(options.size())];
    }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

std::string member(const char* tag, unsigned version, std::size_t body, unsigned seed) {
    std::string bytes(tag, 4);
    bytes += static_cast<char>(version & 0xFF);
    bytes += static_cast<char>(version >> 8);
    for (std::size_t i = 0; i < body; ++i) bytes += static_cast<char>(seed * 31 + i * 7);
    return bytes;
}

std::string parentOf(const std::string& path) { return path.substr(0, std::max<std::size_t>(path.rfind('/'), 1)); }
std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool isNm2(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".nm2";
}

// The order members are packed in: letters folded to upper case, ties
// broken by the exact bytes.
bool packedBefore(const std::string& left, const std::string& right) {
    const auto folded = [](std::string name) {
        for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return name;
    };
    const std::string a = folded(left);
    const std::string b = folded(right);
    return a != b ? a < b : left < right;
}

// What a file is, by the numbers the tree gives it, which the tree keeps
// even where it doesn't let the programs trust them.
using Id = std::optional<std::pair<std::uint64_t, std::uint64_t>>;

Id idOf(const fs::FileInfo& status) {
    if (status.kind == fs::Kind::missing) return std::nullopt;
    return std::pair{status.id.device, status.id.inode};
}

Id idOf(testsupport::MemoryFileSystem& files, const std::string& path) { return idOf(files.info(path)); }

// Adds a symbolic or hard link, as chosen; a hard link can't be made to a
// directory or to nothing, and a name already taken stays as it is.
void addLink(testsupport::MemoryFileSystem& files, Choices& choose, const std::string& path,
             const std::string& target) {
    if (files.snapshot().count(path) != 0) return;
    try {
        if (choose.below(3) == 0 && files.info(target).kind == fs::Kind::file) {
            files.addHardLink(target, path);
        } else {
            // Half of the links in the same folder say where they lead
            // relative to it.
            const bool relative = parentOf(path) == parentOf(target) && choose.below(2) == 0;
            files.addSymlink(path, relative ? nameOf(target) : target);
        }
    } catch (const std::invalid_argument&) {
    }
}

// Paths added, removed or changed.
std::vector<std::string> changed(const Tree& before, const Tree& after) {
    std::set<std::string> paths;
    for (const auto& [path, what] : before) paths.insert(path);
    for (const auto& [path, what] : after) paths.insert(path);
    std::vector<std::string> differ;
    for (const std::string& path : paths) {
        const auto was = before.find(path);
        const auto is = after.find(path);
        if (was == before.end() || is == after.end() || was->second != is->second) differ.push_back(path);
    }
    return differ;
}

struct Run {
    bool failed = false;
    std::string said;
};

std::string describe(const Tree& tree) {
    std::string text;
    for (const auto& [path, what] : tree) {
        text += "  " + path + " = " +
                (what.starts_with("-> ") || what.starts_with("<") ? what : std::to_string(what.size()) + " bytes") +
                "\n";
    }
    return text;
}

// ---- the packer ----

// A member header of at least `minVersion`.
bool headerValid(const std::optional<std::string>& bytes, unsigned minVersion) {
    if (!bytes || bytes->size() < 6) return false;
    const unsigned low = static_cast<unsigned char>((*bytes)[4]);
    const unsigned high = static_cast<unsigned char>((*bytes)[5]);
    return (low | high << 8) >= minVersion;
}

std::string checkPack(Choices& choose) {
    testsupport::MemoryFileSystem files;
    files.addDir("/w/other");
    const std::string atlas = "/w/atlas";
    files.addFile(atlas + "/atlas.nti", member("NIDX", 58 + choose.below(4), choose.below(9), 1));
    files.addFile(atlas + "/route.nm2", member("RTE1", 16 + choose.below(4), choose.below(9), 2));
    const std::vector<std::string> memberNames{"a.nm2", "B.nm2", "c.NM2", "notes.txt"};
    for (unsigned k = 0, count = choose.below(4); k < count; ++k) {
        files.addFile(atlas + "/" + memberNames[k], member("MAP2", 16 + k, choose.below(9), 3 + k));
    }
    if (choose.below(2) == 0) files.addDir(atlas + "/sub.nm2");
    files.addFile("/w/other/x.nm2", member("MAP2", 20, 3, 9));
    files.addFile("/w/old.nm3", "GNM3 an older archive");

    // Links anywhere, to anything, links included.
    std::vector<std::string> targets{
        atlas + "/atlas.nti", atlas + "/route.nm2", atlas + "/a.nm2", atlas,        "/w/other/x.nm2",
        "/w/old.nm3",         atlas + "/new.nm2",   "/w/other/new",   "/w/new.nm3", "/w/other"};
    const std::vector<std::string> places{atlas + "/l", "/w/l", "/w/other/l"};
    for (unsigned k = 0, count = choose.below(5); k < count; ++k) {
        const std::string path = choose.of(places) + std::to_string(k) + (choose.below(2) == 0 ? ".nm2" : "");
        addLink(files, choose, path, choose.of(targets));
        targets.push_back(path);
    }

    // A member link that leads nowhere yet, its target spelt any way.
    if (choose.below(3) == 0) {
        const std::vector<std::string> spellings{"../out.nm3", "/w/./out.nm3",        "../atlas/../out.nm3",
                                                 "../new.nm3", "/w/other/../new.nm3", "./z2.nm2"};
        files.addSymlink(atlas + "/z.nm2", choose.of(spellings));
    }

    std::vector<std::string> outs{
        "/w/out.nm3",      "out.nm3",        "/w/old.nm3", "atlas/new.nm2",      "atlas/out.nm3", atlas + "/atlas.nti",
        "atlas/route.nm2", atlas + "/a.nm2", atlas,        "/w/missing/out.nm3", "/w/new.nm3",    "atlas/z2.nm2"};
    outs.insert(outs.end(), targets.begin() + 10, targets.end());
    const std::string outGiven = choose.of(outs);
    std::optional<std::string> operand;
    std::string workingDir = "/w";
    switch (choose.below(4)) {
    case 0: workingDir = atlas; break;
    case 1: operand = "atlas"; break;
    case 2: operand = atlas + "/"; break;
    default:
        files.addSymlink("/w/atlas-link", "atlas");
        operand = "/w/atlas-link";
        break;
    }
    files.setCurrentDir(workingDir);
    const std::string index = choose.below(6) == 0 ? "l0.nm2" : "atlas.nti";
    const std::string route = choose.below(6) == 0 ? "l1" : "route.nm2";
    const packer::Job job{index, route, outGiven, operand};

    // What a listing doesn't tell: a file bound over another name, files on
    // another device than their folder, a device whose numbers can't be
    // trusted; and what keeps the output from being made: another run's
    // lock, or a standard stream that is the file.
    if (choose.below(3) == 0) {
        const std::vector<std::string> sources{"/w/other/x.nm2", "/w/old.nm3", atlas + "/atlas.nti", atlas + "/a.nm2"};
        const std::vector<std::string> points{atlas + "/a.nm2", atlas + "/B.nm2", "/w/old.nm3", atlas + "/route.nm2"};
        try {
            const std::string& source = choose.of(sources);
            files.mount(source, choose.of(points));
        } catch (const std::invalid_argument&) {
        }
    }
    if (choose.below(3) == 0) {
        for (const std::string& path :
             {atlas + "/a.nm2", atlas + "/B.nm2", std::string("/w/old.nm3"), atlas + "/route.nm2"}) {
            if (choose.below(2) == 0 && files.info(path).kind == fs::Kind::file) files.setDevice(path, 2);
        }
    }
    const bool unnumbered = choose.below(8) == 0;
    if (unnumbered) files.setUnnumbered(1);
    const unsigned held = choose.below(8);
    if (held == 0 || held == 1) files.lockElsewhere("/w/old.nm3", held == 1);
    if (held == 2) files.setStandardStream(2, "/w/old.nm3");

    // What the rules say, worked out before the run.
    const Tree before = files.snapshot();
    const std::string out = fs::lexicalFullPath(outGiven, workingDir, fs::PathStyle::posix);
    std::string atlasDir = operand ? fs::lexicalFullPath(*operand, workingDir, fs::PathStyle::posix) : workingDir;
    if (atlasDir.size() > 1 && atlasDir.back() == '/') atlasDir.pop_back();
    const std::string indexPath = atlasDir + "/" + index;
    const std::string routePath = atlasDir + "/" + route;
    const fs::FileInfo outStatus = files.info(out);
    const std::string outTarget = files.followLinks(out).target;
    const Id atlasId = idOf(files, atlasDir);
    const Id indexId = idOf(files, indexPath);
    const Id routeId = idOf(files, routePath);
    const Id outId = idOf(outStatus);

    const bool earlyFailure = files.info(atlasDir).kind != fs::Kind::directory ||
                              files.info(indexPath).kind == fs::Kind::missing ||
                              files.info(routePath).kind == fs::Kind::missing;
    bool namesInput = outStatus.kind == fs::Kind::missing
                          ? idOf(files, parentOf(outTarget)) == atlasId && isNm2(nameOf(outTarget))
                          : outId == indexId || outId == routeId;
    bool otherFailure = earlyFailure || !headerValid(files.bytesOf(indexPath), 58) ||
                        !headerValid(files.bytesOf(routePath), 16) || outStatus.kind == fs::Kind::directory ||
                        files.info(parentOf(outTarget)).kind != fs::Kind::directory;
    std::vector<std::string> expected;  // the members, in the archive's order
    if (!otherFailure) expected = {*files.bytesOf(indexPath), *files.bytesOf(routePath)};
    std::vector<std::string> listed;
    for (const auto& [path, what] : before) {
        if (isNm2(nameOf(path)) && idOf(files, parentOf(path)) == atlasId) listed.push_back(nameOf(path));
    }
    std::sort(listed.begin(), listed.end(), packedBefore);
    for (const std::string& name : listed) {
        const std::string path = atlasDir + "/" + name;
        const fs::FileInfo status = files.info(path);
        if (status.kind == fs::Kind::directory) continue;
        if (outId && idOf(status) == outId) {
            namesInput = true;
        }
        // A link that leads where the archive will be, by the folder it
        // leads into and its last name, names an input; one that leads
        // nowhere can't be opened.
        if (status.kind == fs::Kind::missing && outStatus.kind == fs::Kind::missing) {
            const std::string leads = files.followLinks(path).target;
            if (idOf(files, parentOf(leads)) == idOf(files, parentOf(outTarget)) &&
                nameOf(leads) == nameOf(outTarget)) {
                namesInput = true;
            }
        }
        if (status.kind != fs::Kind::file) otherFailure = true;
        if (idOf(status) == indexId || idOf(status) == routeId) continue;
        expected.push_back(files.bytesOf(path).value_or(""));
    }
    namesInput = namesInput && !earlyFailure;
    // The output another run holds, or the run's own stream: refused before
    // anything changes.
    const bool outputHeld = !earlyFailure && !namesInput && held < 3 && outId && outId == idOf(files, "/w/old.nm3");
    std::set<std::string> outputNames{out, outTarget};
    for (const auto& [path, what] : before) {
        if (outStatus.kind == fs::Kind::file && !what.starts_with("-> ") && idOf(files, path) == outId) {
            outputNames.insert(path);
        }
    }

    testsupport::TextTranscript transcript;
    testsupport::RecordingGuard guard;
    const cli::Outcome failed = packer::pack(job, files, transcript, guard);
    const Run run{failed.has_value(), transcript.text() + (failed ? failed->message : "")};
    const Tree after = files.snapshot();

    const std::string context = "\npack -i:" + index + " -r:" + route + " -o:" + outGiven +
                                (operand ? " " + *operand : "") + " in " + workingDir + "\nbefore:\n" +
                                describe(before) + "after:\n" + describe(after) + "transcript:\n" + run.said;
    const auto broken = [&](const std::string& what) { return what + context; };

    if (files.openFiles() != 0) return broken("file left open");
    for (const std::string& path : changed(before, after)) {
        const auto was = before.find(path);
        const auto is = after.find(path);
        if (outputNames.count(path) == 0) return broken("changed though not the archive: " + path);
        if (run.failed) {
            if (was == before.end()) return broken("a failed pack left a new file: " + path);
            if (is != after.end() && !is->second.empty()) return broken("a failed pack rewrote " + path);
        }
    }
    if (run.failed) {
        for (const auto& [path, what] : after) {
            const auto was = before.find(path);
            if (what.starts_with("GNM3") && (was == before.end() || was->second != what)) {
                return broken("a failed pack left archive bytes in " + path);
            }
        }
    }
    if (namesInput) {
        if (!run.failed || !run.said.ends_with(".\n") || run.said.find(" Error open file ") == std::string::npos) {
            return broken("the output names an input, yet the packer didn't refuse it");
        }
        if (after != before) return broken("refused, but not before anything changed");
        if (run.said.find(" file [") != std::string::npos) return broken("refused only once packing had begun");
        return {};
    }
    // Without file numbers a file that may be another is refused rather
    // than packed on a guess.
    const bool refusedUnsure = unnumbered && run.failed && run.said.find(" Error open file ") != std::string::npos;
    if (outputHeld && !refusedUnsure) {
        if (!run.failed || run.said.find(" Error: Can't create file: ") == std::string::npos) {
            return broken("the output is held elsewhere or a stream, yet the packer didn't refuse it");
        }
        if (after != before) return broken("refused, but not before anything changed");
        return {};
    }
    if (refusedUnsure && !otherFailure) return {};
    if (run.failed != otherFailure) return broken(otherFailure ? "succeeded, yet it can't" : "failed, yet it can't");
    if (run.failed) return {};

    // The archive unpacks back to the members; the packer doesn't look at
    // the index's tag, which the unpacker needs.
    if (!expected.front().starts_with("NIDX")) return {};
    testsupport::MemoryFileSystem unpacked;
    unpacked.addFile("/a.nm3", files.bytesOf(out).value_or(""));
    testsupport::TextTranscript said;
    if (unpacker::unpack(unpacker::Job{"/a.nm3"}, unpacked, said)) return broken("the archive doesn't unpack");
    std::vector<std::string> members;
    for (const auto& [path, what] : unpacked.snapshot()) {
        if (path.starts_with("/a.nm2/")) members.push_back(what);
    }
    // The index's name sorts after the numbered members': it comes first.
    std::rotate(members.begin(), members.end() - 1, members.end());
    if (members != expected) return broken("the archive doesn't unpack to the members");
    return {};
}

// ---- the unpacker ----

std::string checkUnpack(Choices& choose) {
    testsupport::MemoryFileSystem files;
    files.addDir("/w/other");
    files.addFile("/w/other/y", "a user's file");
    const std::string index = member("NIDX", 60, choose.below(5), 1);
    const std::string route = member("RTE1", 16, choose.below(5), 2);
    auto le = [](std::size_t value) {
        std::string bytes;
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(value >> shift);
        return bytes;
    };
    const std::string archive = "GNM3" + le(0) + le(index.size() + route.size()) + index + route + le(index.size());
    const std::string folder = "/w/west.nm2";
    const std::string given = "/w/west.nm3";

    // The folder: missing, a folder of old files and links, a file, or a link
    // to a folder (the archive's own included).
    switch (choose.below(5)) {
    case 0: break;
    case 1: files.addFile(folder, "not a folder"); break;
    case 2: files.addSymlink(folder, choose.below(2) == 0 ? "/w/other" : "/w"); break;
    default:
        files.addDir(folder + "/sub");
        files.addFile(folder + "/sub/deep", "stays");
        files.addFile(folder + "/west_00001.nm2", "old");
    }
    // Where the archive really is, and the chain of links from the name
    // given to it.
    const std::vector<std::string> homes{given, folder + "/data", "/w/other/real.nm3", folder + "/west_00000.nm2",
                                         folder + "/index.060.nti"};
    const std::string home = choose.of(homes);
    try {
        files.addFile(home, archive);
    } catch (const std::invalid_argument&) {
        files.addFile(given, archive);
    }
    std::string reached = given;
    if (files.bytesOf(given) != archive) {
        const std::vector<std::string> hops{folder + "/lnk", "/w/other/lnk", folder + "/west_00000.nm2"};
        std::string next = home;
        for (unsigned k = 0, count = choose.below(3); k < count; ++k) {
            const std::string hop = choose.of(hops);
            if (files.snapshot().count(hop) != 0) continue;
            try {
                files.addSymlink(hop, next);
                next = hop;
            } catch (const std::invalid_argument&) {
            }
        }
        files.addSymlink(given, next);
    }
    // Other names in the folder: of the archive, of a user's file, links to
    // them, to folders, and to nothing.
    const std::vector<std::string> targets{home, "/w/other/y", "/w/other", folder + "/gone", given};
    for (unsigned k = 0, count = choose.below(4); k < count; ++k) {
        const std::string name =
            choose.below(2) == 0 ? "west_0000" + std::to_string(k) + ".nm2" : "n" + std::to_string(k);
        addLink(files, choose, folder + "/" + name, choose.of(targets));
    }
    const bool relative = choose.below(2) == 0;
    files.setCurrentDir("/w");

    // What a listing doesn't tell: the archive bound over a member's name,
    // the folder's files on another device than the folder, a folder that
    // can be written but not listed; and what keeps the archive from being
    // read: another run's lock, or a standard stream that is the archive.
    const bool folderMade = files.info(folder).kind == fs::Kind::directory;
    const std::string covered = folder + "/west_00000.nm2";
    if (folderMade && choose.below(4) == 0 && home != covered) {
        const fs::FileInfo there = files.info(covered, fs::Links::notFollowed);
        try {
            if (there.kind == fs::Kind::missing) files.addFile(covered, "covered");
            if (files.info(covered, fs::Links::notFollowed).kind == fs::Kind::file) files.mount(given, covered);
        } catch (const std::invalid_argument&) {
        }
    }
    if (folderMade && choose.below(3) == 0) {
        for (const auto& [path, what] : files.snapshot()) {
            if (parentOf(path) == folder && files.info(path, fs::Links::notFollowed).kind == fs::Kind::file) {
                files.setDevice(path, 2);
            }
        }
    }
    const bool unlistable = folderMade && choose.below(4) == 0;
    if (unlistable) files.setUnlistable(folder);
    const unsigned held = choose.below(8);
    if (held == 0 || held == 1) files.lockElsewhere(given, held == 1);
    if (held == 2) files.setStandardStream(2, given);

    const Tree before = files.snapshot();
    const fs::FileInfo folderStatus = files.info(folder);
    const Id archiveId = idOf(files, given);
    std::vector<Id> chain;
    for (const fs::FileInfo& link : files.followLinks(given).links) chain.push_back(idOf(link));
    bool expectFailure = folderStatus.kind == fs::Kind::file ||
                         (folderStatus.kind == fs::Kind::missing && !files.followLinks(folder).links.empty());
    // Sub-folders stay, and a member can't be created over one.
    for (const char* name : {"/index.060.nti", "/west_00000.nm2"}) {
        if (files.info(folder + name).kind == fs::Kind::directory) expectFailure = true;
    }
    // Another run writing the archive, or the run's words going into it.
    if (held == 1 || held == 2) expectFailure = true;
    std::vector<std::string> kept;  // names in the folder that must stay
    for (const auto& [path, what] : before) {
        if (folderStatus.kind != fs::Kind::directory || idOf(files, parentOf(path)) != idOf(folderStatus)) continue;
        const std::vector<fs::FileInfo> own = files.followLinks(path).links;
        const bool link = what.starts_with("-> ");
        const bool keep = unlistable || (link ? std::find(chain.begin(), chain.end(), idOf(own.front())) != chain.end()
                                              : idOf(files, path) == archiveId);
        if (!keep) continue;
        kept.push_back(path);
        const std::string name = nameOf(path);
        if (name != "index.060.nti" && name != "west_00000.nm2") continue;
        // A member's name still taken is written over only when it is a
        // file of its own: never a link, the archive, or a file with another
        // name.
        const fs::FileInfo status = files.info(path);
        if (link || idOf(status) == archiveId || status.links > 1) expectFailure = true;
    }

    testsupport::TextTranscript transcript;
    const cli::Outcome failed = unpacker::unpack(unpacker::Job{relative ? "west.nm3" : given}, files, transcript);
    const Run run{failed.has_value(), transcript.text() + (failed ? failed->message : "")};
    const Tree after = files.snapshot();
    const std::string context = std::string("\nunpack ") + (relative ? "west.nm3" : given) + " in /w\nbefore:\n" +
                                describe(before) + "after:\n" + describe(after) + "transcript:\n" + run.said;
    const auto broken = [&](const std::string& what) { return what + context; };

    if (files.openFiles() != 0) return broken("file left open");
    if (files.bytesOf(given) != archive) return broken("the archive is gone from the name given, or changed");
    const fs::FileInfo folderAfter = files.info(folder);
    for (const std::string& path : changed(before, after)) {
        const auto was = before.find(path);
        const bool own = folderAfter.kind == fs::Kind::directory && idOf(files, parentOf(path)) == idOf(folderAfter) &&
                         (was == before.end() || was->second != "<dir>");
        if (!own && path != folder) return broken("changed though not the folder's own: " + path);
    }
    for (const std::string& path : kept) {
        if (after.count(path) == 0) return broken("emptying deleted " + path + ", the archive or a link to it");
    }
    if (run.failed != expectFailure) return broken(expectFailure ? "succeeded, yet it can't" : "failed, yet it can't");
    if (!run.failed &&
        (files.bytesOf(folder + "/index.060.nti") != index || files.bytesOf(folder + "/west_00000.nm2") != route)) {
        return broken("the members are not the archive's");
    }
    return {};
}

}  // namespace

std::string checkCase(std::string_view choices) {
    Choices choose(choices);
    return choose.below(2) == 0 ? checkPack(choose) : checkUnpack(choose);
}

}  // namespace safety
