// The packer's procedure run in memory, row by row: what it says, how it
// ends, and every file it leaves.
#include "packer/pack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "testing/archives.h"
#include "testing/memory_file_system.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "testing/transcripts.h"

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace {

using namespace testsupport;

const Bytes nti = memberBytes("NIDX", 58, 30, 1);
const Bytes route = memberBytes("RTE0", 16, 50, 2);
const Bytes more = memberBytes("MORE", 16, 4, 3);

const std::string atlas = "/w/atlas";
const std::string ntiPath = atlas + "/atlas.nti";
const std::string routePath = atlas + "/route.nm2";
const std::vector<std::string> usualArgs{"-i:atlas.nti", "-r:route.nm2", "-o:/w/out.nm3", "atlas"};
// The index, route and output files of the usual run, and its first two
// members.
const std::vector<std::string> usualNames{ntiPath, routePath, "/w/out.nm3"};
const std::vector<std::string> bothPacked{ntiPath, routePath};

// Run from /w, where the atlas holds the index and the route file.
std::string said(const std::string& atlasDir, const std::vector<std::string>& named = {},
                 const std::vector<std::string>& packed = {}) {
    return testsupport::packerSaid("/w", atlasDir, named, packed);
}

struct Row {
    std::vector<std::string> args;
    std::function<void(testsupport::MemoryFileSystem&)> setup;  // on top of the usual atlas
    std::string said;  // the whole transcript, a failure's message last
    int status;
    Files changes;  // what the run changed in the tree
};

void expectRun(const Row& row) {
    testsupport::MemoryFileSystem files;
    files.setCurrentDir("/w");
    files.addFile(ntiPath, nti);
    files.addFile(routePath, route);
    if (row.setup) row.setup(files);
    const Files before = files.snapshot();

    const auto line = cli::readPackCommandLine(row.args, cli::OptionStyle::dash);
    const packer::Job* job = std::get_if<packer::Job>(&line.action);
    ASSERT_NE(job, nullptr);
    testsupport::TextTranscript transcript;
    testsupport::RecordingGuard guard;
    const cli::Outcome failed = packer::pack(*job, files, transcript, guard);
    EXPECT_EQ(transcript.text() + (failed ? failed->message : ""), row.said);
    EXPECT_EQ(failed ? 1 : 0, row.status);
    EXPECT_EQ(testsupport::differences(files.snapshot(), testsupport::applied(before, row.changes)), "");
    EXPECT_EQ(files.openFiles(), 0u);
}

void expectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.said);
        expectRun(row);
    }
}

TEST(Pack, Archives) {
    const Bytes e = memberBytes("EEEE", 16, 11), a = memberBytes("AAAA", 17, 7), lowerA = memberBytes("aaaa", 18, 0),
                b = memberBytes("BBBB", 16, 6), c = memberBytes("CCCC", 16, 10), z = memberBytes("ZZZZ", 0xFFFF, 9);
    const Bytes other = memberBytes("NIDX", 99, 3);
    expectRows({
        // The worked example, to the byte.
        {usualArgs,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile(ntiPath, Bytes("NIDX\x3a\0ab", 8));
             files.addFile(routePath, Bytes("ROUT\x10\0wxyz", 10));
             files.addFile(atlas + "/more.nm2", Bytes("MORE\x10\0z", 7));
         },
         said(atlas, usualNames, {ntiPath, routePath, atlas + "/more.nm2"}), 0,
         {{"/w/out.nm3", Bytes("GNM3\0\0\0\0\x19\0\0\0"
                               "NIDX\x3a\0ab"
                               "ROUT\x10\0wxyz"
                               "MORE\x10\0z"
                               "\x08\0\0\0\x12\0\0\0",
                               45)}}},
        // Index and route alone: a one-entry footer.
        {usualArgs, nullptr, said(atlas, usualNames, bothPacked), 0, {{"/w/out.nm3", archiveOf({nti, route})}}},
        // Further .nm2 files in folded order; what the listing meets of the
        // index or route file under another name is stored once; no
        // directory, link to one, or other extension is a member. Only the
        // name part of -i: and -r: counts.
        {{"-i:C:/ignored/atlas.nti", "-r:/elsewhere/route.nm2", "-o:/w/out.nm3", "/w/atlas/"},
         [&](testsupport::MemoryFileSystem& files) {
             for (const auto& [name, bytes] : {std::pair{"b.nm2", b}, {"A.nm2", a}, {"a.NM2", lowerA}, {"_z.Nm2", z},
                                               {"c d.nm2", c}, {"-e.nm2", e}}) {
                 files.addFile(atlas + "/" + name, bytes);
             }
             files.addFile(atlas + "/notes.txt", "not a member");
             files.addFile(atlas + "/old.nm3", "not a member");
             files.addDir(atlas + "/dir.nm2");
             files.addSymlink(atlas + "/zlink-to-route.nm2", "route.nm2");
             files.addSymlink(atlas + "/zlink-to-dir.nm2", "dir.nm2");
             files.addHardLink(ntiPath, atlas + "/index-again.nm2");
         },
         said(atlas, usualNames,
              {ntiPath, routePath, atlas + "/-e.nm2", atlas + "/A.nm2", atlas + "/a.NM2", atlas + "/b.nm2",
               atlas + "/c d.nm2", atlas + "/_z.Nm2"}),
         0, {{"/w/out.nm3", archiveOf({nti, route, e, a, lowerA, b, c, z})}}},
        // Upper-case letters, bare letters ignored, later values replacing
        // earlier ones, the output placed in the current folder.
        {{"-I:wrong.nti", "-i", "-x", "-I:other.nti", "-R:route.nm2", "-O:x.nm3", "-o", "atlas"},
         [&](testsupport::MemoryFileSystem& files) { files.addFile(atlas + "/other.nti", other); },
         said(atlas, {atlas + "/other.nti", routePath, "/w/x.nm3"}, {atlas + "/other.nti", routePath}), 0,
         {{"/w/x.nm3", archiveOf({other, route})}}},
        // An archive inside the atlas folder is no member unless it has an
        // .nm2 name.
        {{"-i:atlas.nti", "-r:route.nm2", "-o:atlas/atlas.nm3", "atlas"},
         [&](testsupport::MemoryFileSystem& files) { files.addFile(atlas + "/more.nm2", more); },
         said(atlas, {ntiPath, routePath, atlas + "/atlas.nm3"}, {ntiPath, routePath, atlas + "/more.nm2"}), 0,
         {{atlas + "/atlas.nm3", archiveOf({nti, route, more})}}},
    });
}

TEST(Pack, TableGrowsPastFiveHundredTwelveMembers) {
    std::vector<Bytes> members{nti, route};
    std::vector<std::string> packed = bothPacked;
    for (unsigned i = 0; i < 1100; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/m%05u.nm2", i);
        packed.push_back(atlas + name);
        members.push_back(memberBytes("MMMM", 16, i % 13, i));
    }
    expectRun({usualArgs,
               [&](testsupport::MemoryFileSystem& files) {
                   for (std::size_t i = 2; i < members.size(); ++i) files.addFile(packed[i], members[i]);
               },
               said(atlas, usualNames, packed), 0, {{"/w/out.nm3", archiveOf(members)}}});
}

TEST(Pack, OptionsAndFolders) {
    const auto addPlain = [](testsupport::MemoryFileSystem& files) { files.addFile("/w/plain", "x"); };
    expectRows({
        // Missing options, in order; options after the operand are never
        // seen.
        {{}, nullptr, said("/w") + " Error: You must have -i: parameter\n", 1, {}},
        {{"-i:", "-r:r"}, nullptr, said("/w") + " Error: You must have -i: parameter\n", 1, {}},
        {{"-i:a", "-o:x"}, nullptr, said("/w") + " Error: You must have -r: parameter\n", 1, {}},
        {{"-i:a", "-r:b"}, nullptr, said("/w") + " Error: You must have -o: parameter\n", 1, {}},
        {{"atlas", "-i:atlas.nti", "-r:route.nm2", "-o:/w/out.nm3", "-h"}, nullptr,
         said(atlas) + " Error: You must have -i: parameter\n", 1, {}},
        // The atlas folder.
        {{"-i:a.nti", "-r:b.nm2", "-o:/w/out.nm3", "plain"}, addPlain,
         said("/w/plain") + " This path is NOT directory: /w/plain\n", 1, {}},
        {{"-i:a.nti", "-r:b.nm2", "-o:/w/out.nm3", "./gone/../missing/"}, nullptr,
         said("/w/missing") + " Path not found: /w/missing\n", 1, {}},
        // The root keeps its separator and its members hang right below it.
        {{"-i:no-such.nti", "-r:b.nm2", "-o:/w/out.nm3", "/"}, nullptr,
         said("/", {"/no-such.nti", "/b.nm2", "/w/out.nm3"}) + " Error: Can't access file: /no-such.nti\n", 1, {}},
    });
}

TEST(Pack, InputsAndOutputThatFail) {
    const auto olderArchive = [](testsupport::MemoryFileSystem& files) { files.addFile("/w/out.nm3", "an older archive"); };
    // A bad member, with an older archive that is emptied when the output is
    // created and then deleted with the unfinished archive.
    const auto badMember = [](const std::string& path, const Bytes& bytes) {
        return [=](testsupport::MemoryFileSystem& files) {
            files.addFile(path, bytes);
            files.addFile("/w/out.nm3", "an older archive");
        };
    };
    // The output is another name of a file that must end empty, though a
    // long member has reached it.
    const auto outputNaming = [](bool symbolic) {
        return [=](testsupport::MemoryFileSystem& files) {
            files.addFile(atlas + "/a.nm2", memberBytes("AAAA", 16, 200000));
            files.addFile(atlas + "/bad.nm2", memberBytes("BADD", 15, 4));
            files.addFile("/w/target.nm3", "an older archive");
            if (symbolic) {
                files.addSymlink("/w/out.nm3", "/w/target.nm3");
            } else {
                files.addHardLink("/w/target.nm3", "/w/out.nm3");
            }
        };
    };
    const std::string cantAccess = " Error: Can't access file: ";
    const std::string x = atlas + "/x.nm2";
    const std::string badVersion = said(atlas, usualNames, {ntiPath, routePath, atlas + "/a.nm2"}) +
                                   " Non valid version [0xf] route file [/w/atlas/bad.nm2].\n";
    const Files removed{{"/w/out.nm3", gone}};
    // The usual run's transcript with `packed` of its index and route file
    // packed.
    const auto done = [](std::size_t packed) {
        return said(atlas, usualNames, {bothPacked.begin(), bothPacked.begin() + static_cast<std::ptrdiff_t>(packed)});
    };
    expectRows({
        // An older archive stays when the run fails before the output is made.
        {{"-i:none.nti", "-r:route.nm2", "-o:/w/out.nm3", "atlas"}, olderArchive,
         said(atlas, {atlas + "/none.nti", routePath, "/w/out.nm3"}) + cantAccess + "/w/atlas/none.nti\n", 1, {}},
        {{"-i:atlas.nti", "-r:none.nm2", "-o:/w/out.nm3", "atlas"}, nullptr,
         said(atlas, {ntiPath, atlas + "/none.nm2", "/w/out.nm3"}) + cantAccess + "/w/atlas/none.nm2\n", 1, {}},
        {{"-i:atlas.nti", "-r:folder.nm2", "-o:/w/out.nm3", "atlas"},
         [](testsupport::MemoryFileSystem& files) { files.addDir(atlas + "/folder.nm2"); },
         said(atlas, {ntiPath, atlas + "/folder.nm2", "/w/out.nm3"}, {ntiPath}) +
             " Error open file /w/atlas/folder.nm2.\n",
         1, {}},
        {usualArgs, [](testsupport::MemoryFileSystem& files) { files.addSymlink(atlas + "/dangling.nm2", "nowhere"); },
         done(2) + " Error open file /w/atlas/dangling.nm2.\n", 1, {}},
        {{"-i:atlas.nti", "-r:route.nm2", "-o:/w/no-such-dir/out.nm3", "atlas"}, nullptr,
         said(atlas, {ntiPath, routePath, "/w/no-such-dir/out.nm3"}) +
             " Error: Can't create file: /w/no-such-dir/out.nm3\n",
         1, {}},
        // Member headers.
        {usualArgs, badMember(ntiPath, Bytes("NIDX\x3a", 5)), done(0) + " Error read nti header file " + ntiPath + ".\n", 1,
         removed},
        {usualArgs, badMember(ntiPath, memberBytes("NIDX", 57, 10)),
         done(0) + " Non valid version [0x39] index file [/w/atlas/atlas.nti].\n", 1, removed},
        {usualArgs, badMember(routePath, ""), done(1) + " Error read nm2 header file " + routePath + ".\n", 1, removed},
        {usualArgs, badMember(routePath, memberBytes("RRRR", 15, 10)),
         done(1) + " Non valid version [0xf] route file [/w/atlas/route.nm2].\n", 1, removed},
        {usualArgs, badMember(x, Bytes("XXXX\x10", 5)), done(2) + " Error read nm2 header file /w/atlas/x.nm2.\n", 1,
         removed},
        {usualArgs, badMember(x, memberBytes("XXXX", 15, 1)),
         done(2) + " Non valid version [0xf] route file [/w/atlas/x.nm2].\n", 1, removed},
        // A failure leaves no archive bytes under another name.
        {usualArgs, outputNaming(true), badVersion, 1, {{"/w/out.nm3", gone}, {"/w/target.nm3", ""}}},
        {usualArgs, outputNaming(false), badVersion, 1, {{"/w/out.nm3", gone}, {"/w/target.nm3", ""}}},
    });
}

TEST(Pack, OutputNamingAnInputIsRefusedBeforeAnythingIsTouched) {
    const auto links = [](testsupport::MemoryFileSystem& files) {
        files.addFile(atlas + "/more.nm2", more);
        files.addHardLink(atlas + "/more.nm2", "/w/alias.nm3");
        files.addSymlink("/w/index-link.nm3", ntiPath);
        // Links to a further member: relative, in a chain, absolute from
        // elsewhere; and one that leads to a new .nm2 name in the atlas.
        files.addSymlink("/w/more-link.nm3", "atlas/more.nm2");
        files.addSymlink("/w/chain.nm3", "more-link.nm3");
        files.addSymlink("/w/elsewhere/far.nm3", atlas + "/more.nm2");
        files.addSymlink("/w/dangling.nm3", "atlas/new.nm2");
    };
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        // -o: value, the output as placed, the input it names
        {ntiPath, ntiPath, ntiPath},
        {"atlas/./route.nm2", routePath, routePath},
        {"/w/index-link.nm3", "/w/index-link.nm3", ntiPath},
        {"/w/alias.nm3", "/w/alias.nm3", atlas + "/more.nm2"},
        {atlas + "/NEW.NM2", atlas + "/NEW.NM2", atlas + "/NEW.NM2"},
        {"more-link.nm3", "/w/more-link.nm3", atlas + "/more.nm2"},
        {"chain.nm3", "/w/chain.nm3", atlas + "/more.nm2"},
        {"elsewhere/far.nm3", "/w/elsewhere/far.nm3", atlas + "/more.nm2"},
        {"dangling.nm3", "/w/dangling.nm3", atlas + "/new.nm2"},
    };
    std::vector<Row> rows;
    for (const auto& [out, placed, input] : cases) {
        rows.push_back({{"-i:atlas.nti", "-r:route.nm2", "-o:" + out, "atlas"}, links,
                        said(atlas, {ntiPath, routePath, placed}) + " Error open file " + input + ".\n", 1, {}});
    }
    expectRows(rows);
}

// Whether the output is an input is asked of the files themselves: a
// listing's numbers don't tell a mount point (they are the covered file's)
// or an overlay's file (its device is not its folder's), and a link's text
// doesn't tell where it leads.
TEST(Pack, OutputNamingAnInputIsToldByTheFilesNotByTheListing) {
    const std::string x = atlas + "/x.nm2";
    const auto mounted = [=](testsupport::MemoryFileSystem& files) {
        files.addFile("/w/else/keep.nm2", memberBytes("KEEP", 16, 7000));
        files.addFile(x, "covered");
        files.mount("/w/else/keep.nm2", x);
    };
    const auto overlay = [=](testsupport::MemoryFileSystem& files) {
        files.addFile(x, memberBytes("LOWR", 16, 7000));
        files.setDevice(x, 2);
    };
    // A member link that leads nowhere yet, to where the archive is made.
    const auto leadingTo = [](const std::string& target) {
        return [=](testsupport::MemoryFileSystem& files) { files.addSymlink(atlas + "/z.nm2", target); };
    };
    const auto refused = [](const std::string& out, const std::string& input) {
        return said(atlas, {ntiPath, routePath, out}) + " Error open file " + input + ".\n";
    };
    std::vector<Row> rows{
        {{"-i:atlas.nti", "-r:route.nm2", "-o:else/keep.nm2", "atlas"}, mounted, refused("/w/else/keep.nm2", x), 1, {}},
        {{"-i:atlas.nti", "-r:route.nm2", "-o:atlas/x.nm2", "atlas"}, mounted, refused(x, x), 1, {}},
        {{"-i:atlas.nti", "-r:route.nm2", "-o:atlas/x.nm2", "atlas"}, overlay, refused(x, x), 1, {}},
    };
    for (const char* target : {"../out.nm3", "/w/./out.nm3", "../atlas/../out.nm3", "/w/atlas/../out.nm3"}) {
        rows.push_back({{"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "atlas"}, leadingTo(target),
                        refused("/w/out.nm3", atlas + "/z.nm2"), 1, {}});
    }
    expectRows(rows);
}

// Where the system numbers no files for good, files are told apart by their
// final paths: one name, or counts of names that differ, are enough to
// tell; the same count of more than one name makes it unsure, and the run
// refuses rather than guess. What it packs is what a system with numbers
// packs.
TEST(Pack, WithoutFileNumbersAFileThatMayBeAnotherIsRefused) {
    const Bytes upper = memberBytes("UPPR", 16, 9);
    const auto unnumbered = [](std::function<void(testsupport::MemoryFileSystem&)> more) {
        return [=](testsupport::MemoryFileSystem& files) {
            more(files);
            files.setUnnumbered(1);
        };
    };
    const std::string again = atlas + "/again.nm2";
    expectRows({
        // Two files whose names differ in case only are two members.
        {usualArgs, unnumbered([&](testsupport::MemoryFileSystem& files) { files.addFile(atlas + "/ROUTE.nm2", upper); }),
         said(atlas, usualNames, {ntiPath, routePath, atlas + "/ROUTE.nm2"}), 0,
         {{"/w/out.nm3", archiveOf({nti, route, upper})}}},
        // A second name of the route file can't be told from another file,
        {usualArgs, unnumbered([&](testsupport::MemoryFileSystem& files) { files.addHardLink(routePath, again); }),
         said(atlas, usualNames, bothPacked) + " Error open file " + again + ".\n", 1, {}},
        // but a member with one name can, wherever the route file has another.
        {usualArgs,
         unnumbered([&](testsupport::MemoryFileSystem& files) {
             files.addHardLink(routePath, "/w/backup.nm2");
             files.addFile(atlas + "/more.nm2", more);
         }),
         said(atlas, usualNames, {ntiPath, routePath, atlas + "/more.nm2"}), 0,
         {{"/w/out.nm3", archiveOf({nti, route, more})}}},
        // An output with a second name is the input with as many, or may be
        // any input when there is none: the first is named.
        {{"-i:atlas.nti", "-r:route.nm2", "-o:/w/alias.nm3", "atlas"},
         unnumbered([&](testsupport::MemoryFileSystem& files) {
             files.addFile(atlas + "/more.nm2", more);
             files.addHardLink(atlas + "/more.nm2", "/w/alias.nm3");
         }),
         said(atlas, {ntiPath, routePath, "/w/alias.nm3"}) + " Error open file " + atlas + "/more.nm2.\n", 1, {}},
        {{"-i:atlas.nti", "-r:route.nm2", "-o:/w/out.nm3", "atlas"},
         unnumbered([&](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/out.nm3", "an older archive");
             files.addHardLink("/w/out.nm3", "/w/backup.nm3");
         }),
         said(atlas, usualNames) + " Error open file " + ntiPath + ".\n", 1, {}},
    });
}

// The output can't be made while another run holds it, nor when it is the
// file the run's own words go to; nothing is changed or removed, also not a
// file that this run's open made.
TEST(Pack, OutputHeldByAnotherRunOrSaidIntoIsNotTouched) {
    const std::string cantCreate = said(atlas, usualNames) + " Error: Can't create file: /w/out.nm3\n";
    const auto older = [](testsupport::MemoryFileSystem& files) { files.addFile("/w/out.nm3", "an older archive"); };
    expectRows({
        {usualArgs, [&](testsupport::MemoryFileSystem& files) {
             older(files);
             files.lockElsewhere("/w/out.nm3", false);
         },
         cantCreate, 1, {}},
        {usualArgs, [&](testsupport::MemoryFileSystem& files) {
             older(files);
             files.lockElsewhere("/w/out.nm3", true);
         },
         cantCreate, 1, {}},
        {usualArgs, [&](testsupport::MemoryFileSystem& files) {
             older(files);
             files.setStandardStream(2, "/w/out.nm3");
         },
         cantCreate, 1, {}},
        {usualArgs, [&](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/log", "");
             files.addSymlink("/w/out.nm3", "log");
             files.setStandardStream(1, "/w/log");
         },
         cantCreate, 1, {}},
    });
}

}  // namespace
