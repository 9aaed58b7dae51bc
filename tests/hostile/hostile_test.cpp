// Inputs built to hurt, end to end: archives whose size claims billions of
// members or reaches the 32-bit limits (sparse files, so nothing is on disk),
// members that are empty, huge, or change while they are packed, and folders
// crowded with entries of every kind and awkward names. Every run must end in
// success or one defined message, within seconds, with its memory far below
// the size the input claims.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "testing/archives.h"
#include "testing/paused.h"
#include "testing/run.h"
#include "testing/scratch.h"
#include "testing/transcripts.h"

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace {

namespace stdfs = std::filesystem;
// printf-style text for expected output, written here rather than taken
// from the programs.
template <typename... Values>
std::string formatText(const char* format, Values... values) {
    const int length = std::snprintf(nullptr, 0, format, values...);
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}
using namespace testsupport;

// What a run may use whatever its input claims: the sanitizers' own memory
// and a little more. The inputs below claim 4 GiB and more.
constexpr long memoryBoundKb = 64 * 1024;

// In a sanitized build freed memory is held back for a while to catch its
// later use, which would count in a child's peak; the children measured
// here keep none.
const bool quarantineOff = [] {
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string value = std::string(options != nullptr ? options : "") + ":quarantine_size_mb=0";
    return ::setenv("ASAN_OPTIONS", value.c_str(), 1) == 0;
}();
constexpr double timeBoundSeconds = 10;

constexpr std::uint64_t fourGiB = std::uint64_t{1} << 32;

// `bytes` followed by a hole up to `size` bytes.
void writeSparse(const std::string& path, const Bytes& bytes, std::uint64_t size) {
    writeFile(path, bytes);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
}

// Compares archives by size and then by their bytes, without printing them.
void expectArchive(const std::string& path, const Bytes& expected) {
    const Bytes actual = readFile(path);
    EXPECT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(actual == expected) << path;
}

// A run with its duration and its peak resident set size.
struct Measured : RunResult {
    long peakKb = -1;
    double seconds = 0;
};

Measured measured(const std::string& program, const std::vector<std::string>& args,
                  const testsupport::RunOptions& options) {
    const testsupport::ScratchDir reports;
    std::vector<std::string> wrapped{reports / "peak", program};
    wrapped.insert(wrapped.end(), args.begin(), args.end());
    Measured result;
    const auto started = std::chrono::steady_clock::now();
    static_cast<RunResult&>(result) = testsupport::runProgram(PEAK_MEMORY_PATH, wrapped, options);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (testsupport::fileExists(reports / "peak")) result.peakKb = std::stol(readFile(reports / "peak"));
    return result;
}

void expectBounded(const Measured& run) {
    ASSERT_TRUE(quarantineOff);
    EXPECT_FALSE(run.timedOut);
    EXPECT_LT(run.seconds, timeBoundSeconds);
    EXPECT_GT(run.peakKb, 0);
    EXPECT_LT(run.peakKb, memoryBoundKb);
}

class HostileArchive : public ::testing::Test {
protected:
    Measured unpack() const { return measured(UNVESKAL_PATH, {archive}, testsupport::timeoutAfter(60)); }

    std::string start() const {
        return testsupport::banner + "NM3 file name : " + archive + "\nFolder path   : " + folder + "\n";
    }
    static std::string sizeLine(std::uint64_t fileSize) {
        return formatText("Check NM3 tag - Ok\n - fileSize = [0x%08llx]\n", static_cast<unsigned long long>(fileSize));
    }
    static std::string sizes(std::uint64_t fileSize, std::uint64_t footerSize) {
        return sizeLine(fileSize) +
               formatText(" - footerSize (count) = [%llu]\n", static_cast<unsigned long long>(footerSize));
    }

    // Unpacks the archive, expecting `lines` after the folder line and then
    // `message`, with nothing extracted, in bounded time and memory.
    void expectRefused(const std::string& lines, const char* message) const {
        const Measured run = unpack();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start() + lines + formatText(message, archive.c_str()));
        EXPECT_EQ(snapshot(folder), (std::map<std::string, Bytes>{}));
        expectBounded(run);
    }

    testsupport::ScratchDir dir;
    const std::string archive = dir / "west.nm3";
    const std::string folder = dir / "west.nm2";
    const Bytes index = memberBytes("NIDX", 58, 24, 1);
    const Bytes route = memberBytes("RTE0", 16, 44, 2);
    const Bytes payload = index + route;
    const std::uint32_t offsetFooter = static_cast<std::uint32_t>(payload.size());
    const Bytes head = headerOf(offsetFooter) + payload;
};

TEST_F(HostileArchive, FootersClaimingTwoToTheThirtyTwoMinusOneMembers) {
    const std::uint64_t claimed = 0xFFFFFFFFull;
    const std::uint64_t full = 12 + offsetFooter + 4 * claimed;

    // The first entry lies beyond the payload; the second goes back.
    writeSparse(archive, head + u32le(offsetFooter + 1), full);
    expectRefused(sizes(full, claimed), " Error invalid footer file %s.\n");
    writeSparse(archive, head + u32le(30) + u32le(29), full);
    expectRefused(sizes(full, claimed), " Error invalid footer file %s.\n");
    // A wrong entry deep inside, past the first pieces of the footer.
    writeSparse(archive, head + Bytes(4 * 100000, '\0') + u32le(offsetFooter + 1), full);
    expectRefused(sizes(full, claimed), " Error invalid footer file %s.\n");

    // Cut one byte short, the footer is short whatever its entries say.
    writeSparse(archive, head + u32le(offsetFooter + 1), full - 1);
    expectRefused(sizes(full - 1, claimed), " Error read footer file %s.\n");
    // Three bytes more make 2^32 entries, more than 32 bits count.
    writeSparse(archive, head + u32le(offsetFooter + 1), full + 3);
    expectRefused(sizes(full + 3, claimed + 1), " Error calculate footerSize file %s.\n");
}

TEST_F(HostileArchive, FooterGoingBackWhereAPieceOfItBeginsIsFound) {
    // The footer is read 16384 entries at a time; the order holds across.
    for (const std::size_t before : {16383u, 16384u, 16385u, 32768u}) {
        Bytes footer;
        for (std::size_t i = 0; i < before; ++i) footer += u32le(30);
        const Bytes bytes = head + footer + u32le(29) + u32le(31);
        writeFile(archive, bytes);
        expectRefused(sizes(bytes.size(), before + 2), " Error invalid footer file %s.\n");
    }
}

TEST_F(HostileArchive, OffsetsAtTheThirtyTwoBitLimit) {
    // Members said to fill 4 GiB of a small file.
    writeFile(archive, headerOf(0xFFFFFFFF) + payload + u32le(10));
    expectRefused(sizeLine(12 + payload.size() + 4), " Error get filesize file %s.\n");

    // A file that does hold 4 GiB - 2 bytes of members: the footer's one
    // entry past them, then at their very end, where the index's tag isn't.
    const std::uint32_t largest = 0xFFFFFFFE;
    const std::uint64_t size = 12 + std::uint64_t{largest} + 4;
    writeSparse(archive, headerOf(largest), size);
    {
        std::FILE* file = std::fopen(archive.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        const Bytes entry = u32le(0xFFFFFFFF);
        ASSERT_EQ(::pwrite(::fileno(file), entry.data(), entry.size(), static_cast<off_t>(12 + std::uint64_t{largest})), 4);
        std::fclose(file);
    }
    expectRefused(sizes(size, 1), " Error invalid footer file %s.\n");
    {
        std::FILE* file = std::fopen(archive.c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        const Bytes entry = u32le(largest);
        ASSERT_EQ(::pwrite(::fileno(file), entry.data(), entry.size(), static_cast<off_t>(12 + std::uint64_t{largest})), 4);
        std::fclose(file);
    }
    expectRefused(sizes(size, 1), " No valid index in file: %s.\n");
}

TEST_F(HostileArchive, EmptyAndFourGibibyteSparseFiles) {
    writeFile(archive, "");
    expectRefused("", " Error reading header file %s.\n");
    writeSparse(archive, "", fourGiB);
    expectRefused("", " Not NM3 file: %s.\n");
    // A 4 GiB archive whose footer goes wrong at once.
    writeSparse(archive, head + u32le(0xFFFFFFFF), fourGiB);
    expectRefused(sizes(fourGiB, (fourGiB - offsetFooter - 11) / 4), " Error invalid footer file %s.\n");
    // Past 4 GiB the size still counts in 64 bits.
    writeSparse(archive, head + u32le(0xFFFFFFFF), 5 * fourGiB);
    expectRefused(sizes(5 * fourGiB, (5 * fourGiB - offsetFooter - 11) / 4), " Error calculate footerSize file %s.\n");
}

class HostileAtlas : public ::testing::Test {
protected:
    HostileAtlas() {
        stdfs::create_directory(atlas);
        writeFile(atlas + "/atlas.nti", index);
        writeFile(atlas + "/route.nm2", route);
    }

    Measured pack(int timeoutSeconds = 60) const {
        testsupport::RunOptions options;
        options.workingDir = dir.path();
        options.timeoutSeconds = timeoutSeconds;
        return measured(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options);
    }

    std::string start() const {
        return testsupport::banner + " - working Dir: " + dir.path() + "\n - atlas Dir  : " + atlas +
               "\n - indexFile: " + atlas + "/atlas.nti\n - routeFile: " + atlas + "/route.nm2\n - outFile  : " + out +
               "\n";
    }
    std::string line(const char* kind, const std::string& name) const {
        return std::string("   - ") + kind + " [" + atlas + "/" + name + "]";
    }
    std::string indexLine() const { return line("  nti file", "atlas.nti") + " - Ok\n"; }
    std::string routeLine() const { return line("route file", "route.nm2") + " - Ok\n"; }

    // A failed run: its message ends the transcript, and no archive is left.
    void expectFailed(const Measured& run, const std::string& transcript) const {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, transcript);
        EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(out)));
        expectBounded(run);
    }

    testsupport::ScratchDir dir;
    const std::string atlas = dir / "atlas";
    const std::string out = dir / "atlas.nm3";
    const Bytes index = memberBytes("NIDX", 60, 40, 1);
    const Bytes route = memberBytes("RTE1", 16, 30, 2);
};

TEST_F(HostileAtlas, EmptyMembersCantBePacked) {
    writeFile(atlas + "/atlas.nti", "");
    expectFailed(pack(), start() + " Error read nti header file " + atlas + "/atlas.nti.\n");
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", "");
    expectFailed(pack(), start() + indexLine() + " Error read nm2 header file " + atlas + "/route.nm2.\n");
    writeFile(atlas + "/route.nm2", route);
    writeFile(atlas + "/empty.nm2", "");
    expectFailed(pack(), start() + indexLine() + routeLine() + " Error read nm2 header file " + atlas + "/empty.nm2.\n");
}

TEST_F(HostileAtlas, FourGibibyteSparseMembersAreRefusedBeforeTheyAreCopied) {
    writeSparse(atlas + "/atlas.nti", index, fourGiB);
    expectFailed(pack(), start() + " Error archive exceeds 4 GiB file " + atlas + "/atlas.nti.\n");
    writeFile(atlas + "/atlas.nti", index);
    writeSparse(atlas + "/zz.nm2", memberBytes("MAP2", 16, 0), fourGiB);
    expectFailed(pack(), start() + indexLine() + routeLine() + " Error archive exceeds 4 GiB file " + atlas +
                             "/zz.nm2.\n");
}

TEST_F(HostileAtlas, MembersThatChangeWhileTheyArePacked) {
    // Members long enough that their lines go out before their copies. The
    // run is held in the write that follows the copy of a.nm2 and carries
    // the line of big.nm2: big.nm2 is open, its header read, none of the rest
    // copied.
    const Bytes first = memberBytes("LONG", 16, 200000, 6);
    const Bytes big = memberBytes("BIGG", 16, 300000, 3);
    const Bytes after = memberBytes("ZZZZ", 16, 10, 4);
    const std::string held = start() + indexLine() + routeLine() + line("  nm2 file", "a.nm2");
    const auto packChanging = [&](const std::function<void()>& change) {
        writeFile(atlas + "/a.nm2", first);
        writeFile(atlas + "/big.nm2", big);
        writeFile(atlas + "/zz.nm2", after);
        testsupport::RunOptions options;
        options.workingDir = dir.path();
        options.timeoutSeconds = 20;
        return testsupport::runPausedAfter(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options,
                                           held.size(), [&](int pid) {
                                               EXPECT_TRUE(testsupport::waitUntilWriting(pid));
                                               change();
                                           });
    };
    const std::string bigLine = held + " - Ok\n" + line("  nm2 file", "big.nm2");
    const std::string done = bigLine + " - Ok\n" + line("  nm2 file", "zz.nm2") + " - Ok\n";

    // What the member holds when it is copied is what the archive holds, and
    // the footer agrees with it.
    const Bytes grown = big + memberBytes("MORE", 1, 5000, 5);
    RunResult run = packChanging([&] { writeFile(atlas + "/big.nm2", grown); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, done);
    expectArchive(out, archiveOf({index, route, first, grown, after}));

    run = packChanging([&] { ASSERT_EQ(::truncate((atlas + "/big.nm2").c_str(), 1000), 0); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, done);
    expectArchive(out, archiveOf({index, route, first, big.substr(0, 1000), after}));

    // Emptied after its header was read: the header alone is the member.
    run = packChanging([&] { ASSERT_EQ(::truncate((atlas + "/big.nm2").c_str(), 0), 0); });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, done);
    expectArchive(out, archiveOf({index, route, first, big.substr(0, 6), after}));
}

// Names with spaces, bytes beyond ASCII and leading dashes.
std::string awkwardName(int i) {
    switch (i % 4) {
    case 0:
        return formatText("m %04d map.nm2", i);
    case 1:
        return formatText("m\xC3\xA9\xE2\x82\xAC%04d.nm2", i);
    case 2:
        return formatText("-m%04d.NM2", i);
    default:
        return formatText("--%04d -h.nm2", i);
    }
}

TEST_F(HostileAtlas, TenThousandEntriesOfEveryKind) {
    std::map<std::string, Bytes> members;  // what the archive holds, by name
    int entries = 2;                        // the index and the route file
    const auto add = [&](int count, const std::function<void(int)>& make) {
        for (int i = 0; i < count; ++i) make(i);
        entries += count;
    };
    add(2000, [&](int i) {
        const Bytes bytes = memberBytes("MAP2", static_cast<std::uint16_t>(16 + i), static_cast<std::size_t>(i % 7), i);
        writeFile(atlas + "/" + awkwardName(i), bytes);
        members[awkwardName(i)] = bytes;
    });
    add(2000, [&](int i) { writeFile(atlas + formatText("/x%04d.nm2.bak", i), "not a member"); });
    add(2000, [&](int i) { stdfs::create_directory(atlas + formatText("/d%04d.nm2", i)); });
    add(1000, [&](int i) { stdfs::create_directory_symlink(atlas + "/d0000.nm2", atlas + formatText("/ld%04d.nm2", i)); });
    add(1000, [&](int i) {
        stdfs::create_symlink(awkwardName(i), atlas + formatText("/lm%04d.nm2", i));
        members[formatText("lm%04d.nm2", i)] = members[awkwardName(i)];
    });
    // The index and the route file under other names are stored once.
    add(999, [&](int i) {
        stdfs::create_symlink(i % 2 == 0 ? "route.nm2" : "atlas.nti", atlas + formatText("/lr%04d.nm2", i));
    });
    add(999, [&](int i) { ASSERT_EQ(::mkfifo((atlas + formatText("/f%04d.fifo", i)).c_str(), 0644), 0); });
    ASSERT_EQ(entries, 10000);
    const auto before = snapshot(atlas);

    std::vector<std::string> names;
    for (const auto& member : members) names.push_back(member.first);
    std::sort(names.begin(), names.end(), packedBefore);
    std::vector<Bytes> stored{index, route};
    std::string lines = start() + indexLine() + routeLine();
    for (const std::string& name : names) {
        stored.push_back(members[name]);
        lines += line("  nm2 file", name) + " - Ok\n";
    }
    const Measured run = pack();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, lines);
    expectArchive(out, archiveOf(stored));
    EXPECT_LT(run.seconds, 30);
    EXPECT_LT(run.peakKb, memoryBoundKb);
    EXPECT_TRUE(snapshot(atlas) == before);

    // A FIFO, or a link that leads nowhere, named as a member can't be
    // opened: the run fails at once rather than wait for a writer.
    ASSERT_EQ(::mkfifo((atlas + "/~pipe.nm2").c_str(), 0644), 0);
    const Measured fifo = pack();
    EXPECT_EQ(fifo.status, 1);
    EXPECT_TRUE(fifo.err.ends_with(" - Ok\n Error open file " + atlas + "/~pipe.nm2.\n")) << fifo.err.substr(fifo.err.size() - 200);
    EXPECT_FALSE(stdfs::exists(out));
    expectBounded(fifo);
    stdfs::remove(atlas + "/~pipe.nm2");
    stdfs::create_symlink("nowhere", atlas + "/~dangling.nm2");
    const Measured dangling = pack();
    EXPECT_EQ(dangling.status, 1);
    EXPECT_TRUE(dangling.err.ends_with(" - Ok\n Error open file " + atlas + "/~dangling.nm2.\n"));
    EXPECT_FALSE(stdfs::exists(out));
}

TEST_F(HostileAtlas, AwkwardNamesForTheFolderTheOptionsAndTheArchive) {
    // Run from inside the folder so that names beginning with a dash can be
    // given as operands in the form ./name.
    const std::string folder = dir / "-my atlas \xC3\xA9";
    stdfs::create_directory(folder);
    const Bytes more = memberBytes("MAP2", 20, 9, 3);
    writeFile(folder + "/-index \xE2\x82\xAC.nti", index);
    writeFile(folder + "/-route x.nm2", route);
    writeFile(folder + "/ more.nm2", more);
    testsupport::RunOptions options;
    options.workingDir = dir.path();
    const RunResult packed = testsupport::runProgram(
        VESKAL_PATH, {"-i:-index \xE2\x82\xAC.nti", "-r:-route x.nm2", "-o:- out \xC3\xA9.nm3", "./-my atlas \xC3\xA9"},
        options);
    EXPECT_EQ(packed.status, 0) << packed.err;
    const std::string archive = dir / "- out \xC3\xA9.nm3";
    expectArchive(archive, archiveOf({index, route, more}));

    const RunResult unpacked = testsupport::runProgram(UNVESKAL_PATH, {"./- out \xC3\xA9.nm3"}, options);
    EXPECT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(snapshot(dir / "- out \xC3\xA9.nm2"), (std::map<std::string, Bytes>{
                                                        {"index.060.nti", index},
                                                        {"- out \xC3\xA9_00000.nm2", route},
                                                        {"- out \xC3\xA9_00001.nm2", more},
                                                    }));
}

TEST_F(HostileAtlas, CrowdedOutputFolderIsEmptiedOfAllButDirectories) {
    const std::string archive = dir / "west.nm3";
    const std::string folder = dir / "west.nm2";
    const Bytes more = memberBytes("MAP2", 20, 9, 3);
    writeFile(archive, archiveOf({index, route, more}));
    stdfs::create_directory(folder);
    writeFile(atlas + "/target.txt", "a link's target stays");
    std::map<std::string, Bytes> kept{{"index.060.nti", index}, {"west_00000.nm2", route}, {"west_00001.nm2", more}};
    for (int i = 0; i < 2500; ++i) {
        writeFile(folder + "/" + awkwardName(i), "old");
        ASSERT_EQ(::mkfifo((folder + formatText("/f%04d.nm2", i)).c_str(), 0644), 0);
        stdfs::create_symlink(atlas + "/target.txt", folder + formatText("/l%04d", i));
        if (i % 2 == 0) {
            stdfs::create_directory(folder + formatText("/d%04d", i));
            kept[formatText("d%04d", i)] = "<dir>";
        } else {
            stdfs::create_directory_symlink(atlas, folder + formatText("/ld%04d", i));
            kept[formatText("ld%04d", i)] = "-> " + atlas;
        }
    }
    const Measured run = measured(UNVESKAL_PATH, {archive}, testsupport::timeoutAfter(60));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.seconds, 30);
    EXPECT_LT(run.peakKb, memoryBoundKb);
    // snapshot() doesn't follow the links to the atlas folder.
    EXPECT_TRUE(snapshot(folder) == kept);
    EXPECT_EQ(readFile(atlas + "/target.txt"), "a link's target stays");
}

}  // namespace
