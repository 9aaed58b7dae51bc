// nm3info's runs on hand-made archives, sound and damaged, in memory; and
// one on disk whose members pass 4 GiB.
#include "nm3info/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fs/host_file_system.h"
#include "testing/archives.h"
#include "testing/memory_file_system.h"
#include "testing/text_transcript.h"

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace {

using namespace testsupport;

const Bytes index = memberBytes("NIDX", 58, 30, 1);
const Bytes route = memberBytes("RTE0", 16, 50, 2);
const Bytes more = memberBytes("MORE", 16, 14, 3);
const Bytes west = archiveOf({index, route, more});

// Every archive the rows name, in /maps, the working directory.
void addArchives(testsupport::MemoryFileSystem& files) {
    files.setCurrentDir("/maps");
    files.addFile("/maps/west.nm3", west);
    files.addFile("/maps/\xff\x01.nm3", west);
    // An old index, an empty member, a tag to escape, bytes after the footer.
    files.addFile("/maps/odd.nm3", archiveOf({memberBytes("NIDX", 57, 0), "", memberBytes("R\x01\\\xff", 15, 2)}) + "\x01\x02");
    files.addFile("/maps/short.nm3", Bytes("GNM3\0\0\0", 7));
    files.addFile("/maps/gnm4.nm3", "GNM4" + west.substr(4));
    files.addFile("/maps/past.nm3", headerOf(200) + index + route);
    files.addFile("/maps/bare.nm3", headerOf(92) + index + route);
    files.addFile("/maps/tiny.nm3", headerOf(92) + index + route + "ab");
    files.addFile("/maps/cut.nm3", headerOf(92) + index + route + u32le(36) + "\x01\x02\x03");
    files.addFile("/maps/order.nm3", headerOf(112) + index + route + more + u32le(92) + u32le(36));
    files.addFile("/maps/noindex.nm3", archiveOf({memberBytes("NIDY", 58, 30), route}));
    files.addFile("/maps/stub.nm3", headerOf(0) + u32le(0));
    // A footer of more pieces than one, read between the members' headers.
    std::vector<Bytes> many{memberBytes("NIDX", 58, 0)};
    many.resize(20001, memberBytes("MMMM", 16, 0));
    files.addFile("/maps/many.nm3", archiveOf(many));
}

enum class Output { open, gone, closed };

struct Row {
    std::vector<std::string> args;  // after the program's name
    std::string out{};
    std::string err{};
    int status = 0;
    Output output = Output::open;
    bool ending = false;  // `out` is only how standard output ends
    std::string streamIs{};  // the archive that standard output is, to the file system
};

const std::string westListing =
    "west.nm3:\n"
    " member      offset        size  tag   version  name\n"
    "      0          12          36  NIDX       58  index.058.nti\n"
    "      1          48          56  RTE0       16  west_00000.nm2\n"
    "      2         104          20  MORE       16  west_00001.nm2\n"
    "3 members, 112 payload bytes, 132 bytes: sound\n";

TEST(Nm3info, Rows) {
    const std::vector<Row> rows{
        {{"west.nm3"}, westListing},
        {{"-l", "odd.nm3", "noindex.nm3", "gnm4.nm3"},
         "odd.nm3:\n"
         " member      offset        size  tag   version  name\n"
         "      0          12           6  NIDX       57  index.057.nti  (version below 58)\n"
         "      1          18           0  -           -  odd_00000.nm2  (shorter than a header)\n"
         "      2          18           8  R\\x01\\\\\\xFF       15  odd_00001.nm2  (version below 16)\n"
         "note: 2 bytes after the footer\n"
         "3 members, 14 payload bytes, 36 bytes: sound, with notes\n"
         "\n"
         "noindex.nm3:\n"
         " member      offset        size  tag   version  name\n"
         "      0          12          36  NIDY       58  index.058.nti\n"
         "      1          48          56  RTE0       16  noindex_00000.nm2\n"
         "2 members, 92 payload bytes, 108 bytes: damaged (its index member is not an index (no NIDX tag))\n"
         "\n"
         "gnm4.nm3:\n"
         "damaged (not an NM3 archive)\n",
         "nm3info: noindex.nm3: its index member is not an index (no NIDX tag)\n"
         "nm3info: gnm4.nm3: not an NM3 archive\n", 1},
        {{"many.nm3"},
         "  20000      120012           6  MMMM       16  many_19999.nm2\n"
         "20001 members, 120006 payload bytes, 200018 bytes: sound\n", "", 0, Output::open, true},
        {{"stub.nm3"},
         "stub.nm3:\n"
         " member      offset        size  tag   version  name\n"
         "      0          12           0  -           -  -  (shorter than a header)\n"
         "      1          12           0  -           -  stub_00000.nm2  (shorter than a header)\n"
         "2 members, 0 payload bytes, 16 bytes: damaged (its index member is shorter than its header)\n",
         "nm3info: stub.nm3: its index member is shorter than its header\n", 1},
        {{"--json", "west.nm3", "odd.nm3", "--", "\xff\x01.nm3", "-l"},
         "{\"archives\": [\n"
         "  {\"path\": \"west.nm3\", \"members\": [\n"
         "    {\"number\": 0, \"name\": \"index.058.nti\", \"offset\": 12, \"size\": 36, \"tag\": \"NIDX\", \"version\": 58, \"note\": null},\n"
         "    {\"number\": 1, \"name\": \"west_00000.nm2\", \"offset\": 48, \"size\": 56, \"tag\": \"RTE0\", \"version\": 16, \"note\": null},\n"
         "    {\"number\": 2, \"name\": \"west_00001.nm2\", \"offset\": 104, \"size\": 20, \"tag\": \"MORE\", \"version\": 16, \"note\": null}\n"
         "  ], \"count\": 3, \"payload\": 112, \"size\": 132, \"verdict\": \"sound\", \"reason\": null, \"note\": null},\n"
         "  {\"path\": \"odd.nm3\", \"members\": [\n"
         "    {\"number\": 0, \"name\": \"index.057.nti\", \"offset\": 12, \"size\": 6, \"tag\": \"NIDX\", \"version\": 57, \"note\": \"version below 58\"},\n"
         "    {\"number\": 1, \"name\": \"odd_00000.nm2\", \"offset\": 18, \"size\": 0, \"tag\": null, \"version\": null, \"note\": \"shorter than a header\"},\n"
         "    {\"number\": 2, \"name\": \"odd_00001.nm2\", \"offset\": 18, \"size\": 8, \"tag\": \"R\\\\x01\\\\\\\\\\\\xFF\", \"version\": 15, \"note\": \"version below 16\"}\n"
         "  ], \"count\": 3, \"payload\": 14, \"size\": 36, \"verdict\": \"sound\", \"reason\": null, \"note\": \"2 bytes after the footer\"},\n"
         "  {\"path\": \"\xef\xbf\xbd\\u0001.nm3\", \"members\": [\n"
         "    {\"number\": 0, \"name\": \"index.058.nti\", \"offset\": 12, \"size\": 36, \"tag\": \"NIDX\", \"version\": 58, \"note\": null},\n"
         "    {\"number\": 1, \"name\": \"\xef\xbf\xbd\\u0001_00000.nm2\", \"offset\": 48, \"size\": 56, \"tag\": \"RTE0\", \"version\": 16, \"note\": null},\n"
         "    {\"number\": 2, \"name\": \"\xef\xbf\xbd\\u0001_00001.nm2\", \"offset\": 104, \"size\": 20, \"tag\": \"MORE\", \"version\": 16, \"note\": null}\n"
         "  ], \"count\": 3, \"payload\": 112, \"size\": 132, \"verdict\": \"sound\", \"reason\": null, \"note\": null},\n"
         "  {\"path\": \"-l\", \"members\": [], \"count\": null, \"payload\": null, \"size\": null, \"verdict\": \"unreadable\", \"reason\": \"no such file\", \"note\": null}\n"
         "]}\n",
         "nm3info: -l: no such file\n", 1},
        {{"-t", "west.nm3", "odd.nm3", "\xff\x01.nm3"}, "", "", 0},
        {{"-t", "short.nm3", "gnm4.nm3", "past.nm3", "bare.nm3", "tiny.nm3", "cut.nm3", "order.nm3", "noindex.nm3",
          "stub.nm3", "none.nm3", "/maps", "west.nm3"},
         "",
         "nm3info: short.nm3: shorter than an NM3 header\n"
         "nm3info: gnm4.nm3: not an NM3 archive\n"
         "nm3info: past.nm3: its members run past the end of the file\n"
         "nm3info: bare.nm3: no footer after its members\n"
         "nm3info: tiny.nm3: its footer is shorter than one entry\n"
         "nm3info: cut.nm3: its footer is cut short\n"
         "nm3info: order.nm3: its footer's member offsets are out of order or past the members\n"
         "nm3info: noindex.nm3: its index member is not an index (no NIDX tag)\n"
         "nm3info: stub.nm3: its index member is shorter than its header\n"
         "nm3info: none.nm3: no such file\n"
         "nm3info: /maps: a directory, not an archive\n", 1},
        {{"-x", "2", "west.nm3"}, more},
        {{"-x1", "odd.nm3"}, ""},
        {{"-x", "3", "west.nm3"}, "", "nm3info: west.nm3: no member 3: it has 3, numbered from 0\n", 1},
        {{"-x", "0", "noindex.nm3"}, "", "nm3info: noindex.nm3: its index member is not an index (no NIDX tag)\n", 1},
        {{"-q", "west.nm3"}, "", "nm3info: unknown option -q\nTry 'nm3info --help'.\n", 2},
        {{"-V"}, "nm3info " NM3INFO_VERSION "\n"},
        // Standard output that takes nothing ends the run quietly; a check
        // needs none.
        {{"west.nm3", "gnm4.nm3"}, "", "", 1, Output::gone},
        {{"-x", "0", "west.nm3"}, "", "", 1, Output::gone},
        {{"west.nm3"}, "", "", 1, Output::closed},
        {{"-t", "west.nm3", "gnm4.nm3"}, "", "nm3info: gnm4.nm3: not an NM3 archive\n", 1, Output::closed},
        // An archive that the output would be written into is not read.
        {{"-x", "1", "west.nm3"}, "", "nm3info: west.nm3: the output goes into it\n", 1, Output::open, false,
         "west.nm3"},
        {{"-t", "gnm4.nm3", "west.nm3"}, "",
         "nm3info: gnm4.nm3: not an NM3 archive\nnm3info: west.nm3: the output goes into it\n", 1, Output::open,
         false, "west.nm3"},
    };
    for (const Row& row : rows) {
        testsupport::MemoryFileSystem files;
        addArchives(files);
        if (!row.streamIs.empty()) files.setStandardStream(1, "/maps/" + row.streamIs);
        const auto before = files.snapshot();
        testsupport::MemoryFileSystem streams;
        std::unique_ptr<fs::File> out = streams.openToWrite("/out").file;
        // A file open only to read takes no write.
        if (row.output == Output::gone) out = streams.openRead("/out", nullptr);
        if (row.output == Output::closed) out.reset();
        testsupport::TextTranscript errors;
        std::vector<std::string> args{"nm3info"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const int status = nm3info::run(args, files, {out.get(), errors}, cli::OptionStyle::dash);
        SCOPED_TRACE(args[1] + " " + args.back());
        EXPECT_EQ(status, row.status);
        const std::string said = streams.bytesOf("/out").value_or("(none)");
        EXPECT_EQ(row.ending ? said.substr(said.size() - std::min(said.size(), row.out.size())) : said, row.out);
        EXPECT_EQ(errors.text(), row.err);
        EXPECT_EQ(files.snapshot(), before);
        EXPECT_EQ(files.openFiles(), 0u);
    }
}

// Offsets past 4 GiB, on a sparse file: a member of almost 4 GiB, then one
// that starts past 2^32.
TEST(Nm3info, MembersBeyondFourGibibytes) {
    testsupport::ScratchDir scratch;
    const std::string path = scratch / "big.nm3";
    const std::uint32_t lastStart = 0xFFFFFFF9;
    {
        std::ofstream file(path, std::ios::binary);
        file << headerOf(0xFFFFFFFF) << index << memberBytes("HUGE", 16, 0);
        file.seekp(12 + std::streamoff{lastStart});
        file << memberBytes("LAST", 17, 0) << u32le(36) << u32le(lastStart);
    }
    testsupport::MemoryFileSystem streams;
    const std::unique_ptr<fs::File> out = streams.openToWrite("/out").file;
    testsupport::TextTranscript errors;
    const nm3info::Streams into{out.get(), errors};
    ASSERT_EQ(nm3info::run({"nm3info", path}, fs::hostFileSystem(), into, cli::OptionStyle::dash), 0) << errors.text();
    EXPECT_EQ(streams.bytesOf("/out"), path + ":\n"
              " member      offset        size  tag   version  name\n"
              "      0          12          36  NIDX       58  index.058.nti\n"
              "      1          48  4294967253  HUGE       16  big_00000.nm2\n"
              "      2  4294967301           6  LAST       17  big_00001.nm2\n"
              "3 members, 4294967295 payload bytes, 4294967315 bytes: sound\n");
    ASSERT_TRUE(out->seek(0) && out->truncate(0));
    EXPECT_EQ(nm3info::run({"nm3info", "-x", "2", path}, fs::hostFileSystem(), into, cli::OptionStyle::dash), 0);
    EXPECT_EQ(streams.bytesOf("/out"), memberBytes("LAST", 17, 0));
    EXPECT_EQ(errors.text(), "");
}

}  // namespace
