// The table of end-to-end cases. Transcripts are written out, or built by
// the small model below from the lines every successful run shares.
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <random>

#include "e2e/case.h"
#include "testing/archives.h"
#include "testing/transcripts.h"

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace e2e {

namespace {

using namespace testsupport;

// --- The programs' transcripts, from the shared model of what they say ---


// `name` in the folder `dir`, a placeholder or a Windows path.
std::string in(const std::string& dir, const std::string& name) {
    if (!dir.ends_with('}')) return dir + "\\" + name;
    return dir.substr(0, dir.size() - 1) + (dir == "{}" ? "" : "/") + name + "}";
}

std::string packerStart(const std::string& atlas, const std::string& workingDir = "{}") {
    return banner + testsupport::packerSaid(workingDir, atlas);
}
// A run from the case's folder: the atlas, its index, route and output
// named, and a finished line for the first `done` of `members` (the index,
// the route file, the further files in order).
std::string packerSays(const std::string& atlas, const std::string& out, const std::vector<std::string>& members,
                       std::size_t done) {
    std::vector<std::string> packed;
    for (std::size_t i = 0; i < done; ++i) packed.push_back(in(atlas, members[i]));
    return banner + testsupport::packerSaid("{}", atlas, {in(atlas, members[0]), in(atlas, members[1]), out}, packed);
}
std::string packerNames(const std::string& atlas, const std::string& index, const std::string& route,
                        const std::string& out, std::size_t done = 0) {
    return packerSays(atlas, out, {index, route}, done);
}
// A pack that went through: `further` are the members after the route, in order.
std::string packs(const std::string& atlas, const std::string& index, const std::string& route,
                  const std::string& out, const std::vector<std::string>& further = {}) {
    std::vector<std::string> members{index, route};
    members.insert(members.end(), further.begin(), further.end());
    return packerSays(atlas, out, members, members.size());
}
// The usual names: the index atlas.nti, the route route.nm2.
std::string packs(const std::string& atlas, const std::string& out, const std::vector<std::string>& further = {}) {
    return packs(atlas, "atlas.nti", "route.nm2", out, further);
}

std::string unpackerStart(const std::string& operand, const std::string& folder) {
    return banner + testsupport::unpackerNamed(operand, folder);
}
std::string checks(std::uint64_t fileSize, std::optional<std::uint64_t> count) {
    return testsupport::unpackerSizes(fileSize, count);
}
// The lines of the index and of the first `done` further members of an
// archive named `name`.
std::string memberLines(const std::string& name, const Bytes& index, std::size_t done) {
    std::vector<Bytes> members(done + 1);
    members[0] = index;
    return testsupport::extractedLines(members, name);
}
// An unpack of the archive of `members` (the index first) that went through.
std::string unpacks(const std::string& operand, const std::string& folder, const std::string& name,
                    const std::vector<Bytes>& members, std::uint64_t fileSize = 0) {
    if (fileSize == 0) fileSize = archiveOf(members).size();
    return unpackerStart(operand, folder) + checks(fileSize, members.size() - 1) +
           testsupport::extractedLines(members, name);
}
// The files that unpack leaves in `folder`.
std::vector<Entry> unpacked(const std::string& folder, const std::string& name, const std::vector<Bytes>& members) {
    std::vector<Entry> entries;
    for (const auto& [path, bytes] : testsupport::extractedFiles(folder, members, name)) {
        entries.push_back(bytes == "<dir>" ? dir(path) : file(path, bytes));
    }
    return entries;
}

// --- The atlases and archives the cases start from ---

const Bytes index = memberBytes("NIDX", 58, 30, 1);
const Bytes route = memberBytes("RTE0", 16, 50, 2);
const Bytes more = memberBytes("MORE", 16, 14, 3);
const Bytes older = "an older archive";
const std::uint64_t limit = 0xFFFFFFFFull;  // the largest archive payload

std::vector<Entry> operator+(std::vector<Entry> entries, const std::vector<Entry>& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}
// The folder atlas with atlas.nti and route.nm2.
std::vector<Entry> atlas(const std::vector<Entry>& further = {}) {
    return std::vector<Entry>{file("atlas/atlas.nti", index), file("atlas/route.nm2", route)} + further;
}
// An archive with the footer given entry by entry.
Bytes withFooter(const Bytes& payload, const std::vector<std::uint32_t>& entries) {
    Bytes bytes = headerOf(static_cast<std::uint32_t>(payload.size())) + payload;
    for (const std::uint32_t entry : entries) bytes += u32le(entry);
    return bytes;
}
const Bytes west = archiveOf({index, route, more});

// A failing unpack of `bytes` as west.nm3, whose folder held an old file.
Case unpackFails(std::string name, const Bytes& bytes, const std::string& rest) {
    return {.name = std::move(name),
            .setup = {file("west.nm3", bytes), file("west.nm2/west_00000.nm2", "old")}, .program = Program::unveskal,
            .args = {"west.nm3"}, .status = 1, .err = unpackerStart("west.nm3", "{west.nm2}") + rest,
            .changes = {gone("west.nm2/west_00000.nm2")}};
}

// A pack that fails at a member's header; an older archive goes with it.
Case headerFails(std::string name, const std::string& member, const Bytes& bytes, std::size_t done,
                 const std::string& rest) {
    return {.name = std::move(name),
            .setup = atlas({file("atlas/" + member, bytes), file("out.nm3", older)}),
            .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "{atlas}"}, .status = 1,
            .err = packerNames("{atlas}", "atlas.nti", "route.nm2", "{out.nm3}", done) + rest, .changes = {gone("out.nm3")}};
}

// A pack refused because its output names one of its inputs.
Case outputIsAnInput(std::string name, Only only, const std::vector<Entry>& setup, const std::string& output,
                     const std::string& shown, const std::string& input) {
    return {.name = std::move(name),
            .only = only, .setup = atlas({file("atlas/more.nm2", more)}) + setup,
            .args = {"-i:atlas.nti", "-r:route.nm2", "-o:" + output, "{atlas}"}, .status = 1,
            .err = packerNames("{atlas}", "atlas.nti", "route.nm2", shown) + " Error open file " + input + ".\n"};
}

Case help(std::string name, Only only, Program program, std::vector<std::string> args, const std::string& err) {
    return {.name = std::move(name), .only = only, .program = program, .args = std::move(args), .status = 1,
         .err = err};
}

// Many members, some of them large, with names that fold alike, and the
// archive they make.
struct RandomAtlas {
    std::vector<Entry> files;
    std::vector<std::string> further;  // in packing order
    std::vector<Bytes> members;
};
RandomAtlas randomAtlas() {
    std::mt19937 random(6);
    const auto member = [&](std::size_t bodySize) {
        return memberBytes("MMMM", static_cast<std::uint16_t>(16 + random() % 65520), bodySize,
                           static_cast<unsigned>(random()));
    };
    const Bytes randomIndex = memberBytes("NIDX", static_cast<std::uint16_t>(58 + random() % 2000), random() % 5000, 6);
    const Bytes randomRoute = memberBytes("ROUT", 16, random() % 70000, 7);
    std::map<std::string, Bytes> further;
    for (const char* name : {"Road.nm2", "ROAD.nm2", "road.NM2", "road_.nm2", "Road[.nm2"}) {
        further[name] = member(random() % 300);
    }
    further["tiny.nm2"] = member(0);
    further["Large.NM2"] = member(2 << 20);
    static const std::string letters = "aAbBkKmMyYzZ09_- .~";
    static const std::vector<std::string> extensions{".nm2", ".NM2", ".Nm2", ".nM2"};
    while (further.size() < 300) {
        std::string name;
        const std::size_t length = 1 + random() % 12;
        for (std::size_t i = 0; i < length; ++i) name += letters[random() % letters.size()];
        further[name + extensions[random() % extensions.size()]] = member(random() % 3000);
    }
    RandomAtlas result{{file("atlas/Atlas.nti", randomIndex), file("atlas/Route.Nm2", randomRoute),
                        file("atlas/notes.txt", "notes"), dir("atlas/folder.nm2")},
                       {},
                       {randomIndex, randomRoute}};
    for (const auto& [name, bytes] : further) {
        result.files.push_back(file("atlas/" + name, bytes));
        result.further.push_back(name);
    }
    std::sort(result.further.begin(), result.further.end(), testsupport::packedBefore);
    for (const std::string& name : result.further) result.members.push_back(further.at(name));
    return result;
}

// Names in several scripts and a member copied in many blocks.
const std::vector<Entry> scripts = atlas({file("atlas/b.nm2", memberBytes("MEMB", 16, 470, 10)),
                                          file("atlas/A.nm2", memberBytes("MEMB", 16, 507, 11)),
                                          file("atlas/Москва.nm2", memberBytes("MEMB", 16, 544, 12)),
                                          file("atlas/東京.nm2", memberBytes("MEMB", 16, 581, 13)),
                                          file("atlas/z z.NM2", memberBytes("MEMB", 16, 618, 14)),
                                          file("atlas/big.nm2", memberBytes("BIG0", 300, 3 * 1024 * 1024 + 5, 99))});
const std::vector<std::string> scriptsOrder{"A.nm2", "b.nm2", "big.nm2", "z z.NM2", "Москва.nm2", "東京.nm2"};
std::vector<Bytes> scriptsMembers() {
    std::vector<Bytes> members{index, route};
    for (const std::string& name : scriptsOrder) {
        for (const Entry& entry : scripts) {
            if (entry.path == "atlas/" + name) members.push_back(entry.bytes);
        }
    }
    return members;
}

// The atlas whose archive passes 2 GiB.
const std::uint64_t bigSize = (1ull << 31) + 4096;
const std::vector<Entry> beyondTwoGibibytes = atlas({sparse("atlas/big.nm2", memberBytes("BIGG", 16, 0), bigSize),
                                                     file("atlas/last.nm2", memberBytes("LAST", 16, 40, 5))});

}  // namespace

std::vector<Case> cases() {
    const std::string packerUsage =
        banner + "usage:\n veskal{.exe} [ -? | -h | -i:indexfile.nti -r:routefile.nm2 -o:outfile.nm3 [foldername] ]\n\n";
    const std::string unpackerUsage = banner + "usage:\n unveskal{.exe} [ -? | -h | filename.nm3 ]\n\n";
    const Bytes workedIndex("NIDX\x3a\0ab", 8), workedRoute("ROUT\x10\0wxyz", 10), workedMore("MORE\x10\0z", 7);
    const Bytes worked("GNM3\0\0\0\0\x19\0\0\0NIDX\x3a\0abROUT\x10\0wxyzMORE\x10\0z\x08\0\0\0\x12\0\0\0", 45);
    const std::vector<std::string> usual{"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "{atlas}"};
    const auto usualNames = [](std::size_t done) {
        return packerNames("{atlas}", "atlas.nti", "route.nm2", "{out.nm3}", done);
    };
    const Bytes a = memberBytes("AAAA", 17, 7), lowerA = memberBytes("aaaa", 18, 0);
    const Bytes other = memberBytes("NIDX", 99, 3);
    const Bytes greek = memberBytes("ELLA", 16, 21, 3), tokyo = memberBytes("TKYO", 17, 22, 4);
    const Bytes pair = archiveOf({index, route});
    const Bytes entry = u32le(static_cast<std::uint32_t>(index.size()));
    const Bytes members = headerOf(static_cast<std::uint32_t>(index.size() + route.size())) + index + route;
    const Bytes payload = index + route + more;
    const Bytes shortIndex = headerOf(6) + Bytes("NIDX\x3a\0", 6) + u32le(6);
    const Bytes indexed = memberBytes("NIDX", 1000, 8, 7);
    const Bytes untagged = archiveOf({memberBytes("nidx", 58, 10), route});
    const Files devices{{"CON.nm2", memberBytes("CONS", 16, 5, 1)}, {"COM1.nm2", memberBytes("COM1", 16, 6, 2)},
                        {"nul.nm2", memberBytes("NULL", 16, 7, 3)}};
    const Bytes deviceArchive = archiveOf({index, route, devices.at("COM1.nm2"), devices.at("CON.nm2"), devices.at("nul.nm2")});
    const RandomAtlas random = randomAtlas();
    const Bytes randomArchive = archiveOf(random.members);

    std::vector<Case> table{
        // --- The packer ---
        {.name = "WorkedExamplePacksToTheByte",
         .setup = {file("atlas/atlas.nti", workedIndex), file("atlas/route.nm2", workedRoute), file("atlas/more.nm2", workedMore)},
         .args = usual, .err = packs("{atlas}", "{out.nm3}", {"more.nm2"}), .changes = {file("out.nm3", worked)}},
        {.name = "WorkedExampleUnpacksOverOldFilesAndKeepsSubFolders",
         .setup = {file("out.nm3", worked), file("out.nm2/keep/inner.nm2", "stays"), file("out.nm2/old.nm2", "goes"),
                   readOnly("out.nm2/old.nm2")},
         .program = Program::unveskal, .args = {"out.nm3"},
         .err = unpacks("out.nm3", "{out.nm2}", "out", {workedIndex, workedRoute, workedMore}),
         .changes = unpacked("out.nm2", "out", {workedIndex, workedRoute, workedMore}) + std::vector{gone("out.nm2/old.nm2")}},
        {.name = "FurtherFilesAreSortedAndTheRouteFoundInAnyCase", .only = Only::wine,
         .setup = {file("atlas/atlas.nti", index), file("atlas/Route.nm2", route), file("atlas/b.nm2", memberBytes("BBBB", 16, 6)),
                   file("atlas/A.nm2", a), file("atlas/_z.Nm2", memberBytes("ZZZZ", 0xFFFF, 9)),
                   file("atlas/c d.nm2", memberBytes("CCCC", 16, 10)), file("atlas/-e.nm2", memberBytes("EEEE", 16, 11)),
                   file("atlas/notes.txt", "not a member"), dir("atlas/dir.nm2")},
         .args = {"-i:C:\\ignored\\atlas.nti", "-r:ROUTE.NM2", "-o:out.nm3", "{atlas/}"},
         .err = packs("{atlas}", "atlas.nti", "ROUTE.NM2", "{out.nm3}", {"-e.nm2", "A.nm2", "b.nm2", "c d.nm2", "_z.Nm2"}),
         .changes = {file("out.nm3", archiveOf({index, route, memberBytes("EEEE", 16, 11), a, memberBytes("BBBB", 16, 6),
                                                memberBytes("CCCC", 16, 10), memberBytes("ZZZZ", 0xFFFF, 9)}))}},
        {.name = "IndexAndRouteAloneGiveAOneEntryFooter", .setup = atlas(),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "atlas"}, .err = packs("{atlas}", "{out.nm3}"),
         .changes = {file("out.nm3", pair)}},
        {.name = "OtherNamesOfTheIndexAndRouteAreStoredOnce",
         .setup = atlas({file("atlas/A.nm2", a), file("atlas/a.NM2", lowerA), file("atlas/old.nm3", "not a member"),
                         dir("atlas/dir.nm2"), link("atlas/zlink-to-route.nm2", "route.nm2"),
                         link("atlas/zlink-to-dir.nm2", "dir.nm2"), hardLink("atlas/index-again.nm2", "atlas/atlas.nti")}),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "{atlas}"},
         .err = packs("{atlas}", "{out.nm3}", {"A.nm2", "a.NM2"}),
         .changes = {file("out.nm3", archiveOf({index, route, a, lowerA}))}},
        {.name = "ArchiveInsideTheAtlasUnderAnotherExtension", .setup = atlas({file("atlas/more.nm2", more)}),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:atlas/atlas.nm3", "atlas"},
         .err = packs("{atlas}", "{atlas/atlas.nm3}", {"more.nm2"}),
         .changes = {file("atlas/atlas.nm3", archiveOf({index, route, more}))}},
        {.name = "NamesInCyrillicGreekAndJapanesePack",
         .setup = {file("atlas/地図.nti", index), file("atlas/Москва.nm2", route), file("atlas/Ελλάδα.nm2", greek),
                   file("atlas/東京.nm2", tokyo)},
         .args = {"-i:地図.nti", "-r:Москва.nm2", "-o:Карта.nm3", "{atlas}"},
         .err = packs("{atlas}", "地図.nti", "Москва.nm2", "{Карта.nm3}", {"Ελλάδα.nm2", "東京.nm2"}),
         .changes = {file("Карта.nm3", archiveOf({index, route, greek, tokyo}))}},
        {.name = "NamesInCyrillicGreekAndJapaneseUnpack",
         .setup = {file("Карта.nm3", archiveOf({index, route, greek, tokyo}))}, .program = Program::unveskal,
         .args = {"Карта.nm3"}, .err = unpacks("Карта.nm3", "{Карта.nm2}", "Карта", {index, route, greek, tokyo}),
         .changes = unpacked("Карта.nm2", "Карта", {index, route, greek, tokyo})},
        {.name = "RandomAtlasPacks", .setup = random.files,
         .args = {"-i:Atlas.nti", "-r:Route.Nm2", "-o:Random Atlas.nm3", "{atlas}"},
         .err = packs("{atlas}", "Atlas.nti", "Route.Nm2", "{Random Atlas.nm3}", random.further),
         .changes = {file("Random Atlas.nm3", randomArchive)}},
        {.name = "RandomAtlasUnpacks", .setup = {file("Random Atlas.nm3", randomArchive)}, .program = Program::unveskal,
         .args = {"Random Atlas.nm3"},
         .err = unpacks("Random Atlas.nm3", "{Random Atlas.nm2}", "Random Atlas", random.members),
         .changes = unpacked("Random Atlas.nm2", "Random Atlas", random.members)},
        {.name = "NamesInSeveralScriptsAndAMemberOfManyBlocks", .setup = scripts,
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "{atlas}"},
         .err = packs("{atlas}", "{out.nm3}", scriptsOrder), .changes = {file("out.nm3", archiveOf(scriptsMembers()))}},
        {.name = "WindowsUnpacksTheLinuxBuildsArchive", .only = Only::wine,
         .setup = scripts + std::vector{packed("linux.nm3", "atlas", Program::linuxVeskal)},
         .program = Program::unveskal, .args = {"linux.nm3"},
         .err = unpacks("linux.nm3", "{linux.nm2}", "linux", scriptsMembers()),
         .changes = unpacked("linux.nm2", "linux", scriptsMembers())},
        {.name = "LinuxUnpacksTheWindowsBuildsArchive", .only = Only::wine,
         .setup = scripts + std::vector{packed("windows.nm3", "atlas", Program::veskal)},
         .program = Program::linuxUnveskal, .args = {"windows.nm3"},
         .err = unpacks("windows.nm3", "{windows.nm2}", "windows", scriptsMembers()),
         .changes = unpacked("windows.nm2", "windows", scriptsMembers())},
        {.name = "ArchiveBeyondTwoGibibytesMatchesTheLinuxBuilds", .only = Only::wine,
         .setup = beyondTwoGibibytes + std::vector{packed("linux.nm3", "atlas", Program::linuxVeskal)},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:windows.nm3", "{atlas}"},
         .err = packs("{atlas}", "{windows.nm3}", {"big.nm2", "last.nm2"}),
         .changes = {sameAs("windows.nm3", "linux.nm3")}},
        {.name = "ArchiveBeyondTwoGibibytesUnpacks", .only = Only::wine,
         .setup = beyondTwoGibibytes + std::vector{packed("big.nm3", "atlas", Program::linuxVeskal)},
         .program = Program::unveskal, .args = {"big.nm3"},
         .err = unpackerStart("big.nm3", "{big.nm2}") + checks(12 + index.size() + route.size() + bigSize + 46 + 3 * 4, 3) +
                memberLines("big", index, 3),
         .changes = {dir("big.nm2"), file("big.nm2/index.058.nti", index), file("big.nm2/big_00000.nm2", route),
                     sameAs("big.nm2/big_00001.nm2", "atlas/big.nm2"),
                     file("big.nm2/big_00002.nm2", memberBytes("LAST", 16, 40, 5))}},
    };
    const std::vector<Case> packerFailures{
        // --- The packer's options ---
        help("PackerUpperCaseHAsksForHelp", Only::both, Program::veskal, {"-H"}, packerUsage),
        help("PackerDashHelpAsksForHelp", Only::both, Program::veskal, {"-help"}, packerUsage),
        help("PackerSlashHAfterAnOptionAsksForHelp", Only::wine, Program::veskal, {"-i:a.nti", "/H", "atlas"}, packerUsage),
        help("PackerLoneDashIsUnknownBeforeHelp", Only::both, Program::veskal, {"-", "-?"},
             "unknown option -\n" + packerUsage),
        help("PackerSlashQuestionMarkAfterAnUnknownOption", Only::wine, Program::veskal, {"-x", "/?", "-i:atlas.nti"},
             "unknown option -x\n" + packerUsage),
        {.name = "EmptyOptionValueIsNoValue", .args = {"-i:", "-r:r", "-o:x"}, .status = 1,
         .err = packerStart("{}") + " Error: You must have -i: parameter\n"},
        {.name = "OptionsAfterTheFolderAreNotRead", .setup = atlas(),
         .args = {"{atlas}", "-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}"}, .status = 1,
         .err = packerStart("{atlas}") + " Error: You must have -i: parameter\n"},
        {.name = "NothingAfterTheOperandIsReadNotEvenHelp", .setup = atlas(),
         .args = {"atlas", "-i:atlas.nti", "-r:route.nm2", "-o:y.nm3", "-h"}, .status = 1,
         .err = packerStart("{atlas}") + " Error: You must have -i: parameter\n"},
        {.name = "SlashIWithoutARoute", .only = Only::wine, .setup = atlas(),
         .args = {"/i:atlas.nti", "-o:{out.nm3}", "{atlas}"}, .status = 1,
         .err = packerStart("{atlas}") + " Error: You must have -r: parameter\n"},
        {.name = "WithoutAFolderTheAtlasIsTheWorkingDirectory", .only = Only::wine, .setup = atlas(), .cwd = "atlas",
         .args = {"-I:atlas.nti", "/R:route.nm2"}, .status = 1,
         .err = packerStart("{atlas}", "{atlas}") + " Error: You must have -o: parameter\n"},
        {.name = "OptionLettersInEitherCaseAndLaterValuesWin", .only = Only::wine,
         .setup = {file("atlas/route.nm2", route), file("atlas/other.nti", other)},
         .args = {"-I:wrong.nti", "-i", "-x", "/I:other.nti", "-R:route.nm2", "-O:x.nm3", "/o", "atlas"},
         .err = "unknown option -x\n" + packs("{atlas}", "other.nti", "route.nm2", "{x.nm3}"),
         .changes = {file("x.nm3", archiveOf({other, route}))}},

        // --- Inputs the packer can't use ---
        {.name = "MissingFolder", .setup = {file("atlas/route.nm2", route)},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "{atlas/nowhere}"}, .status = 1,
         .err = packerStart("{atlas/nowhere}") + " Path not found: {atlas/nowhere}\n"},
        {.name = "AtlasFolderThatIsAFile", .setup = {file("plain.nm2", "a file")},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "plain.nm2"}, .status = 1,
         .err = packerStart("{plain.nm2}") + " This path is NOT directory: {plain.nm2}\n"},
        {.name = "MissingIndex", .setup = {file("atlas/route.nm2", route)}, .args = usual, .status = 1,
         .err = usualNames(0) + " Error: Can't access file: {atlas/atlas.nti}\n"},
        {.name = "MissingRouteLeavesAnOlderArchive", .setup = atlas({file("out.nm3", older)}),
         .args = {"-i:atlas.nti", "-r:none.nm2", "-o:out.nm3", "{atlas}"}, .status = 1,
         .err = packerNames("{atlas}", "atlas.nti", "none.nm2", "{out.nm3}") + " Error: Can't access file: {atlas/none.nm2}\n"},
        {.name = "OutputInAMissingFolder", .setup = atlas(),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{no-such-dir/out.nm3}", "{atlas}"}, .status = 1,
         .err = packerNames("{atlas}", "atlas.nti", "route.nm2", "{no-such-dir/out.nm3}") +
                " Error: Can't create file: {no-such-dir/out.nm3}\n"},
        {.name = "FolderNamedAsTheRouteRemovesTheOlderArchive",
         .setup = atlas({dir("atlas/folder.nm2"), file("out.nm3", older)}),
         .args = {"-i:atlas.nti", "-r:folder.nm2", "-o:out.nm3", "{atlas}"}, .status = 1,
         .err = packerNames("{atlas}", "atlas.nti", "folder.nm2", "{out.nm3}", 1) +
                " Error open file {atlas/folder.nm2}.\n", .changes = {gone("out.nm3")}},
        {.name = "OldMemberVersionLeavesAnotherNameOfTheOutputEmpty",
         .setup = atlas({file("atlas/old.nm2", memberBytes("OLD0", 15, 4)), file("out.nm3", older),
                         hardLink("other-name.nm3", "out.nm3")}), .args = usual, .status = 1,
         .err = usualNames(2) + " Non valid version [0xf] route file [{atlas/old.nm2}].\n",
         .changes = {gone("out.nm3"), file("other-name.nm3", "")}},
        headerFails("ShortIndexHeader", "atlas.nti", Bytes("NIDX\x3a", 5), 0, " Error read nti header file {atlas/atlas.nti}.\n"),
        headerFails("OldIndexVersion", "atlas.nti", memberBytes("NIDX", 57, 10), 0,
                    " Non valid version [0x39] index file [{atlas/atlas.nti}].\n"),
        headerFails("EmptyRoute", "route.nm2", Bytes(), 1, " Error read nm2 header file {atlas/route.nm2}.\n"),
        headerFails("OldRouteVersion", "route.nm2", memberBytes("RRRR", 15, 10), 1,
                    " Non valid version [0xf] route file [{atlas/route.nm2}].\n"),
        headerFails("ShortMemberHeader", "x.nm2", Bytes("XXXX\x10", 5), 2,
                    " Error read nm2 header file {atlas/x.nm2}.\n"),
        {.name = "PayloadBeyondFourGibibytesIsRefusedAtOnce",
         .setup = atlas({sparse("atlas/big.nm2", memberBytes("BIGG", 16, 0), limit + 1 - index.size() - route.size())}),
         .args = usual, .status = 1,
         .err = usualNames(2) + " Error archive exceeds 4 GiB file {atlas/big.nm2}.\n"},
        {.name = "RouteAloneBeyondFourGibibytesIsRefusedFirst",
         .setup = atlas({sparse("atlas/route.nm2", route, 5 * limit), file("atlas/more.nm2", more)}), .args = usual,
         .status = 1, .err = usualNames(1) + " Error archive exceeds 4 GiB file {atlas/route.nm2}.\n"},

        // --- An output that names an input ---
        outputIsAnInput("OutputThatIsTheIndex", Only::both, {}, "{atlas/atlas.nti}", "{atlas/atlas.nti}", "{atlas/atlas.nti}"),
        outputIsAnInput("OutputThatIsTheRouteThroughADot", Only::wine, {}, "atlas\\.\\route.nm2", "{atlas/route.nm2}",
                        "{atlas/route.nm2}"),
        outputIsAnInput("OutputThatIsAnotherNameOfAMember", Only::both, {hardLink("alias.nm3", "atlas/more.nm2")},
                        "alias.nm3", "{alias.nm3}", "{atlas/more.nm2}"),
        outputIsAnInput("OutputThatLinksToTheIndex", Only::both, {link("index-link.nm3", "atlas/atlas.nti")},
                        "{index-link.nm3}", "{index-link.nm3}", "{atlas/atlas.nti}"),
        outputIsAnInput("OutputThatWouldBeAMember", Only::both, {}, "{atlas/NEW.NM2}", "{atlas/NEW.NM2}", "{atlas/NEW.NM2}"),
        outputIsAnInput("OutputThatTheListingWouldMeetAsAMember", Only::both, {}, "{atlas/Self.NM2}", "{atlas/Self.NM2}",
                        "{atlas/Self.NM2}"),
    };
    table.insert(table.end(), packerFailures.begin(), packerFailures.end());
    const std::vector<Entry> linksInFolder{file("west.nm3", pair), file("elsewhere.txt", "not a member"),
                                           link("west.nm2/archive.nm3", "../west.nm3"),
                                           link("west.nm2/west_00000.nm2", "../elsewhere.txt")};
    const std::vector<Case> unpacker{
        help("UnpackerWithoutArgumentsShowsUsage", Only::both, Program::unveskal, {}, unpackerUsage),
        help("UnpackerDashHelpAsksForHelp", Only::both, Program::unveskal, {"-help"}, unpackerUsage),
        help("UnpackerHelpBeforeTheArchive", Only::both, Program::unveskal, {"-?", "west.nm3"}, unpackerUsage),
        help("UnpackerSlashHAsksForHelp", Only::wine, Program::unveskal, {"/h", "west.nm3"}, unpackerUsage),
        help("UnpackerUnknownSlashOption", Only::wine, Program::unveskal, {"/q"}, "unknown option /q\n" + unpackerUsage),
        {.name = "UnpackerUnknownOptionsWithoutAnArchive", .setup = {file("west.nm3", west)},
         .program = Program::unveskal, .args = {"-", "-i:west.nti"}, .status = 1,
         .err = "unknown option -\nunknown option -i:west.nti\n" + unpackerUsage},
        {.name = "UnpackerReportsUnknownOptionsAndNeverSeesLaterOnes", .setup = {file("west.nm3", west)},
         .program = Program::unveskal, .args = {"-x", "-Q:y", "west.nm3", "-h", "other.nm3"},
         .err = "unknown option -x\nunknown option -Q:y\n" + unpacks("west.nm3", "{west.nm2}", "west", {index, route, more}),
         .changes = unpacked("west.nm2", "west", {index, route, more})},
        {.name = "ArchiveWithoutAnExtension", .setup = {file("west", west)}, .program = Program::unveskal,
         .args = {"west"}, .err = unpacks("west", "{west.nm2}", "west", {index, route, more}),
         .changes = unpacked("west.nm2", "west", {index, route, more})},
        {.name = "OnlyTheLastExtensionGoes", .setup = {file("a.b.xyz", west)}, .program = Program::unveskal,
         .args = {"{a.b.xyz}"}, .err = unpacks("{a.b.xyz}", "{a.b.nm2}", "a.b", {index, route, more}),
         .changes = unpacked("a.b.nm2", "a.b", {index, route, more})},
        {.name = "DirectoryGivenAsTheArchiveIsNotEmptied", .setup = unpacked("a.b.nm2", "a.b", {index, route, more}),
         .program = Program::unveskal, .args = {"a.b.nm2"}, .status = 1,
         .err = unpackerStart("a.b.nm2", "{a.b.nm2}") + " File {a.b.nm2} NOT found.\n"},
        {.name = "DotFromInsideTheFolderIsNotEmptied", .setup = unpacked("a.b.nm2", "a.b", {index, route, more}),
         .cwd = "a.b.nm2", .program = Program::unveskal, .args = {"."}, .status = 1,
         .err = unpackerStart(".", "{a.b.nm2}") + " File {a.b.nm2} NOT found.\n"},
        {.name = "MissingArchiveAfterTheFolderIsEmptied", .setup = {file("west.nm2/old.nm2", "old")},
         .program = Program::unveskal, .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + " File {west.nm3} NOT found.\n",
         .changes = {gone("west.nm2/old.nm2")}},
        {.name = "NotAnArchiveNamedThroughADotDot", .only = Only::wine,
         .setup = {file("west.nm3", "GNM4 not an archive"), dir("west.nm2")}, .program = Program::unveskal,
         .args = {"sub/../west.nm3"}, .status = 1,
         .err = unpackerStart("sub/../west.nm3", "{west.nm2}") + " Not NM3 file: {west.nm3}.\n"},
        {.name = "UnpackFolderThatIsAFile", .setup = {file("west.nm3", west), file("west.nm2", "a file")},
         .program = Program::unveskal, .args = {"{west.nm3}"}, .status = 1,
         .err = unpackerStart("{west.nm3}", "{west.nm2}") + " This path is NOT directory.\n"},
        {.name = "ArchiveNamedAsItsOwnFolder", .setup = {file("x.nm2", pair)}, .program = Program::unveskal,
         .args = {"x.nm2"}, .status = 1, .err = unpackerStart("x.nm2", "{x.nm2}") + " This path is NOT directory.\n"},
        {.name = "OldFilesOfEveryKindGoAndSubFoldersStay",
         .setup = {file("west.nm3", archiveOf({indexed, route})), dir("west.nm2/keep/deeper"),
                   file("west.nm2/keep/inner.nm2", "inner"), file("west.nm2/index.058.nti", "old index"),
                   file("west.nm2/.hidden", "hidden"), file("west.nm2/notes.txt", "notes")},
         .program = Program::unveskal, .args = {"west.nm3"},
         .err = unpacks("west.nm3", "{west.nm2}", "west", {indexed, route}),
         .changes = unpacked("west.nm2", "west", {indexed, route}) +
                    std::vector{gone("west.nm2/index.058.nti"), gone("west.nm2/.hidden"), gone("west.nm2/notes.txt")}},
        {.name = "EqualFooterEntriesGiveEmptyMembers",
         .setup = {file("west.nm3", archiveOf({index, "", route, "", ""}))}, .program = Program::unveskal,
         .args = {"west.nm3"}, .err = unpacks("west.nm3", "{west.nm2}", "west", {index, "", route, "", ""}),
         .changes = unpacked("west.nm2", "west", {index, "", route, "", ""})},
        {.name = "DirectoryWhereTheIndexGoes", .setup = {file("west.nm3", west), dir("west.nm2/index.058.nti")},
         .program = Program::unveskal, .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(west.size(), 2) +
                " File {west.nm2/index.058.nti} NOT created.\n"},
        {.name = "DirectoryWhereAMemberGoes", .setup = {file("west.nm3", west), dir("west.nm2/west_00001.nm2")},
         .program = Program::unveskal, .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(west.size(), 2) + memberLines("west", index, 1) +
                " File {west.nm2/west_00001.nm2} NOT created.\n",
         .changes = {file("west.nm2/index.058.nti", index), file("west.nm2/west_00000.nm2", route)}},
        {.name = "FolderThatLinksToTheArchivesOwnDirectory",
         .setup = {file("west.nm3", west), file("old.txt", "old"), link("west.nm2", ".")}, .program = Program::unveskal,
         .args = {"west.nm3"}, .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route, more}),
         .changes = {gone("old.txt"), file("index.058.nti", index), file("west_00000.nm2", route),
                     file("west_00001.nm2", more)}},
        {.name = "OtherNamesOfTheArchiveInTheFolderStay",
         .setup = {file("west.nm3", west), dir("west.nm2"), hardLink("west.nm2/copy.nm3", "west.nm3"),
                   hardLink("west.nm2/west_00001.nm2", "west.nm3")},
         .program = Program::unveskal, .args = {"west.nm3"},
         .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(west.size(), 2) + memberLines("west", index, 1) +
                " File {west.nm2/west_00001.nm2} NOT created.\n",
         .changes = {file("west.nm2/index.058.nti", index), file("west.nm2/west_00000.nm2", route)}},
        // A link can't go under Wine without taking its target, so both stay;
        // on Linux the links go and their targets stay.
        {.name = "LinksInTheFolderNeverLeadOutOfIt", .only = Only::wine, .setup = linksInFolder,
         .program = Program::unveskal, .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(pair.size(), 1) + memberLines("west", index, 0) +
                " File {west.nm2/west_00000.nm2} NOT created.\n",
         .changes = {file("west.nm2/index.058.nti", index)}},
        {.name = "LinksInTheFolderGoWithoutTheirTargets", .only = Only::native, .setup = linksInFolder,
         .program = Program::unveskal, .args = {"west.nm3"},
         .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route}),
         .changes = unpacked("west.nm2", "west", {index, route}) + std::vector{gone("west.nm2/archive.nm3")}},
        {.name = "PackersOutputGoesWhereTheUsersLinkLeads",
         .setup = atlas({file("elsewhere.txt", "not a member"), link("links/out.nm3", "../elsewhere.txt")}),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:links/out.nm3", "{atlas}"},
         .err = packs("{atlas}", "{links/out.nm3}"), .changes = {file("elsewhere.txt", pair)}},

        // --- The footer's size comes from the file's ---
        {.name = "OneWholeFooterEntry", .setup = {file("west.nm3", members + entry)}, .program = Program::unveskal,
         .args = {"west.nm3"}, .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route}),
         .changes = unpacked("west.nm2", "west", {index, route})},
        {.name = "OneFooterEntryAndAByteMore", .setup = {file("west.nm3", members + entry + "\xff")},
         .program = Program::unveskal, .args = {"west.nm3"},
         .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route}, pair.size() + 1),
         .changes = unpacked("west.nm2", "west", {index, route})},
        {.name = "OneFooterEntryAndTwoBytesMore", .setup = {file("west.nm3", members + entry + "\xff\xff")},
         .program = Program::unveskal, .args = {"west.nm3"},
         .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route}, pair.size() + 2),
         .changes = unpacked("west.nm2", "west", {index, route})},
        unpackFails("ThreeMoreBytesAreASecondEntryThatIsntThere", members + entry + "\x01\x02\x03",
                    checks(pair.size() + 3, 2) + " Error read footer file {west.nm3}.\n"),
        unpackFails("FooterEntryCutShort", members + entry.substr(0, 3),
                    checks(pair.size() - 1, 1) + " Error read footer file {west.nm3}.\n"),
        unpackFails("NoBytesAfterTheMembers", members,
                    checks(members.size(), std::nullopt) + " Error get filesize file {west.nm3}.\n"),
        unpackFails("FewerBytesThanTheMembersNeed", headerOf(0xFFFFFFFF) + index + route + entry,
                    checks(pair.size(), std::nullopt) + " Error get filesize file {west.nm3}.\n"),
        unpackFails("OneByteIsNoEntry", members + entry.substr(0, 1),
                    checks(pair.size() - 3, 0) + " Error calculate footerSize file {west.nm3}.\n"),
        unpackFails("TwoBytesAreNoEntry", members + entry.substr(0, 2),
                    checks(pair.size() - 2, 0) + " Error calculate footerSize file {west.nm3}.\n"),
        {.name = "FooterClaimingMoreEntriesThanCanBeCounted",
         .setup = {sparse("west.nm3", shortIndex, (1ull << 34) + 21)}, .program = Program::unveskal,
         .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks((1ull << 34) + 21, 4294967297) +
                " Error calculate footerSize file {west.nm3}.\n", .changes = {dir("west.nm2")}},
        {.name = "HugeFooterWhoseSecondEntryGoesBack",
         .setup = {sparse("west.nm3", shortIndex + u32le(5), (1ull << 33) + 22)}, .program = Program::unveskal,
         .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks((1ull << 33) + 22, 2147483649) +
                " Error invalid footer file {west.nm3}.\n", .changes = {dir("west.nm2")}},

        // --- The header, the index and the footer's order ---
        unpackFails("EmptyFile", "", " Error reading header file {west.nm3}.\n"),
        unpackFails("HeaderCutShort", headerOf(0).substr(0, 11), " Error reading header file {west.nm3}.\n"),
        unpackFails("LowerCaseTag", "gnm3" + pair.substr(4), " Not NM3 file: {west.nm3}.\n"),
        unpackFails("IndexHeaderRunsShort", headerOf(0) + u32le(0),
                    checks(16, 1) + " Error fread nti header file {west.nm3}.\n"),
        unpackFails("IndexWithoutItsTag", untagged, checks(untagged.size(), 1) + " No valid index in file: {west.nm3}.\n"),
        unpackFails("FooterEntriesOutOfOrder", withFooter(payload, {31, 30}),
                    checks(payload.size() + 20, 2) + " Error invalid footer file {west.nm3}.\n"),
        unpackFails("FooterEntryPastTheEnd", withFooter(payload, {30, 0xFFFFFFFF}),
                    checks(payload.size() + 20, 2) + " Error invalid footer file {west.nm3}.\n"),
        unpackFails("OnlyFooterEntryPastTheMembers", withFooter(payload, {static_cast<std::uint32_t>(payload.size() + 1)}),
                    checks(payload.size() + 16, 1) + " Error invalid footer file {west.nm3}.\n"),
    };
    table.insert(table.end(), unpacker.begin(), unpacker.end());

    // --- Windows: drives, extended paths, device names, names the console can't show ---
    const Bytes rootMore = memberBytes("MORE", 20, 12);
    const Bytes spread = memberBytes("MORE", 16, 9, 4);
    const std::vector<Entry> root{file("root/idx.nti", index), file("root/route.nm2", route), file("root/more.nm2", rootMore),
                                  drive("x", "root")};
    const std::vector<Entry> withDevices =
        atlas({file("atlas/CON.nm2", devices.at("CON.nm2")), file("atlas/COM1.nm2", devices.at("COM1.nm2")),
               file("atlas/nul.nm2", devices.at("nul.nm2"))});
    const std::vector<Bytes> deviceMembers{index, route, devices.at("COM1.nm2"), devices.at("CON.nm2"), devices.at("nul.nm2")};
    const std::vector<Entry> relative{file("root/t/atlas/atlas.nti", index), file("root/t/atlas/route.nm2", route),
                                      drive("x", "root")};
    const std::vector<Entry> twoFileSystems{tmpfs("one"), tmpfs("two"), file("one/route.nm2", route)};
    const std::vector<Case> windows{
        {.name = "DriveRootAtlasAndAnIndexNamedOnAnotherDrive", .only = Only::wine, .setup = root,
         .args = {"-i:D:\\elsewhere\\idx.nti", "-r:route.nm2", "-o:{out.nm3}", "X:\\"},
         .err = packs("X:", "idx.nti", "route.nm2", "{out.nm3}", {"more.nm2"}),
         .changes = {file("out.nm3", archiveOf({index, route, rootMore}))}},
        {.name = "DriveRootInTheExtendedForm", .only = Only::wine, .setup = root,
         .args = {"-i:idx.nti", "-r:route.nm2", "-o:{out.nm3}", "\\\\?\\X:\\"},
         .err = packs("\\\\?\\X:", "idx.nti", "route.nm2", "{out.nm3}", {"more.nm2"}),
         .changes = {file("out.nm3", archiveOf({index, route, rootMore}))}},
        {.name = "ArchiveAtADriveRootUnpacksRightBelowIt", .only = Only::wine,
         .setup = root + std::vector{file("root/top.nm3", archiveOf({index, route, rootMore}))},
         .program = Program::unveskal, .args = {"X:\\top.nm3"},
         .err = unpacks("X:\\top.nm3", "X:\\top.nm2", "top", {index, route, rootMore}),
         .changes = unpacked("root/top.nm2", "top", {index, route, rootMore})},
        {.name = "ExtendedPathsAndDeviceNamesPack", .only = Only::wine, .setup = withDevices,
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:\\\\?\\{ok.nm3}", "\\\\?\\{atlas}"},
         .err = packs("\\\\?\\{atlas}", "\\\\?\\{ok.nm3}", {"COM1.nm2", "CON.nm2", "nul.nm2"}),
         .changes = {file("ok.nm3", deviceArchive)}},
        {.name = "ExtendedPathsAndOldNamesEndingInADotOrASpaceUnpack", .only = Only::wine,
         .setup = {file("ok.nm3", deviceArchive), file("ok.nm2/dot.", "old"), file("ok.nm2/space ", "old"),
                   file("ok.nm2/ok_00009.nm2", "old")},
         .program = Program::unveskal, .args = {"\\\\?\\{ok.nm3}"},
         .err = unpacks("\\\\?\\{ok.nm3}", "\\\\?\\{ok.nm2}", "ok", deviceMembers),
         .changes = unpacked("ok.nm2", "ok", deviceMembers) +
                    std::vector{gone("ok.nm2/dot."), gone("ok.nm2/space "), gone("ok.nm2/ok_00009.nm2")}},
        {.name = "ExtendedFolderThatIsAFile", .only = Only::wine,
         .setup = {file("ok.nm3", deviceArchive), file("ok.nm2", "a file")}, .program = Program::unveskal,
         .args = {"\\\\?\\{ok.nm3}"}, .status = 1,
         .err = unpackerStart("\\\\?\\{ok.nm3}", "\\\\?\\{ok.nm2}") + " This path is NOT directory.\n"},
        // The system keeps X:'s directory when the shell changes drives.
        {.name = "DriveRelativePathsPack", .only = Only::wine, .setup = relative, .program = Program::shell,
         .args = {"X: & cd \\t & Z: & {veskal} -i:atlas.nti -r:route.nm2 -o:X:ok.nm3 X:atlas"},
         .err = packs("X:\\t\\atlas", "X:\\t\\ok.nm3"), .changes = {file("root/t/ok.nm3", pair)}},
        {.name = "DriveRelativePathsUnpack", .only = Only::wine,
         .setup = relative + std::vector{file("root/t/ok.nm3", pair)}, .program = Program::shell,
         .args = {"X: & cd \\t & Z: & {unveskal} X:ok.nm3"},
         .err = unpacks("X:ok.nm3", "X:\\t\\ok.nm2", "ok", {index, route}),
         .changes = unpacked("root/t/ok.nm2", "ok", {index, route})},
        // Not UTF-8: the system shows all three as U+FFFD.
        {.name = "NamesTheSystemCantShowAreNeverPackedForOneAnother", .only = Only::wine,
         .setup = atlas({file("atlas/\xff.nm2", memberBytes("BADN", 16, 3)), file("atlas/\xfe.nm2", memberBytes("BADN", 16, 3)),
                         file("atlas/\xfd.nm2", memberBytes("BADN", 16, 3))}),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "{atlas}"}, .status = 1,
         .err = usualNames(2) + " Error open file {atlas/\xef\xbf\xbd.nm2}.\n"},
        // Two file systems that number their files alike: Wine gives both the
        // serial 0, and the first files made in each have the same numbers.
        {.name = "FilesOnFileSystemsThatNumberAlikeAreToldApart", .only = Only::wine,
         .setup = twoFileSystems + std::vector{file("two/more.nm2", spread), file("one/atlas.nti", index),
                                               link("one/more.nm2", "../two/more.nm2")},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "{one}"},
         .err = packs("{one}", "{out.nm3}", {"more.nm2"}),
         .changes = {file("out.nm3", archiveOf({index, route, spread}))}},
        {.name = "OutputNumberedAsTheIndexIsNotTheIndex", .only = Only::wine,
         .setup = twoFileSystems + std::vector{file("two/pad.nm3", "pad"), file("one/atlas.nti", index),
                                               file("two/first.nm3", "old")},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{two/first.nm3}", "{one}"},
         .err = packs("{one}", "{two/first.nm3}"), .changes = {file("two/first.nm3", pair)}},
    };
    table.insert(table.end(), windows.begin(), windows.end());

    // --- Windows: which file a name is, and runs that share no file ---
    // Under Wine every file system but the one holding a drive's root has
    // serial 0 (a tmpfs here): files there are told apart by their final
    // paths, which can't tell two names of one file apart, so that a file
    // with another name may be any input. {hold} holds a file open as
    // another run would while the command after it runs.
    const std::vector<Entry> unnumbered{tmpfs("t"), file("t/atlas/atlas.nti", index), file("t/atlas/route.nm2", route)};
    const auto outputIsAnUnnumberedInput = [&](std::string name, const std::string& input) {
        return Case{.name = std::move(name), .only = Only::wine,
                    .setup = unnumbered + std::vector{file("t/atlas/more.nm2", more), hardLink("t/alias.nm3", input)},
                    .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{t/alias.nm3}", "{t/atlas}"}, .status = 1,
                    .err = packerNames("{t/atlas}", "atlas.nti", "route.nm2", "{t/alias.nm3}") +
                           " Error open file {" + input + "}.\n"};
    };
    // The transcript of a run at the root of the drive X:, which a file can
    // hold.
    const std::string atX = banner + testsupport::packerSaid("X:\\", "X:\\atlas",
                                                             {"X:\\atlas\\atlas.nti", "X:\\atlas\\route.nm2", "X:\\out.nm3"});
    const std::vector<Case> sameFileOnWindows{
        // The only input with as many names as the output is the one it may
        // be, and is named, as the Linux build names it.
        outputIsAnUnnumberedInput("OutputThatIsAnotherNameOfTheIndexWhereNumbersAreNotSure", "t/atlas/atlas.nti"),
        outputIsAnUnnumberedInput("OutputThatIsAnotherNameOfTheRouteWhereNumbersAreNotSure", "t/atlas/route.nm2"),
        outputIsAnUnnumberedInput("OutputThatIsAnotherNameOfAMemberWhereNumbersAreNotSure", "t/atlas/more.nm2"),
        {.name = "OutputWithAnotherNameWhereNumbersAreNotSureMayBeAnInput", .only = Only::wine,
         .setup = unnumbered + std::vector{file("t/out.nm3", older), hardLink("t/other.nm3", "t/out.nm3")},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{t/out.nm3}", "{t/atlas}"}, .status = 1,
         .err = packerNames("{t/atlas}", "atlas.nti", "route.nm2", "{t/out.nm3}") + " Error open file {t/atlas/atlas.nti}.\n"},
        {.name = "NamesThatDifferOnlyInCaseAreTwoFilesWhereNumbersAreNotSure", .only = Only::wine,
         .setup = unnumbered + std::vector{file("t/atlas/ROUTE.nm2", more)},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "{t/atlas}"},
         .err = packs("{t/atlas}", "{out.nm3}", {"ROUTE.nm2"}), .changes = {file("out.nm3", archiveOf({index, route, more}))}},
        {.name = "IndexNamedAsAMemberBesideItsUpperCaseNameWhereNumbersAreNotSure", .only = Only::wine,
         .setup = {tmpfs("t"), file("t/atlas/idx.nm2", index), file("t/atlas/route.nm2", route), file("t/atlas/IDX.nm2", more)},
         .args = {"-i:idx.nm2", "-r:route.nm2", "-o:{out.nm3}", "{t/atlas}"},
         .err = packs("{t/atlas}", "idx.nm2", "route.nm2", "{out.nm3}", {"IDX.nm2"}),
         .changes = {file("out.nm3", archiveOf({index, route, more}))}},
        {.name = "AnotherNameOfTheRouteWhereNumbersAreNotSureIsRefused", .only = Only::wine,
         .setup = unnumbered + std::vector{hardLink("t/atlas/route-again.nm2", "t/atlas/route.nm2")},
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{out.nm3}", "{t/atlas}"}, .status = 1,
         .err = packerNames("{t/atlas}", "atlas.nti", "route.nm2", "{out.nm3}", 2) +
                " Error open file {t/atlas/route-again.nm2}.\n"},
        // A name ending in a dot has the final path of the name without it.
        {.name = "NameEndingInADotIsNotTheFileWithoutIt", .only = Only::wine,
         .setup = {tmpfs("t"), file("t/atlas/atlas.nti", index), file("t/atlas/route.nm2.", other),
                   file("t/atlas/route.nm2", route)},
         .args = {"-i:atlas.nti", "-r:route.nm2.", "-o:{out.nm3}", "{t/atlas}"}, .status = 1,
         .err = packerNames("{t/atlas}", "atlas.nti", "route.nm2.", "{out.nm3}", 2) +
                " Error open file {t/atlas/route.nm2}.\n"},

        // The link stays: Wine can't delete it without its target.
        {.name = "FileMadeAtTheEndOfALinkThatLedNowhereGoesWhenTheRunFails", .only = Only::wine,
         .setup = atlas({file("atlas/old.nm2", memberBytes("OLD0", 15, 4)), dir("made"),
                         link("links/out.nm3", "../made/out.nm3")}),
         .args = {"-i:atlas.nti", "-r:route.nm2", "-o:{links/out.nm3}", "{atlas}"}, .status = 1,
         .err = packerNames("{atlas}", "atlas.nti", "route.nm2", "{links/out.nm3}", 2) +
                " Non valid version [0xf] route file [{atlas/old.nm2}].\n"},

        // --- The unpacker's folder: links the emptying leaves are never written through ---
        {.name = "LinkToWhereTheIndexGoesIsNeverWrittenThrough", .only = Only::wine,
         .setup = {file("west.nm3", west), link("west.nm2/west_00001.nm2", "index.058.nti")},
         .program = Program::unveskal, .args = {"west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(west.size(), 2) + memberLines("west", index, 1) +
                " File {west.nm2/west_00001.nm2} NOT created.\n",
         .changes = {file("west.nm2/index.058.nti", index), file("west.nm2/west_00000.nm2", route)}},
        // Held by another run that lets nobody delete it, the other name
        // stays.
        {.name = "LinkToANameThatDiffersOnlyInCaseIsNeverWrittenThrough", .only = Only::wine,
         .setup = {file("west.nm3", pair), file("west.nm2/WEST_00000.nm2", "another file"),
                   link("west.nm2/west_00000.nm2", "WEST_00000.nm2")},
         .program = Program::shell, .args = {"{hold} d rw {west.nm2/WEST_00000.nm2} {unveskal} west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + checks(pair.size(), 1) + memberLines("west", index, 0) +
                " File {west.nm2/west_00000.nm2} NOT created.\n",
         .changes = {file("west.nm2/index.058.nti", index)}},
        {.name = "ReadOnlyFileDeletedFromTheFolderStaysReadOnlyUnderItsOtherName",
         .setup = {file("west.nm3", pair), file("keep.nm2", "kept"), hardLink("west.nm2/old.nm2", "keep.nm2"),
                   readOnly("keep.nm2")},
         .program = Program::unveskal, .args = {"west.nm3"}, .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route}),
         .changes = unpacked("west.nm2", "west", {index, route}) + std::vector{gone("west.nm2/old.nm2"), readOnly("keep.nm2")}},

        // --- Runs that share no file ---
        // A reader that lets others do anything still keeps the packer out.
        {.name = "OutputThatAnotherRunReadsIsNotCreated", .only = Only::wine, .setup = atlas({file("out.nm3", older)}),
         .program = Program::shell,
         .args = {"{hold} r rwd {out.nm3} {veskal} -i:atlas.nti -r:route.nm2 -o:{out.nm3} {atlas}"}, .status = 1,
         .err = usualNames(0) + " Error: Can't create file: {out.nm3}\n"},
        {.name = "ArchiveThatAnotherRunWritesIsNotFound", .only = Only::wine,
         .setup = {file("west.nm3", west), file("west.nm2/old.nm2", "old")}, .program = Program::shell,
         .args = {"{hold} w rwd {west.nm3} {unveskal} west.nm3"}, .status = 1,
         .err = unpackerStart("west.nm3", "{west.nm2}") + " File {west.nm3} NOT found.\n",
         .changes = {gone("west.nm2/old.nm2")}},
        {.name = "ArchiveThatAnotherRunReadsUnpacks", .only = Only::wine, .setup = {file("west.nm3", west)},
         .program = Program::shell, .args = {"{hold} r r {west.nm3} {unveskal} west.nm3"},
         .err = unpacks("west.nm3", "{west.nm2}", "west", {index, route, more}),
         .changes = unpacked("west.nm2", "west", {index, route, more})},
        // The transcript goes into the file, at the root of X: so that it
        // names the same paths in every run; the shell says that the run
        // failed.
        {.name = "StandardErrorThatIsTheOutputIsNotCreated", .only = Only::wine,
         .setup = {file("x/atlas/atlas.nti", index), file("x/atlas/route.nm2", route), drive("x", "x")},
         .program = Program::shell,
         .args = {"X: & cd \\ & {veskal} -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas 2>out.nm3 || echo failed>&2"},
         .status = 1, .err = "failed\r\n",
         .changes = {file("x/out.nm3", atX + " Error: Can't create file: X:\\out.nm3\n")}},
        {.name = "StandardErrorThatIsTheArchiveIsNotFound", .only = Only::wine,
         .setup = {file("x/west.nm3", west), drive("x", "x")}, .program = Program::shell,
         .args = {"X: & cd \\ & {unveskal} west.nm3 2>>west.nm3 || echo failed>&2"}, .status = 1, .err = "failed\r\n",
         .changes = {dir("x/west.nm2"),
                     file("x/west.nm3", west + unpackerStart("west.nm3", "X:\\west.nm2") + " File X:\\west.nm3 NOT found.\n")}},
    };
    table.insert(table.end(), sameFileOnWindows.begin(), sameFileOnWindows.end());
    // --- nm3info: the listing, its JSON, a member beside unveskal's, a check ---
    const Bytes big = memberBytes("BIG0", 300, 3 * 1024 * 1024 + 5, 99);
    const std::string westMembers =
        "      0          12          36  NIDX       58  index.058.nti\n"
        "      1          48          56  RTE0       16  west_00000.nm2\n"
        "      2         104          20  MORE       16  west_00001.nm2\n";
    const std::vector<Case> info{
        {.name = "Nm3infoLists", .setup = {file("west.nm3", west)}, .program = Program::nm3info, .args = {"west.nm3"},
         .out = "west.nm3:\n member      offset        size  tag   version  name\n" + westMembers +
                "3 members, 112 payload bytes, 132 bytes: sound\n"},
        {.name = "Nm3infoListsAsJson", .setup = {file("west.nm3", west), file("bad.nm3", "GNM4" + west.substr(4))},
         .program = Program::nm3info, .args = {"--json", "west.nm3", "bad.nm3"}, .status = 1,
         .err = "nm3info: bad.nm3: not an NM3 archive\n",
         .out = "{\"archives\": [\n"
                "  {\"path\": \"west.nm3\", \"members\": [\n"
                "    {\"number\": 0, \"name\": \"index.058.nti\", \"offset\": 12, \"size\": 36, \"tag\": \"NIDX\", \"version\": 58, \"note\": null},\n"
                "    {\"number\": 1, \"name\": \"west_00000.nm2\", \"offset\": 48, \"size\": 56, \"tag\": \"RTE0\", \"version\": 16, \"note\": null},\n"
                "    {\"number\": 2, \"name\": \"west_00001.nm2\", \"offset\": 104, \"size\": 20, \"tag\": \"MORE\", \"version\": 16, \"note\": null}\n"
                "  ], \"count\": 3, \"payload\": 112, \"size\": 132, \"verdict\": \"sound\", \"reason\": null, \"note\": null},\n"
                "  {\"path\": \"bad.nm3\", \"members\": [], \"count\": null, \"payload\": null, \"size\": null, \"verdict\": \"damaged\", \"reason\": \"not an NM3 archive\", \"note\": null}\n"
                "]}\n"},
        {.name = "Nm3infoWritesAMemberAsUnveskalDoes",
         .setup = {file("big.nm3", archiveOf({index, route, big})), unpackedBy("big.nm3", Program::unveskal)},
         .program = Program::nm3info, .args = {"-x", "2", "big.nm3"}, .outFile = "member.nm2",
         .changes = {sameAs("member.nm2", "big.nm2/big_00001.nm2")}},
        {.name = "Nm3infoChecks", .setup = {file("west.nm3", west), file("cut.nm3", west.substr(0, west.size() - 1))},
         .program = Program::nm3info, .args = {"-t", "west.nm3", "cut.nm3", "{none.nm3}"}, .status = 1,
         .err = "nm3info: cut.nm3: its footer is cut short\nnm3info: {none.nm3}: no such file\n"},
    };
    table.insert(table.end(), info.begin(), info.end());

    // The footer's table grows past 512 entries.
    Case many{.name = "TableGrowsPastFiveHundredTwelveMembers", .setup = atlas(), .args = usual};
    std::vector<Bytes> manyMembers{index, route};
    std::vector<std::string> manyNames;
    for (unsigned i = 0; i < 600; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%05u.nm2", i);
        manyNames.push_back(name);
        manyMembers.push_back(memberBytes("MMMM", 16, i % 13, i));
        many.setup.push_back(file("atlas/" + manyNames.back(), manyMembers.back()));
    }
    many.err = packs("{atlas}", "{out.nm3}", manyNames);
    many.changes = {file("out.nm3", archiveOf(manyMembers))};
    table.push_back(many);
    return table;
}

}  // namespace e2e
