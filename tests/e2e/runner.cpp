// Plays the table of end-to-end cases against this build's own programs, or,
// given `--wine WINE64 WINESERVER PREFIX VESKAL_EXE UNVESKAL_EXE NM3INFO_EXE
// HOLD_EXE`, against a Windows build under Wine with every path in Windows
// form (Wine's drive Z: is the Linux root).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "e2e/case.h"
#include "testing/archives.h"
#include "testing/run.h"

namespace {

namespace stdfs = std::filesystem;
using e2e::Case;
using e2e::Entry;
using e2e::Program;
using namespace testsupport;

struct Wine {
    std::string wine64, wineserver, prefix, veskal, unveskal, nm3info, hold;
};
Wine wine;  // empty wine64: the cases run natively
bool underWine() { return !wine.wine64.empty(); }

std::string inQuotes(const std::string& text) { return "'" + text + "'"; }

// Wine's prefix, made when missing. Its server stays up for the whole table,
// so that each run starts in a fraction of a second, and is stopped at the
// end with Wine's background processes.
class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("WINEPREFIX", wine.prefix.c_str(), 1);
        ::setenv("WINEDEBUG", "-all", 1);
        // No installers for .NET or the HTML engine, and no windows.
        ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        const std::string log = " >>" + inQuotes(wine.prefix + ".log") + " 2>&1";
        if (!testsupport::fileExists(wine.prefix + "/system.reg")) {
            ASSERT_EQ(std::system((inQuotes(wine.wine64) + " wineboot -i" + log).c_str()), 0);
            ASSERT_EQ(std::system((inQuotes(wine.wineserver) + " -w" + log).c_str()), 0);
        }
        // Fails when a server is up already, which then serves as well.
        std::system((inQuotes(wine.wineserver) + " -p" + log).c_str());
        // Wine's own background processes start with the first program and
        // stay with the server: they must not hold the tests' pipes open.
        ASSERT_EQ(std::system((inQuotes(wine.wine64) + " cmd.exe /c exit" + log).c_str()), 0);
    }
    void TearDown() override { std::system((inQuotes(wine.wineserver) + " -k >/dev/null 2>&1").c_str()); }
};

// A Linux path as the programs under test name it.
std::string translated(const std::string& path) {
    if (!underWine()) return path;
    std::string name = "Z:" + path;
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return name;
}

// `text` with its placeholders filled for the case folder `base`, as the
// programs under test name paths or, with `native`, as this build's own do.
std::string filled(const std::string& text, const std::string& base, bool native = false) {
    std::string result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) {
            result += text.substr(at);
            break;
        }
        result += text.substr(at, open - at);
        const std::string inner = text.substr(open + 1, close - open - 1);
        if (inner == ".exe") {
            result += underWine() ? ".exe" : "";
        } else if (inner == "veskal" || inner == "unveskal") {
            result += translated(inner == "veskal" ? wine.veskal : wine.unveskal);
        } else if (inner == "hold") {
            result += translated(wine.hold);
        } else {
            const std::string path = inner.empty() ? base : base + "/" + inner;
            result += native ? path : translated(path);
        }
        at = close + 1;
    }
    return result;
}

// Files past this size are known by their size alone.
constexpr std::uintmax_t largeFile = 64u << 20;

bool sameBytes(const std::string& a, const std::string& b) {
    return std::system(("cmp -s " + inQuotes(a) + " " + inQuotes(b)).c_str()) == 0;
}

class Table : public ::testing::TestWithParam<Case> {
protected:
    ~Table() override {
        for (auto undo = undos.rbegin(); undo != undos.rend(); ++undo) (*undo)();
    }

    RunResult run(Program program, std::vector<std::string> args, const std::string& cwd,
                  const std::string& outputFile = {}) const {
        testsupport::RunOptions options;
        options.workingDir = cwd;
        options.outputFile = outputFile;
        // Archives beyond 2 GiB take a while under an emulated 32-bit Wine.
        options.timeoutSeconds = 600;
        if (program == Program::linuxVeskal) return testsupport::runProgram(VESKAL_PATH, args, options);
        if (program == Program::linuxUnveskal) return testsupport::runProgram(UNVESKAL_PATH, args, options);
        const char* const native[] = {VESKAL_PATH, UNVESKAL_PATH, NM3INFO_PATH};
        if (!underWine()) return testsupport::runProgram(native[static_cast<int>(program)], args, options);
        if (program == Program::shell) {
            args.insert(args.begin(), {"cmd", "/c"});
        } else {
            const std::string* const windows[] = {&wine.veskal, &wine.unveskal, &wine.nm3info};
            args.insert(args.begin(), *windows[static_cast<int>(program)]);
        }
        const RunResult result = testsupport::runProgram(wine.wine64, args, options);
        // Every program says something when it fails, so a failed run that
        // printed nothing at all never started: Wine under load now and then
        // fails to start a program. One more try tells that from a fault of
        // the program, which would fail the same way again.
        if (result.status != 0 && result.out.empty() && result.err.empty()) {
            return testsupport::runProgram(wine.wine64, args, options);
        }
        return result;
    }

    void make(const Entry& entry) {
        const std::string path = base + "/" + entry.path;
        stdfs::create_directories(stdfs::path(path).parent_path());
        switch (entry.kind) {
        case Entry::Kind::file: testsupport::writeFile(path, entry.bytes); break;
        case Entry::Kind::dir: stdfs::create_directories(path); break;
        case Entry::Kind::link: stdfs::create_symlink(entry.bytes, path); break;
        case Entry::Kind::hardLink: stdfs::create_hard_link(base + "/" + entry.bytes, path); break;
        case Entry::Kind::sparse:
            testsupport::writeFile(path, entry.bytes);
            stdfs::resize_file(path, entry.size);
            break;
        case Entry::Kind::readOnly:
            stdfs::permissions(path, stdfs::perms::owner_read | stdfs::perms::group_read | stdfs::perms::others_read);
            break;
        case Entry::Kind::drive: {
            const std::string letter = wine.prefix + "/dosdevices/" + entry.bytes + ":";
            stdfs::remove(letter);
            stdfs::create_directory_symlink(path, letter);
            undos.push_back([letter] { stdfs::remove(letter); });
            break;
        }
        case Entry::Kind::tmpfs:
            stdfs::create_directories(path);
            ASSERT_EQ(std::system(("mount -t tmpfs veskal-e2e " + inQuotes(path)).c_str()), 0)
                << "the case mounts a tmpfs file system, as root";
            undos.push_back([path] { std::system(("umount " + inQuotes(path)).c_str()); });
            break;
        case Entry::Kind::packed: {
            const std::string atlas = filled("{" + entry.bytes + "}", base, entry.by == Program::linuxVeskal);
            const RunResult packing = run(entry.by, {"-i:atlas.nti", "-r:route.nm2", "-o:" + entry.path, atlas}, base);
            ASSERT_EQ(packing.status, 0) << packing.err;
            break;
        }
        case Entry::Kind::unpacked: {
            const RunResult unpacking = run(entry.by, {entry.path}, base);
            ASSERT_EQ(unpacking.status, 0) << unpacking.err;
            break;
        }
        case Entry::Kind::gone:
        case Entry::Kind::sameAs: FAIL() << "not a setup step";
        }
    }

    testsupport::ScratchDir scratch;
    // Wine names the working directory by its real path.
    const std::string base = stdfs::canonical(scratch.path());
    std::vector<std::function<void()>> undos;
};

TEST_P(Table, Case) {
    const Case& row = GetParam();
    if (row.only == (underWine() ? e2e::Only::native : e2e::Only::wine)) GTEST_SKIP() << "not on this platform";
    for (const Entry& entry : row.setup) {
        ASSERT_NO_FATAL_FAILURE(make(entry)) << entry.path;
    }
    testsupport::Files expected = testsupport::snapshot(base, largeFile);

    std::vector<std::string> args;
    const bool native = row.program == Program::linuxVeskal || row.program == Program::linuxUnveskal;
    for (const std::string& arg : row.args) args.push_back(filled(arg, base, native));
    const std::string outputFile = row.outFile.empty() ? "" : base + "/" + row.outFile;
    const RunResult result = run(row.program, args, row.cwd.empty() ? base : base + "/" + row.cwd, outputFile);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, filled(row.err, base, native));

    const testsupport::Files after = testsupport::snapshot(base, largeFile);
    for (const Entry& change : row.changes) {
        switch (change.kind) {
        case Entry::Kind::file: expected[change.path] = change.bytes; break;
        case Entry::Kind::dir: expected[change.path] = "<dir>"; break;
        case Entry::Kind::link: expected[change.path] = "-> " + change.bytes; break;
        case Entry::Kind::gone: expected.erase(change.path); break;
        case Entry::Kind::sameAs:
            expected[change.path] = after.count(change.bytes) ? after.at(change.bytes) : "";
            EXPECT_TRUE(sameBytes(base + "/" + change.path, base + "/" + change.bytes)) << change.path;
            break;
        case Entry::Kind::readOnly: {
            const stdfs::perms writable =
                stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;
            EXPECT_EQ(stdfs::status(base + "/" + change.path).permissions() & writable, stdfs::perms::none)
                << change.path;
            break;
        }
        default: FAIL() << "not a change";
        }
    }
    EXPECT_EQ(testsupport::differences(after, expected), "");
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Table, ::testing::ValuesIn(e2e::cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace

namespace e2e {
// Failures name the case rather than dump its bytes.
void PrintTo(const Case& row, std::ostream* out) { *out << row.name; }
}  // namespace e2e

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc == 9 && std::string(argv[1]) == "--wine") {
        wine = {argv[2], argv[3], argv[4], argv[5], argv[6], argv[7], argv[8]};
        ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    } else if (argc != 1) {
        std::fprintf(stderr,
                     "usage: %s [--wine WINE64 WINESERVER PREFIX VESKAL_EXE UNVESKAL_EXE NM3INFO_EXE HOLD_EXE]\n",
                     argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
