// The Windows programs, cross-built with mingw-w64, run under Wine in fresh
// folders: whole transcripts, exit statuses and bytes, with every path in
// Windows form (Wine's drive Z: is the Linux root). The Linux programs of
// this build pack and unpack beside them, to show that archives pass between
// the two.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "cli/frame.h"
#include "support/archives.h"
#include "support/run.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using testsupport::archiveOf;
using testsupport::Bytes;
using testsupport::memberBytes;
using testsupport::packedBefore;
using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::writeFile;

const std::string prefix = WINE_PREFIX;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Wine's prefix for the suite, made when missing. Its server stays up for
// the whole suite, so that each run starts in a fraction of a second, and is
// stopped at the end with Wine's background processes.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("WINEPREFIX", prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        // No installers for .NET or the HTML engine, and no windows.
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const std::string log = " >>" + quoted(prefix + ".log") + " 2>&1";
        if (!testsupport::fileExists(prefix + "/system.reg")) {
            ASSERT_EQ(std::system((quoted(WINE64) + " wineboot -i" + log).c_str()), 0);
            ASSERT_EQ(std::system((quoted(WINESERVER) + " -w" + log).c_str()), 0);
        }
        // Fails when a server is up already, which then serves as well.
        std::system((quoted(WINESERVER) + " -p" + log).c_str());
        // Wine's own background processes start with the first program and
        // stay with the server: they must not hold the tests' pipes open.
        ASSERT_EQ(std::system((quoted(WINE64) + " cmd.exe /c exit" + log).c_str()), 0);
    }
    void TearDown() override { std::system((quoted(WINESERVER) + " -k >/dev/null 2>&1").c_str()); }
};

const auto* const wine = ::testing::AddGlobalTestEnvironment(new WineEnvironment);

const std::string packerUsage =
    "usage:\n veskal.exe [ -? | -h | -i:indexfile.nti -r:routefile.nm2 -o:outfile.nm3 [foldername] ]\n\n";
const std::string unpackerUsage = "usage:\n unveskal.exe [ -? | -h | filename.nm3 ]\n\n";

using testsupport::Files;

// The regular files right inside `dir`, by name.
Files filesIn(const std::string& dir) {
    Files files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) files[entry.path().filename()] = readFile(entry.path());
    }
    return files;
}

class Wine : public ::testing::Test {
protected:
    Wine() { fs::create_directory(atlas); }
    ~Wine() override {
        if (!drive.empty()) fs::remove(prefix + "/dosdevices/" + drive);
    }

    // `path` as Windows programs under Wine name it.
    static std::string win(const std::string& path) {
        std::string name = "Z:" + path;
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
        return name;
    }

    RunResult runWine(const char* program, std::vector<std::string> args, const std::string& workingDir) const {
        args.insert(args.begin(), program);
        RunOptions options;
        options.workingDir = workingDir.empty() ? base : workingDir;
        // Archives beyond 2 GiB take a while under an emulated 32-bit Wine.
        options.timeoutSeconds = 600;
        const RunResult result = testsupport::runProgram(WINE64, args, options);
        // Both programs print their banner before anything else, so a run
        // that printed nothing at all never started: Wine under load now and
        // then fails to start a program. One more try tells that from a fault
        // of the program, which would fail the same way again.
        if (result.status != 0 && result.out.empty() && result.err.empty()) {
            return testsupport::runProgram(WINE64, args, options);
        }
        return result;
    }
    RunResult veskal(const std::vector<std::string>& args, const std::string& workingDir = {}) const {
        return runWine(VESKAL_EXE, args, workingDir);
    }
    RunResult unveskal(const std::vector<std::string>& args, const std::string& workingDir = {}) const {
        return runWine(UNVESKAL_EXE, args, workingDir);
    }

    // Makes the drive `letter` (lower case) stand for `target`.
    void mapDrive(const std::string& letter, const std::string& target) {
        drive = letter + ":";
        fs::remove(prefix + "/dosdevices/" + drive);
        fs::create_directory_symlink(target, prefix + "/dosdevices/" + drive);
    }

    // The packer's transcript up to its file lines, run from the scratch
    // folder.
    std::string packStart(const std::string& atlasDir) const {
        return cli::bannerText() + " - working Dir: " + win(base) + "\n - atlas Dir  : " + atlasDir + "\n";
    }
    std::string packStart(const std::string& atlasDir, const std::string& index, const std::string& route,
                          const std::string& out) const {
        return packStart(atlasDir) + " - indexFile: " + index + "\n - routeFile: " + route + "\n - outFile  : " + out +
               "\n";
    }
    static std::string indexLine(const std::string& path) { return "   -   nti file [" + path + "] - Ok\n"; }
    static std::string routeLine(const std::string& path) { return "   - route file [" + path + "] - Ok\n"; }
    static std::string nm2Line(const std::string& path) { return "   -   nm2 file [" + path + "] - Ok\n"; }

    // The unpacker's transcript up to its member lines.
    static std::string unpackStart(const std::string& operand, const std::string& folder) {
        return cli::bannerText() + "NM3 file name : " + operand + "\nFolder path   : " + folder + "\n";
    }
    static std::string unpackChecks(std::size_t fileSize, unsigned footerSize) {
        char size[32];
        std::snprintf(size, sizeof size, "%08zx", fileSize);
        return "Check NM3 tag - Ok\n - fileSize = [0x" + std::string(size) + "]\n - footerSize (count) = [" +
               std::to_string(footerSize) + "]\n";
    }
    static std::string memberLines(const std::string& baseName, unsigned version, unsigned count) {
        char line[64];
        std::snprintf(line, sizeof line, "   - nti file [index.%03u.nti] - Ok\n", version);
        std::string lines = line;
        for (unsigned k = 0; k < count; ++k) {
            std::snprintf(line, sizeof line, "#%05u [", k);
            char number[16];
            std::snprintf(number, sizeof number, "_%05u.nm2", k);
            lines += "   - nm2 file " + std::string(line) + baseName + number + "] - Ok\n";
        }
        return lines;
    }

    testsupport::ScratchDir dir;
    // Wine names the working directory by its real path.
    const std::string base = fs::canonical(dir.path());
    const std::string atlas = base + "/atlas";
    const Bytes index = memberBytes("NIDX", 58, 30, 1);
    const Bytes route = memberBytes("RTE0", 16, 50, 2);
    std::string drive;
};

TEST_F(Wine, WorkedExampleComesOutToTheByte) {
    writeFile(atlas + "/atlas.nti", Bytes("NIDX\x3a\0" "ab", 8));
    writeFile(atlas + "/route.nm2", Bytes("ROUT\x10\x00wxyz", 10));
    writeFile(atlas + "/more.nm2", Bytes("MORE\x10\x00z", 7));
    const std::string a = win(atlas);

    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + win(base + "/out.nm3"), a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + nm2Line(a + "\\more.nm2"));
    const Bytes expected("GNM3\0\0\0\0\x19\0\0\0"
                         "NIDX\x3a\0ab"
                         "ROUT\x10\0wxyz"
                         "MORE\x10\0z"
                         "\x08\0\0\0\x12\0\0\0",
                         45);
    EXPECT_EQ(readFile(base + "/out.nm3"), expected);

    // And back, into a folder that held an old read-only file and keeps its
    // sub-folder.
    fs::create_directories(base + "/out.nm2/keep");
    writeFile(base + "/out.nm2/keep/inner.nm2", "stays");
    writeFile(base + "/out.nm2/old.nm2", "goes");
    fs::permissions(base + "/out.nm2/old.nm2", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const RunResult back = unveskal({"out.nm3"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.out, "");
    EXPECT_EQ(back.err, unpackStart("out.nm3", win(base + "/out.nm2")) + unpackChecks(45, 2) + memberLines("out", 58, 2));
    EXPECT_EQ(filesIn(base + "/out.nm2"), (Files{{"index.058.nti", Bytes("NIDX\x3a\0" "ab", 8)},
                                                 {"out_00000.nm2", Bytes("ROUT\x10\x00wxyz", 10)},
                                                 {"out_00001.nm2", Bytes("MORE\x10\x00z", 7)}}));
    EXPECT_EQ(readFile(base + "/out.nm2/keep/inner.nm2"), "stays");
}

TEST_F(Wine, FurtherFilesAreSortedAndTheRouteIsFoundInAnyCase) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/Route.nm2", route);
    const Files further{{"b.nm2", memberBytes("BBBB", 16, 6)},    {"A.nm2", memberBytes("AAAA", 17, 7)},
                        {"_z.Nm2", memberBytes("ZZZZ", 0xFFFF, 9)}, {"c d.nm2", memberBytes("CCCC", 16, 10)},
                        {"-e.nm2", memberBytes("EEEE", 16, 11)}};
    for (const auto& [name, bytes] : further) writeFile(atlas + "/" + name, bytes);
    writeFile(atlas + "/notes.txt", "not a member");
    fs::create_directory(atlas + "/dir.nm2");

    // A relative -o: is taken from the working directory; the folder's
    // trailing separator goes; the index's drive and folder are dropped.
    const std::string a = win(atlas);
    const RunResult run = veskal({"-i:C:\\ignored\\atlas.nti", "-r:ROUTE.NM2", "-o:out.nm3", a + "\\"});
    std::string lines;
    std::vector<Bytes> members{index, route};
    for (const std::string name : {"-e.nm2", "A.nm2", "b.nm2", "c d.nm2", "_z.Nm2"}) {
        lines += nm2Line(a + "\\" + name);
        members.push_back(further.at(name));
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\ROUTE.NM2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\ROUTE.NM2") + lines);
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf(members));
}

TEST_F(Wine, SlashStartsOptionsAndAsksForHelp) {
    const RunResult help = veskal({"-x", "/?", "-i:atlas.nti"});
    EXPECT_EQ(help.status, 1);
    EXPECT_EQ(help.out, "");
    EXPECT_EQ(help.err, "unknown option -x\n" + cli::bannerText() + packerUsage);

    const RunResult unpackHelp = unveskal({"/h", "west.nm3"});
    EXPECT_EQ(unpackHelp.status, 1);
    EXPECT_EQ(unpackHelp.err, cli::bannerText() + unpackerUsage);

    const RunResult noArchive = unveskal({"/q"});
    EXPECT_EQ(noArchive.status, 1);
    EXPECT_EQ(noArchive.err, "unknown option /q\n" + cli::bannerText() + unpackerUsage);
}

TEST_F(Wine, MissingOptionsAndOptionsAfterTheFolder) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");

    const RunResult afterFolder = veskal({a, "-i:atlas.nti", "-r:route.nm2", "-o:" + out});
    EXPECT_EQ(afterFolder.status, 1);
    EXPECT_EQ(afterFolder.err, packStart(a) + " Error: You must have -i: parameter\n");

    const RunResult noRoute = veskal({"/i:atlas.nti", "-o:" + out, a});
    EXPECT_EQ(noRoute.status, 1);
    EXPECT_EQ(noRoute.err, packStart(a) + " Error: You must have -r: parameter\n");

    // Without a folder the atlas is the working directory.
    const RunResult noOut = veskal({"-I:atlas.nti", "/R:route.nm2"}, atlas);
    EXPECT_EQ(noOut.status, 1);
    EXPECT_EQ(noOut.err, cli::bannerText() + " - working Dir: " + a + "\n - atlas Dir  : " + a +
                             "\n Error: You must have -o: parameter\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
}

TEST_F(Wine, InputsThatCantBeUsedFailBeforeAnythingIsWritten) {
    writeFile(atlas + "/route.nm2", route);
    writeFile(base + "/plain.nm2", "a file");
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");

    const RunResult missing = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a + "\\nowhere"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, packStart(a + "\\nowhere") + " Path not found: " + a + "\\nowhere\n");

    const RunResult file = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, "plain.nm2"});
    EXPECT_EQ(file.status, 1);
    EXPECT_EQ(file.err, packStart(win(base + "/plain.nm2")) + " This path is NOT directory: " +
                            win(base + "/plain.nm2") + "\n");

    const RunResult noIndex = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(noIndex.status, 1);
    EXPECT_EQ(noIndex.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + " Error: Can't access file: " + a +
                               "\\atlas.nti\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
}

TEST_F(Wine, FailuresWhilePackingRemoveTheArchive) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    writeFile(atlas + "/old.nm2", memberBytes("OLD0", 15, 4));
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");
    // An older archive with a second name: that name is left empty, keeping
    // none of the unfinished archive.
    writeFile(base + "/out.nm3", "an older archive");
    fs::create_hard_link(base + "/out.nm3", base + "/other-name.nm3");

    const RunResult oldVersion = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(oldVersion.status, 1);
    EXPECT_EQ(oldVersion.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + indexLine(a + "\\atlas.nti") +
                                  routeLine(a + "\\route.nm2") + " Non valid version [0xf] route file [" + a +
                                  "\\old.nm2].\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
    EXPECT_EQ(readFile(base + "/other-name.nm3"), "");

    // An archive that the listing would meet as one of its own members.
    fs::remove(atlas + "/old.nm2");
    const RunResult itself = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + a + "\\Self.NM2", a});
    EXPECT_EQ(itself.status, 1);
    EXPECT_EQ(itself.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", a + "\\Self.NM2") + " Error open file " +
                              a + "\\Self.NM2.\n");
    EXPECT_EQ(filesIn(atlas), (Files{{"atlas.nti", index}, {"route.nm2", route}}));
}

TEST_F(Wine, RouteThatCantBeAccessedAndOutputThatCantBeCreated) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");

    // A failure before the output is created leaves an old archive alone.
    writeFile(base + "/out.nm3", "an older archive");
    const RunResult noRoute = veskal({"-i:atlas.nti", "-r:none.nm2", "-o:out.nm3", a});
    EXPECT_EQ(noRoute.status, 1);
    EXPECT_EQ(noRoute.out, "");
    EXPECT_EQ(noRoute.err, packStart(a, a + "\\atlas.nti", a + "\\none.nm2", out) + " Error: Can't access file: " + a +
                               "\\none.nm2\n");
    EXPECT_EQ(readFile(base + "/out.nm3"), "an older archive");

    const std::string target = win(base + "/no-such-dir/out.nm3");
    const RunResult noFolder = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + target, a});
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(noFolder.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", target) +
                                " Error: Can't create file: " + target + "\n");
    EXPECT_FALSE(fs::exists(base + "/no-such-dir"));
    EXPECT_EQ(filesIn(atlas), (Files{{"atlas.nti", index}, {"route.nm2", route}}));
}

TEST_F(Wine, MemberHeadersAreCheckedAndAnOlderArchiveGoes) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");
    struct Case {
        std::string file;
        Bytes bytes;
        std::string message;  // the last line of the transcript
        std::string doneBefore;
    };
    const std::vector<Case> cases{
        {"atlas.nti", Bytes("NIDX\x3a", 5), " Error read nti header file " + a + "\\atlas.nti.\n", ""},
        {"atlas.nti", memberBytes("NIDX", 57, 10), " Non valid version [0x39] index file [" + a + "\\atlas.nti].\n",
         ""},
        {"route.nm2", Bytes(), " Error read nm2 header file " + a + "\\route.nm2.\n", indexLine(a + "\\atlas.nti")},
        {"route.nm2", memberBytes("RRRR", 15, 10), " Non valid version [0xf] route file [" + a + "\\route.nm2].\n",
         indexLine(a + "\\atlas.nti")},
        {"x.nm2", Bytes("XXXX\x10", 5), " Error read nm2 header file " + a + "\\x.nm2.\n",
         indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2")},
    };
    for (const Case& c : cases) {
        const Bytes original = testsupport::fileExists(atlas + "/" + c.file) ? readFile(atlas + "/" + c.file) : Bytes();
        writeFile(atlas + "/" + c.file, c.bytes);
        // An existing archive is emptied when the output is created and then
        // deleted with the unfinished archive.
        writeFile(base + "/out.nm3", "an older archive");
        const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + c.doneBefore + c.message);
        EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3")) << c.message;
        EXPECT_EQ(readFile(atlas + "/" + c.file), c.bytes);
        if (c.file == "x.nm2") {
            fs::remove(atlas + "/x.nm2");
        } else {
            writeFile(atlas + "/" + c.file, original);
        }
    }
    EXPECT_EQ(filesIn(atlas), (Files{{"atlas.nti", index}, {"route.nm2", route}}));
}

TEST_F(Wine, OutputNamingAnInputIsRefusedBeforeAnythingIsTouched) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const Bytes more = memberBytes("MORE", 16, 4);
    writeFile(atlas + "/more.nm2", more);
    fs::create_hard_link(atlas + "/more.nm2", base + "/alias.nm3");
    fs::create_symlink(atlas + "/atlas.nti", base + "/index-link.nm3");
    const std::string a = win(atlas);
    const Files before{{"atlas.nti", index}, {"route.nm2", route}, {"more.nm2", more}};

    const std::vector<std::pair<std::string, std::string>> cases{
        {a + "\\atlas.nti", a + "\\atlas.nti"},
        {"atlas\\.\\route.nm2", a + "\\route.nm2"},
        {"alias.nm3", a + "\\more.nm2"},
        {win(base + "/index-link.nm3"), a + "\\atlas.nti"},
        {a + "\\NEW.NM2", a + "\\NEW.NM2"},
    };
    for (const auto& [target, input] : cases) {
        const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + target, a});
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_TRUE(run.err.ends_with(" Error open file " + input + ".\n")) << run.err;
        EXPECT_EQ(filesIn(atlas), before) << target;
        EXPECT_EQ(readFile(base + "/alias.nm3"), more);
    }

    // An archive inside the atlas folder is fine when it isn't an .nm2 name.
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:atlas\\atlas.nm3", "atlas"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", a + "\\atlas.nm3") +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + nm2Line(a + "\\more.nm2"));
    EXPECT_EQ(readFile(atlas + "/atlas.nm3"), archiveOf({index, route, more}));
}

TEST_F(Wine, TableGrowsPastFiveHundredTwelveMembers) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    std::vector<Bytes> members{index, route};
    std::string lines;
    for (int i = 0; i < 600; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%05d.nm2", i);
        members.push_back(memberBytes("MMMM", 16, static_cast<std::size_t>(i % 13), static_cast<unsigned>(i)));
        writeFile(atlas + "/" + name, members.back());
        lines += nm2Line(a + "\\" + name);
    }
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + lines);
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf(members));
}

TEST_F(Wine, PayloadBeyondFourGibibytesIsRefusedAtOnce) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    const std::string out = win(base + "/out.nm3");
    // Sparse members: sizes without the bytes on disk.
    const std::uint64_t limit = 0xFFFFFFFFull;
    writeFile(atlas + "/big.nm2", memberBytes("BIGG", 16, 0));
    fs::resize_file(atlas + "/big.nm2", limit + 1 - index.size() - route.size());
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + indexLine(a + "\\atlas.nti") +
                           routeLine(a + "\\route.nm2") + " Error archive exceeds 4 GiB file " + a + "\\big.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));

    // The route file alone beyond the limit is refused before any further
    // member is looked at.
    fs::resize_file(atlas + "/route.nm2", 5 * limit);
    const RunResult huge = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + indexLine(a + "\\atlas.nti") +
                            " Error archive exceeds 4 GiB file " + a + "\\route.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
}

TEST_F(Wine, OptionLettersValuesAndOptionsAfterTheOperand) {
    writeFile(atlas + "/route.nm2", route);
    const Bytes other = memberBytes("NIDX", 99, 3);
    writeFile(atlas + "/other.nti", other);
    const std::string a = win(atlas);
    // Upper-case letters, bare letters ignored, later values replacing
    // earlier ones, an unknown option reported before the banner, the output
    // taken from the current folder.
    const RunResult run =
        veskal({"-I:wrong.nti", "-i", "-x", "/I:other.nti", "-R:route.nm2", "-O:x.nm3", "/o", "atlas"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "unknown option -x\n" +
                           packStart(a, a + "\\other.nti", a + "\\route.nm2", win(base + "/x.nm3")) +
                           "   -   nti file [" + a + "\\other.nti] - Ok\n" + routeLine(a + "\\route.nm2"));
    EXPECT_EQ(readFile(base + "/x.nm3"), archiveOf({other, route}));

    // Nothing after the operand is read, not even a request for help.
    const RunResult after = veskal({"atlas", "-i:other.nti", "-r:route.nm2", "-o:y.nm3", "-h"});
    EXPECT_EQ(after.status, 1);
    EXPECT_EQ(after.err, packStart(a) + " Error: You must have -i: parameter\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/y.nm3"));
}

TEST_F(Wine, HelpUnknownOptionsAndEmptyValues) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-H"}, {"-help"}, {"-i:a.nti", "/H", "atlas"}}) {
        const RunResult run = veskal(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, cli::bannerText() + packerUsage) << args.front();
    }
    const RunResult unknown = veskal({"-", "-?"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "unknown option -\n" + cli::bannerText() + packerUsage);

    // An empty value is no value.
    const RunResult empty = veskal({"-i:", "-r:r", "-o:x"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, packStart(win(base)) + " Error: You must have -i: parameter\n");
    EXPECT_EQ(testsupport::snapshot(base), (Files{{"atlas", "<dir>"}}));

    // Index and route alone give a one-entry footer.
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const std::string a = win(atlas);
    const RunResult pair = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", "atlas"});
    EXPECT_EQ(pair.status, 0);
    EXPECT_EQ(pair.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                            indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2"));
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf({index, route}));
}

TEST_F(Wine, OtherNamesOfTheIndexAndRouteAreStoredOnce) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const Files further{{"A.nm2", memberBytes("AAAA", 17, 7)}, {"a.NM2", memberBytes("aaaa", 18, 0)}};
    for (const auto& [name, bytes] : further) writeFile(atlas + "/" + name, bytes);
    writeFile(atlas + "/old.nm3", "not a member");
    fs::create_directory(atlas + "/dir.nm2");
    fs::create_symlink("route.nm2", atlas + "/zlink-to-route.nm2");
    fs::create_symlink("dir.nm2", atlas + "/zlink-to-dir.nm2");
    fs::create_hard_link(atlas + "/atlas.nti", atlas + "/index-again.nm2");
    const std::string a = win(atlas);

    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + nm2Line(a + "\\A.nm2") +
                           nm2Line(a + "\\a.NM2"));
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf({index, route, further.at("A.nm2"), further.at("a.NM2")}));

    // A folder named as the route file: the archive of the run before is
    // emptied and goes with the unfinished one.
    fs::create_directory(atlas + "/folder.nm2");
    const RunResult folder = veskal({"-i:atlas.nti", "-r:folder.nm2", "-o:out.nm3", a});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, packStart(a, a + "\\atlas.nti", a + "\\folder.nm2", win(base + "/out.nm3")) +
                              indexLine(a + "\\atlas.nti") + " Error open file " + a + "\\folder.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
}

TEST_F(Wine, DriveRootAtlasAndAnIndexNamedOnAnotherDrive) {
    const std::string root = base + "/root";
    fs::create_directory(root);
    writeFile(root + "/idx.nti", index);
    writeFile(root + "/route.nm2", route);
    const Bytes more = memberBytes("MORE", 20, 12);
    writeFile(root + "/more.nm2", more);
    mapDrive("x", root);

    // X:\ is shown and used as X:, its members right below it.
    const std::string out = win(base + "/out.nm3");
    const RunResult run = veskal({"-i:D:\\elsewhere\\idx.nti", "-r:route.nm2", "-o:" + out, "X:\\"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart("X:", "X:\\idx.nti", "X:\\route.nm2", out) + indexLine("X:\\idx.nti") +
                           routeLine("X:\\route.nm2") + nm2Line("X:\\more.nm2"));
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf({index, route, more}));
    // So is the root in the extended form.
    fs::remove(base + "/out.nm3");
    const RunResult extended = veskal({"-i:idx.nti", "-r:route.nm2", "-o:" + out, "\\\\?\\X:\\"});
    EXPECT_EQ(extended.status, 0) << extended.err;
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf({index, route, more}));

    // An archive at the root unpacks into a folder right below it.
    fs::copy_file(base + "/out.nm3", root + "/top.nm3");
    const RunResult back = unveskal({"X:\\top.nm3"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.err, unpackStart("X:\\top.nm3", "X:\\top.nm2") + unpackChecks(archiveOf({index, route, more}).size(), 2) +
                            memberLines("top", 58, 2));
    EXPECT_EQ(filesIn(root + "/top.nm2"),
              (Files{{"index.058.nti", index}, {"top_00000.nm2", route}, {"top_00001.nm2", more}}));
}

TEST_F(Wine, NamesInCyrillicGreekAndJapanese) {
    const Bytes greek = memberBytes("ELLA", 16, 21, 3);
    const Bytes tokyo = memberBytes("TKYO", 17, 22, 4);
    writeFile(atlas + "/地図.nti", index);
    writeFile(atlas + "/Москва.nm2", route);
    writeFile(atlas + "/Ελλάδα.nm2", greek);
    writeFile(atlas + "/東京.nm2", tokyo);
    const std::string a = win(atlas);

    const RunResult run = veskal({"-i:地図.nti", "-r:Москва.nm2", "-o:Карта.nm3", a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\地図.nti", a + "\\Москва.nm2", win(base + "/Карта.nm3")) +
                           indexLine(a + "\\地図.nti") + routeLine(a + "\\Москва.nm2") + nm2Line(a + "\\Ελλάδα.nm2") +
                           nm2Line(a + "\\東京.nm2"));
    const Bytes archive = archiveOf({index, route, greek, tokyo});
    EXPECT_EQ(readFile(base + "/Карта.nm3"), archive);

    const RunResult back = unveskal({"Карта.nm3"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.err, unpackStart("Карта.nm3", win(base + "/Карта.nm2")) + unpackChecks(archive.size(), 3) +
                            memberLines("Карта", 58, 3));
    EXPECT_EQ(filesIn(base + "/Карта.nm2"), (Files{{"index.058.nti", index},
                                                  {"Карта_00000.nm2", route},
                                                  {"Карта_00001.nm2", greek},
                                                  {"Карта_00002.nm2", tokyo}}));
}

TEST_F(Wine, UnpackerFailures) {
    const std::string folder = win(base + "/west.nm2");

    // The folder is made and emptied before the archive is even opened.
    fs::create_directory(base + "/west.nm2");
    writeFile(base + "/west.nm2/old.nm2", "old");
    const RunResult missing = unveskal({"west.nm3"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, unpackStart("west.nm3", folder) + " File " + win(base + "/west.nm3") + " NOT found.\n");
    EXPECT_TRUE(filesIn(base + "/west.nm2").empty());

    writeFile(base + "/west.nm3", "GNM4 not an archive");
    const RunResult notArchive = unveskal({"sub/../west.nm3"});
    EXPECT_EQ(notArchive.status, 1);
    EXPECT_EQ(notArchive.err,
              unpackStart("sub/../west.nm3", folder) + " Not NM3 file: " + win(base + "/west.nm3") + ".\n");

    fs::remove(base + "/west.nm2");
    writeFile(base + "/west.nm2", "a file");
    const RunResult notFolder = unveskal({win(base + "/west.nm3")});
    EXPECT_EQ(notFolder.status, 1);
    EXPECT_EQ(notFolder.err, unpackStart(win(base + "/west.nm3"), folder) + " This path is NOT directory.\n");
    EXPECT_EQ(readFile(base + "/west.nm2"), "a file");
}

// An archive of `payload` with the footer given entry by entry, and `extra`
// bytes after it.
Bytes archiveWithFooter(const Bytes& payload, const std::vector<std::uint32_t>& entries, const Bytes& extra = {}) {
    Bytes bytes = testsupport::headerOf(static_cast<std::uint32_t>(payload.size())) + payload;
    for (const std::uint32_t entry : entries) bytes += testsupport::u32le(entry);
    return bytes + extra;
}

TEST_F(Wine, FooterSizeComesFromTheFileSize) {
    // Index and route: one footer entry, the index's size.
    const Bytes payload = index + route;
    const auto offsetFooter = static_cast<std::uint32_t>(payload.size());
    const Bytes entry = testsupport::u32le(static_cast<std::uint32_t>(index.size()));
    const Bytes members = testsupport::headerOf(offsetFooter) + payload;
    const std::string folder = win(base + "/west.nm2");
    const std::string name = win(base + "/west.nm3");

    // One whole entry, and one or two bytes more, give one entry.
    for (const Bytes& extra : {Bytes(), Bytes("\xff"), Bytes("\xff\xff")}) {
        const Bytes bytes = members + entry + extra;
        writeFile(base + "/west.nm3", bytes);
        const RunResult run = unveskal({"west.nm3"});
        EXPECT_EQ(run.status, 0) << extra.size();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 1) + memberLines("west", 58, 1))
            << extra.size();
        EXPECT_EQ(filesIn(base + "/west.nm2"), (Files{{"index.058.nti", index}, {"west_00000.nm2", route}}));
    }

    const std::vector<std::pair<Bytes, std::string>> cases{
        // Three more bytes count as a second entry that isn't there.
        {members + entry + "\x01\x02\x03", " - footerSize (count) = [2]\n Error read footer file " + name + ".\n"},
        {members + entry.substr(0, 3), " - footerSize (count) = [1]\n Error read footer file " + name + ".\n"},
        // No bytes after the members, or fewer than the members need,
        {members, " Error get filesize file " + name + ".\n"},
        {testsupport::headerOf(0xFFFFFFFF) + payload + entry, " Error get filesize file " + name + ".\n"},
        // and one or two bytes are no entry at all.
        {members + entry.substr(0, 1), " - footerSize (count) = [0]\n Error calculate footerSize file " + name + ".\n"},
        {members + entry.substr(0, 2), " - footerSize (count) = [0]\n Error calculate footerSize file " + name + ".\n"},
    };
    for (const auto& [bytes, rest] : cases) {
        writeFile(base + "/west.nm2/old.nm2", "old");
        writeFile(base + "/west.nm3", bytes);
        const RunResult run = unveskal({"west.nm3"});
        char size[32];
        std::snprintf(size, sizeof size, "%08zx", bytes.size());
        EXPECT_EQ(run.status, 1) << rest;
        EXPECT_EQ(run.err,
                  unpackStart("west.nm3", folder) + "Check NM3 tag - Ok\n - fileSize = [0x" + size + "]\n" + rest);
        EXPECT_TRUE(filesIn(base + "/west.nm2").empty()) << rest;
        EXPECT_EQ(readFile(base + "/west.nm3"), bytes);
    }
}

TEST_F(Wine, HeaderIndexAndFooterChecks) {
    const std::string folder = win(base + "/west.nm2");
    const std::string name = win(base + "/west.nm3");
    const Bytes payload = index + route + memberBytes("MORE", 16, 14, 3);
    const auto past = static_cast<std::uint32_t>(payload.size() + 1);
    const Bytes badTag = archiveOf({memberBytes("nidx", 58, 10), route});
    const std::vector<std::pair<Bytes, std::string>> cases{
        {Bytes(), " Error reading header file " + name + ".\n"},
        {testsupport::headerOf(0).substr(0, 11), " Error reading header file " + name + ".\n"},
        {"gnm3" + archiveOf({index, route}).substr(4), " Not NM3 file: " + name + ".\n"},
        // The footer's one entry is all there is: the index header runs short.
        {testsupport::headerOf(0) + testsupport::u32le(0),
         unpackChecks(16, 1) + " Error fread nti header file " + name + ".\n"},
        {badTag, unpackChecks(badTag.size(), 1) + " No valid index in file: " + name + ".\n"},
        // Footers out of order.
        {archiveWithFooter(payload, {31, 30}),
         unpackChecks(payload.size() + 20, 2) + " Error invalid footer file " + name + ".\n"},
        {archiveWithFooter(payload, {30, 0xFFFFFFFF}),
         unpackChecks(payload.size() + 20, 2) + " Error invalid footer file " + name + ".\n"},
        {archiveWithFooter(payload, {past}),
         unpackChecks(payload.size() + 16, 1) + " Error invalid footer file " + name + ".\n"},
    };
    for (const auto& [bytes, rest] : cases) {
        fs::create_directories(base + "/west.nm2");
        writeFile(base + "/west.nm2/west_00000.nm2", "old");
        writeFile(base + "/west.nm3", bytes);
        const RunResult run = unveskal({"west.nm3"});
        EXPECT_EQ(run.status, 1) << rest;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + rest);
        EXPECT_TRUE(filesIn(base + "/west.nm2").empty()) << rest;
        EXPECT_EQ(readFile(base + "/west.nm3"), bytes);
    }
}

TEST_F(Wine, IndexVersionsEmptyMembersAndAnArchiveNamedAsItsFolder) {
    const std::string folder = win(base + "/west.nm2");

    // Old files of every kind go, sub-folders stay.
    fs::create_directories(base + "/west.nm2/keep/deeper");
    writeFile(base + "/west.nm2/keep/inner.nm2", "inner");
    writeFile(base + "/west.nm2/index.058.nti", "old index");
    writeFile(base + "/west.nm2/.hidden", "hidden");
    writeFile(base + "/west.nm2/notes.txt", "notes");
    const Bytes indexed = memberBytes("NIDX", 1000, 8, 7);
    Bytes bytes = archiveOf({indexed, route});
    writeFile(base + "/west.nm3", bytes);
    RunResult run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 1) +
                           "   - nti file [index.1000.nti] - Ok\n   - nm2 file #00000 [west_00000.nm2] - Ok\n");
    EXPECT_EQ(testsupport::snapshot(base + "/west.nm2"), (Files{{"index.1000.nti", indexed},
                                                                {"west_00000.nm2", route},
                                                                {"keep", "<dir>"},
                                                                {"keep/deeper", "<dir>"},
                                                                {"keep/inner.nm2", "inner"}}));

    // Equal entries: an empty member between two, and an empty last one.
    const auto indexEnd = static_cast<std::uint32_t>(index.size());
    const auto routeEnd = static_cast<std::uint32_t>(index.size() + route.size());
    bytes = archiveWithFooter(index + route, {indexEnd, indexEnd, routeEnd, routeEnd});
    writeFile(base + "/west.nm3", bytes);
    run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 4) + memberLines("west", 58, 4));
    EXPECT_EQ(filesIn(base + "/west.nm2"), (Files{{"index.058.nti", index},
                                                  {"west_00000.nm2", ""},
                                                  {"west_00001.nm2", route},
                                                  {"west_00002.nm2", ""},
                                                  {"west_00003.nm2", ""}}));

    // An archive named .nm2 is its own folder path.
    fs::remove_all(base + "/west.nm2");
    fs::remove(base + "/west.nm3");
    bytes = archiveOf({index, route});
    writeFile(base + "/x.nm2", bytes);
    run = unveskal({"x.nm2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, unpackStart("x.nm2", win(base + "/x.nm2")) + " This path is NOT directory.\n");
    EXPECT_EQ(testsupport::snapshot(base), (Files{{"atlas", "<dir>"}, {"x.nm2", bytes}}));
}

TEST_F(Wine, UnpackerOptionsAndFolderNames) {
    const Bytes more = memberBytes("MORE", 16, 14, 3);
    const Bytes bytes = archiveOf({index, route, more});
    writeFile(base + "/west.nm3", bytes);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"-help"}, {"-?", "west.nm3"}}) {
        const RunResult run = unveskal(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, cli::bannerText() + unpackerUsage) << (args.empty() ? "no arguments" : args.front());
    }
    RunResult run = unveskal({"-", "-i:west.nti"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "unknown option -\nunknown option -i:west.nti\n" + cli::bannerText() + unpackerUsage);
    EXPECT_FALSE(fs::exists(base + "/west.nm2"));

    // Unknown options are reported and those after the operand never seen.
    run = unveskal({"-x", "-Q:y", "west.nm3", "-h", "other.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "unknown option -x\nunknown option -Q:y\n" + unpackStart("west.nm3", win(base + "/west.nm2")) +
                           unpackChecks(bytes.size(), 2) + memberLines("west", 58, 2));
    const Files members{{"index.058.nti", index}, {"west_00000.nm2", route}, {"west_00001.nm2", more}};
    EXPECT_EQ(filesIn(base + "/west.nm2"), members);

    // Without an extension the folder is the same.
    fs::remove_all(base + "/west.nm2");
    fs::rename(base + "/west.nm3", base + "/west");
    run = unveskal({"west"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpackStart("west", win(base + "/west.nm2")) + unpackChecks(bytes.size(), 2) +
                           memberLines("west", 58, 2));
    EXPECT_EQ(filesIn(base + "/west.nm2"), members);

    // Only the last extension goes; the archive's own is never examined.
    fs::rename(base + "/west", base + "/a.b.xyz");
    run = unveskal({win(base + "/a.b.xyz")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpackStart(win(base + "/a.b.xyz"), win(base + "/a.b.nm2")) + unpackChecks(bytes.size(), 2) +
                           memberLines("a.b", 58, 2));
    EXPECT_EQ(filesIn(base + "/a.b.nm2"),
              (Files{{"index.058.nti", index}, {"a.b_00000.nm2", route}, {"a.b_00001.nm2", more}}));

    // A directory is never an archive: given as the folder itself, or as
    // "." from inside it, nothing is emptied.
    for (const auto& [operand, workingDir] : {std::pair{std::string("a.b.nm2"), base},
                                              std::pair{std::string("."), base + "/a.b.nm2"}}) {
        run = unveskal({operand}, workingDir);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, unpackStart(operand, win(base + "/a.b.nm2")) + " File " + win(base + "/a.b.nm2") +
                               " NOT found.\n");
        EXPECT_EQ(filesIn(base + "/a.b.nm2"),
                  (Files{{"index.058.nti", index}, {"a.b_00000.nm2", route}, {"a.b_00001.nm2", more}}));
    }
}

TEST_F(Wine, MemberFilesThatCantBeCreatedAndSixtyFourBitSizes) {
    const Bytes more = memberBytes("MORE", 16, 14, 3);
    const Bytes bytes = archiveOf({index, route, more});
    const std::string folder = win(base + "/west.nm2");
    const std::string begin = unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 2);
    writeFile(base + "/west.nm3", bytes);

    // Directories stand where the files would go.
    fs::create_directories(base + "/west.nm2/index.058.nti");
    RunResult run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + " File " + folder + "\\index.058.nti NOT created.\n");
    EXPECT_EQ(testsupport::snapshot(base + "/west.nm2"), (Files{{"index.058.nti", "<dir>"}}));

    fs::remove(base + "/west.nm2/index.058.nti");
    fs::create_directories(base + "/west.nm2/west_00001.nm2");
    run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + memberLines("west", 58, 1) + " File " + folder + "\\west_00001.nm2 NOT created.\n");
    EXPECT_EQ(testsupport::snapshot(base + "/west.nm2"),
              (Files{{"index.058.nti", index}, {"west_00000.nm2", route}, {"west_00001.nm2", "<dir>"}}));
    EXPECT_EQ(readFile(base + "/west.nm3"), bytes);

    // Sparse archives of one index and a huge footer. Long enough to claim
    // 2^32 + 1 entries: more than entries can count, refused before anything
    // is allocated or read. 8 GiB whose second entry goes back: refused at
    // that entry by every build, whatever room its table would need.
    fs::remove_all(base + "/west.nm2");
    const Bytes start = testsupport::headerOf(6) + Bytes("NIDX\x3a\0", 6) + testsupport::u32le(6);
    const struct {
        Bytes bytes;
        std::uint64_t fileSize;
        std::string rest;
    } huge[] = {
        {start, (std::uint64_t{1} << 34) + 21,
         " - fileSize = [0x400000015]\n - footerSize (count) = [4294967297]\n Error calculate footerSize file "},
        {start + testsupport::u32le(5), (std::uint64_t{1} << 33) + 22,
         " - fileSize = [0x200000016]\n - footerSize (count) = [2147483649]\n Error invalid footer file "},
    };
    for (const auto& row : huge) {
        writeFile(base + "/west.nm3", row.bytes);
        fs::resize_file(base + "/west.nm3", row.fileSize);
        run = unveskal({"west.nm3"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + "Check NM3 tag - Ok\n" + row.rest +
                               win(base + "/west.nm3") + ".\n");
        EXPECT_EQ(fs::file_size(base + "/west.nm3"), row.fileSize);
        EXPECT_EQ(testsupport::snapshot(base + "/west.nm2"), Files{});
    }
}

TEST_F(Wine, ArchiveIsNeverDeletedNorOverwritten) {
    const Bytes more = memberBytes("MORE", 16, 14, 3);
    const Bytes bytes = archiveOf({index, route, more});
    const std::string folder = win(base + "/west.nm2");
    writeFile(base + "/west.nm3", bytes);

    // The folder is a link to the archive's own directory: emptying it
    // spares the archive, and the members land beside it.
    writeFile(base + "/old.txt", "old");
    fs::create_symlink(".", base + "/west.nm2");
    RunResult run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 2) + memberLines("west", 58, 2));
    EXPECT_EQ(testsupport::snapshot(base), (Files{{"atlas", "<dir>"},
                                                  {"west.nm2", "-> ."},
                                                  {"west.nm3", bytes},
                                                  {"index.058.nti", index},
                                                  {"west_00000.nm2", route},
                                                  {"west_00001.nm2", more}}));

    // Another name of the archive inside the folder stays, also when it is
    // the name of a member file.
    fs::remove(base + "/west.nm2");
    fs::create_directory(base + "/west.nm2");
    fs::create_hard_link(base + "/west.nm3", base + "/west.nm2/copy.nm3");
    fs::create_hard_link(base + "/west.nm3", base + "/west.nm2/west_00001.nm2");
    run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 2) + memberLines("west", 58, 1) +
                           " File " + folder + "\\west_00001.nm2 NOT created.\n");
    EXPECT_EQ(filesIn(base + "/west.nm2"), (Files{{"index.058.nti", index},
                                                  {"west_00000.nm2", route},
                                                  {"copy.nm3", bytes},
                                                  {"west_00001.nm2", bytes}}));
    EXPECT_EQ(readFile(base + "/west.nm3"), bytes);
}

TEST_F(Wine, ExtendedPathsDeviceNamesAndNamesEndingInDotsOrSpaces) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    const Files devices{{"CON.nm2", memberBytes("CONS", 16, 5, 1)},
                        {"COM1.nm2", memberBytes("COM1", 16, 6, 2)},
                        {"nul.nm2", memberBytes("NULL", 16, 7, 3)}};
    for (const auto& [name, bytes] : devices) writeFile(atlas + "/" + name, bytes);
    const Bytes archive = archiveOf({index, route, devices.at("COM1.nm2"), devices.at("CON.nm2"), devices.at("nul.nm2")});

    // Given in the extended form, the folder is shown as given.
    const std::string a = "\\\\?\\" + win(atlas);
    const std::string out = "\\\\?\\" + win(base + "/ok.nm3");
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + indexLine(a + "\\atlas.nti") +
                           routeLine(a + "\\route.nm2") + nm2Line(a + "\\COM1.nm2") + nm2Line(a + "\\CON.nm2") +
                           nm2Line(a + "\\nul.nm2"));
    EXPECT_EQ(readFile(base + "/ok.nm3"), archive);

    // Old files whose names end in a dot or a space go like any other.
    fs::create_directory(base + "/ok.nm2");
    for (const std::string name : {"dot.", "space ", "ok_00009.nm2"}) writeFile(base + "/ok.nm2/" + name, "old");
    const std::string folder = "\\\\?\\" + win(base + "/ok.nm2");
    const RunResult back = unveskal({out});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.err, unpackStart(out, folder) + unpackChecks(archive.size(), 4) + memberLines("ok", 58, 4));
    EXPECT_EQ(filesIn(base + "/ok.nm2"), (Files{{"index.058.nti", index},
                                                {"ok_00000.nm2", route},
                                                {"ok_00001.nm2", devices.at("COM1.nm2")},
                                                {"ok_00002.nm2", devices.at("CON.nm2")},
                                                {"ok_00003.nm2", devices.at("nul.nm2")}}));

    fs::remove_all(base + "/ok.nm2");
    writeFile(base + "/ok.nm2", "a file");
    const RunResult notFolder = unveskal({out});
    EXPECT_EQ(notFolder.status, 1);
    EXPECT_EQ(notFolder.err, unpackStart(out, folder) + " This path is NOT directory.\n");
    EXPECT_EQ(readFile(base + "/ok.nm2"), "a file");
}

TEST_F(Wine, DriveRelativePathsTakeTheDrivesOwnDirectory) {
    fs::create_directories(base + "/root/t/atlas");
    writeFile(base + "/root/t/atlas/atlas.nti", index);
    writeFile(base + "/root/t/atlas/route.nm2", route);
    mapDrive("x", base + "/root");
    // The system keeps X:'s directory when the shell changes drives.
    const auto fromX = [&](const char* program, const std::string& args) {
        return runWine("cmd", {"/c", "X: & cd \\t & " + win(base).substr(0, 2) + " & " + program + " " + args}, base);
    };
    const RunResult run = fromX(VESKAL_EXE, "-i:atlas.nti -r:route.nm2 -o:X:ok.nm3 X:atlas");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart("X:\\t\\atlas", "X:\\t\\atlas\\atlas.nti", "X:\\t\\atlas\\route.nm2", "X:\\t\\ok.nm3") +
                           indexLine("X:\\t\\atlas\\atlas.nti") + routeLine("X:\\t\\atlas\\route.nm2"));
    EXPECT_EQ(readFile(base + "/root/t/ok.nm3"), archiveOf({index, route}));

    const RunResult back = fromX(UNVESKAL_EXE, "X:ok.nm3");
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.err, unpackStart("X:ok.nm3", "X:\\t\\ok.nm2") + unpackChecks(archiveOf({index, route}).size(), 1) +
                            memberLines("ok", 58, 1));
    EXPECT_EQ(testsupport::snapshot(base + "/root/t/ok.nm2"), (Files{{"index.058.nti", index}, {"ok_00000.nm2", route}}));
    // And no stray folder beside the scratch folder's own two.
    std::vector<std::string> top;
    for (const auto& entry : fs::directory_iterator(base)) top.push_back(entry.path().filename());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"atlas", "root"}));
}

TEST_F(Wine, NamesTheSystemCantShowAreNeverPackedForOneAnother) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    // Not UTF-8: the system shows all three as U+FFFD.
    for (const char* name : {"\xff.nm2", "\xfe.nm2", "\xfd.nm2"}) writeFile(atlas + "/" + name, memberBytes("BADN", 16, 3));
    const std::string a = win(atlas);
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", a});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + " Error open file " + a +
                           "\\\xef\xbf\xbd.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));
}

// Two file systems under one drive that number their files alike: Wine gives
// both the serial 0, and the first file made in each has the same number.
TEST_F(Wine, FilesOnFileSystemsThatNumberAlikeAreToldApart) {
    const std::string one = base + "/one";
    const std::string two = base + "/two";
    fs::create_directories(one);
    fs::create_directories(two);
    ASSERT_EQ(std::system(("mount -t tmpfs veskal-one " + one + " && mount -t tmpfs veskal-two " + two).c_str()), 0)
        << "the test mounts two tmpfs file systems, as root";
    struct Unmount {
        std::string a, b;
        ~Unmount() { std::system(("umount " + a + " " + b).c_str()); }
    } unmount{one, two};
    writeFile(one + "/route.nm2", route);
    const Bytes more = memberBytes("MORE", 16, 9, 4);
    writeFile(two + "/more.nm2", more);
    ASSERT_EQ(fs::status(one + "/route.nm2").type(), fs::file_type::regular);
    writeFile(one + "/atlas.nti", index);
    fs::create_symlink(two + "/more.nm2", one + "/more.nm2");

    const std::string a = win(one);
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:out.nm3", a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", win(base + "/out.nm3")) +
                           indexLine(a + "\\atlas.nti") + routeLine(a + "\\route.nm2") + nm2Line(a + "\\more.nm2"));
    EXPECT_EQ(readFile(base + "/out.nm3"), archiveOf({index, route, more}));

    // An output whose number is the index's is not the index.
    fs::remove(two + "/more.nm2");
    writeFile(two + "/first.nm3", "old");
    fs::remove(one + "/more.nm2");
    const std::string out = win(two + "/first.nm3");
    const RunResult other = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(other.status, 0) << other.err;
    EXPECT_EQ(readFile(two + "/first.nm3"), archiveOf({index, route}));
}

TEST_F(Wine, LinksInTheFolderNeverLeadOutOfIt) {
    const Bytes bytes = archiveOf({index, route});
    writeFile(base + "/west.nm3", bytes);
    writeFile(base + "/elsewhere.txt", "not a member");
    fs::create_directory(base + "/west.nm2");
    fs::create_symlink(base + "/west.nm3", base + "/west.nm2/archive.nm3");
    fs::create_symlink(base + "/elsewhere.txt", base + "/west.nm2/west_00000.nm2");
    const std::string folder = win(base + "/west.nm2");

    // Neither link can go without taking its target, so both stay, and no
    // member is written through one.
    const RunResult run = unveskal({"west.nm3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, unpackStart("west.nm3", folder) + unpackChecks(bytes.size(), 1) + memberLines("west", 58, 0) +
                           " File " + folder + "\\west_00000.nm2 NOT created.\n");
    EXPECT_EQ(readFile(base + "/west.nm3"), bytes);
    EXPECT_EQ(readFile(base + "/elsewhere.txt"), "not a member");
    EXPECT_EQ(testsupport::snapshot(base + "/west.nm2"),
              (Files{{"archive.nm3", "-> " + base + "/west.nm3"},
                     {"west_00000.nm2", "-> " + base + "/elsewhere.txt"},
                     {"index.058.nti", index}}));

    // The packer's output goes where the user's link leads.
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    fs::create_directory(base + "/links");
    fs::create_symlink(base + "/elsewhere.txt", base + "/links/out.nm3");
    const RunResult pack = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:links\\out.nm3", win(atlas)});
    EXPECT_EQ(pack.status, 0) << pack.err;
    EXPECT_EQ(readFile(base + "/elsewhere.txt"), bytes);
}

TEST_F(Wine, ArchiveBeyondTwoGibibytesMatchesTheLinuxBuilds) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    // Sparse: the size without the bytes on disk.
    writeFile(atlas + "/big.nm2", memberBytes("BIGG", 16, 0));
    fs::resize_file(atlas + "/big.nm2", (std::uint64_t{1} << 31) + 4096);
    writeFile(atlas + "/last.nm2", memberBytes("LAST", 16, 40, 5));

    RunOptions here;
    here.workingDir = base;
    here.timeoutSeconds = 600;
    const RunResult linuxPack =
        testsupport::runProgram(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:linux.nm3", atlas}, here);
    ASSERT_EQ(linuxPack.status, 0) << linuxPack.err;
    const RunResult windowsPack = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:windows.nm3", win(atlas)});
    ASSERT_EQ(windowsPack.status, 0) << windowsPack.err;
    const auto same = [](const std::string& a, const std::string& b) {
        return std::system(("cmp -s " + quoted(a) + " " + quoted(b)).c_str()) == 0;
    };
    EXPECT_TRUE(same(base + "/linux.nm3", base + "/windows.nm3"));
    fs::remove(base + "/linux.nm3");

    const RunResult back = unveskal({"windows.nm3"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(same(base + "/windows.nm2/windows_00001.nm2", atlas + "/big.nm2"));
    EXPECT_TRUE(same(base + "/windows.nm2/windows_00002.nm2", atlas + "/last.nm2"));
}

TEST_F(Wine, RandomAtlasComesBackByteForByte) {
    std::mt19937 random(6);
    const auto member = [&](std::size_t bodySize) {
        const auto version = static_cast<std::uint16_t>(16 + random() % 65520);
        return memberBytes("MMMM", version, bodySize, static_cast<unsigned>(random()));
    };
    const Bytes randomIndex = memberBytes("NIDX", static_cast<std::uint16_t>(58 + random() % 2000), random() % 5000, 6);
    const Bytes randomRoute = memberBytes("ROUT", 16, random() % 70000, 7);
    writeFile(atlas + "/Atlas.nti", randomIndex);
    writeFile(atlas + "/Route.Nm2", randomRoute);
    // Names that fold alike, the smallest member there is, one large one.
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
    for (const auto& [file, bytes] : further) writeFile(atlas + "/" + file, bytes);
    // Not members.
    writeFile(atlas + "/notes.txt", "notes");
    fs::create_directory(atlas + "/folder.nm2");

    std::vector<std::string> order;
    for (const auto& entry : further) order.push_back(entry.first);
    std::sort(order.begin(), order.end(), packedBefore);
    const std::string a = win(atlas);
    std::vector<Bytes> members{randomIndex, randomRoute};
    std::string lines;
    for (const std::string& file : order) {
        members.push_back(further.at(file));
        lines += nm2Line(a + "\\" + file);
    }
    const Bytes expected = archiveOf(members);

    const RunResult pack = veskal({"-i:Atlas.nti", "-r:Route.Nm2", "-o:Random Atlas.nm3", a});
    EXPECT_EQ(pack.status, 0);
    EXPECT_EQ(pack.err, packStart(a, a + "\\Atlas.nti", a + "\\Route.Nm2", win(base + "/Random Atlas.nm3")) +
                            indexLine(a + "\\Atlas.nti") + routeLine(a + "\\Route.Nm2") + lines);
    ASSERT_EQ(readFile(base + "/Random Atlas.nm3"), expected);

    const unsigned version =
        static_cast<unsigned char>(randomIndex[4]) | static_cast<unsigned char>(randomIndex[5]) << 8;
    const RunResult run = unveskal({"Random Atlas.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, unpackStart("Random Atlas.nm3", win(base + "/Random Atlas.nm2")) +
                           unpackChecks(expected.size(), members.size() - 1) +
                           memberLines("Random Atlas", version, members.size() - 1));
    char name[48];
    std::snprintf(name, sizeof name, "index.%03u.nti", version);
    Files files{{name, randomIndex}};
    for (std::size_t k = 1; k < members.size(); ++k) {
        std::snprintf(name, sizeof name, "Random Atlas_%05zu.nm2", k - 1);
        files[name] = members[k];
    }
    EXPECT_EQ(testsupport::differences(filesIn(base + "/Random Atlas.nm2"), files), "");
    EXPECT_EQ(readFile(base + "/Random Atlas.nm3"), expected);
}

TEST_F(Wine, LinuxAndWindowsBuildsReadEachOthersArchives) {
    writeFile(atlas + "/atlas.nti", index);
    writeFile(atlas + "/route.nm2", route);
    Files further;
    unsigned seed = 10;
    for (const std::string name : {"b.nm2", "A.nm2", "Москва.nm2", "東京.nm2", "z z.NM2"}) {
        further[name] = memberBytes("MEMB", 16, 100 + seed * 37, seed);
        ++seed;
    }
    // Large enough to be copied in many blocks.
    further["big.nm2"] = memberBytes("BIG0", 300, 3 * 1024 * 1024 + 5, 99);
    std::vector<Bytes> members{index, route};
    for (const auto& [name, bytes] : further) writeFile(atlas + "/" + name, bytes);
    for (const std::string name : {"A.nm2", "b.nm2", "big.nm2", "z z.NM2", "Москва.nm2", "東京.nm2"}) {
        members.push_back(further.at(name));
    }
    const Bytes expected = archiveOf(members);

    RunOptions here;
    here.workingDir = base;
    const RunResult linuxPack =
        testsupport::runProgram(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:linux.nm3", atlas}, here);
    ASSERT_EQ(linuxPack.status, 0) << linuxPack.err;
    const RunResult windowsPack = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:windows.nm3", win(atlas)});
    ASSERT_EQ(windowsPack.status, 0) << windowsPack.err;
    EXPECT_EQ(readFile(base + "/linux.nm3"), expected);
    EXPECT_EQ(readFile(base + "/windows.nm3"), expected);

    // Each build unpacks the other's archive.
    const RunResult windowsUnpack = unveskal({"linux.nm3"});
    ASSERT_EQ(windowsUnpack.status, 0) << windowsUnpack.err;
    const RunResult linuxUnpack = testsupport::runProgram(UNVESKAL_PATH, {"windows.nm3"}, here);
    ASSERT_EQ(linuxUnpack.status, 0) << linuxUnpack.err;
    Files fromLinux{{"index.058.nti", index}};
    Files fromWindows{{"index.058.nti", index}};
    for (std::size_t k = 1; k < members.size(); ++k) {
        char number[32];
        std::snprintf(number, sizeof number, "_%05zu.nm2", k - 1);
        fromLinux["linux" + std::string(number)] = members[k];
        fromWindows["windows" + std::string(number)] = members[k];
    }
    EXPECT_EQ(filesIn(base + "/linux.nm2"), fromLinux);
    EXPECT_EQ(filesIn(base + "/windows.nm2"), fromWindows);
}

}  // namespace
