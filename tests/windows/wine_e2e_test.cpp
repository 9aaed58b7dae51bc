// The Windows programs, cross-built with mingw-w64, run under Wine in fresh
// folders: whole transcripts, exit statuses and bytes, with every path in
// Windows form (Wine's drive Z: is the Linux root). The Linux programs of
// this build pack and unpack beside them, to show that archives pass between
// the two.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "console/frame.h"
#include "support/archives.h"
#include "support/run.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using testsupport::archiveOf;
using testsupport::Bytes;
using testsupport::memberBytes;
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
        return testsupport::runProgram(WINE64, args, options);
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
        return console::bannerText() + " - working Dir: " + win(base) + "\n - atlas Dir  : " + atlasDir + "\n";
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
        return console::bannerText() + "NM3 file name : " + operand + "\nFolder path   : " + folder + "\n";
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
    EXPECT_EQ(help.err, "unknown option -x\n" + console::bannerText() + packerUsage);

    const RunResult unpackHelp = unveskal({"/h", "west.nm3"});
    EXPECT_EQ(unpackHelp.status, 1);
    EXPECT_EQ(unpackHelp.err, console::bannerText() + unpackerUsage);

    const RunResult noArchive = unveskal({"/q"});
    EXPECT_EQ(noArchive.status, 1);
    EXPECT_EQ(noArchive.err, "unknown option /q\n" + console::bannerText() + unpackerUsage);
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
    EXPECT_EQ(noOut.err, console::bannerText() + " - working Dir: " + a + "\n - atlas Dir  : " + a +
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

    const RunResult oldVersion = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, a});
    EXPECT_EQ(oldVersion.status, 1);
    EXPECT_EQ(oldVersion.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", out) + indexLine(a + "\\atlas.nti") +
                                  routeLine(a + "\\route.nm2") + " Non valid version [0xf] route file [" + a +
                                  "\\old.nm2].\n");
    EXPECT_FALSE(testsupport::fileExists(base + "/out.nm3"));

    // An archive that the listing would meet as one of its own members.
    fs::remove(atlas + "/old.nm2");
    const RunResult itself = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + a + "\\Self.NM2", a});
    EXPECT_EQ(itself.status, 1);
    EXPECT_EQ(itself.err, packStart(a, a + "\\atlas.nti", a + "\\route.nm2", a + "\\Self.NM2") + " Error open file " +
                              a + "\\Self.NM2.\n");
    EXPECT_EQ(filesIn(atlas), (Files{{"atlas.nti", index}, {"route.nm2", route}}));
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
