// Every packer and unpacker run of a small atlas driven through every
// failure point: for each kind of system call, the 1st, 2nd, ... call of
// that kind fails, until a run no longer makes that many. Each run must end
// with status 1 after exactly one of the programs' messages, its transcript
// up to it being the start of the run without faults, with the inputs as
// they were, no archive left by the packer and nothing written after the
// failure. Faults a program rightly rides over (closing a file it only read,
// closing a listing, the kernel refusing to copy, a folder that can't be
// emptied) must give the result of the run without faults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <tuple>

#include "console/frame.h"
#include "console/text.h"
#include "support/archives.h"
#include "support/run.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using console::formatText;
using testsupport::Bytes;
using testsupport::Files;
using testsupport::memberBytes;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::snapshot;
using testsupport::writeFile;

const char* const kinds[] = {"open", "create", "read", "write", "seek", "close", "list", "remove"};

// One run with a fault planned, and what the injection saw.
struct FaultRun {
    RunResult run;
    std::string fault;               // "KIND CALL DETAIL"; empty when none happened
    std::vector<std::string> after;  // files created or written after it
};

class EnvironmentFor {
public:
    EnvironmentFor(const std::string& fault, bool kernelCopy, const std::string& log, const char* plan = "VESKAL_FAULT") {
        ::setenv(plan, fault.c_str(), 1);
        ::setenv("VESKAL_FAULT_LOG", log.c_str(), 1);
        ::setenv("VESKAL_NO_KERNEL_COPY", kernelCopy ? "0" : "1", 1);
    }
    ~EnvironmentFor() {
        ::unsetenv("VESKAL_FAULT");
        ::unsetenv("VESKAL_INTERRUPT");
        ::unsetenv("VESKAL_FAULT_LOG");
        ::unsetenv("VESKAL_NO_KERNEL_COPY");
    }
    EnvironmentFor(const EnvironmentFor&) = delete;
    EnvironmentFor& operator=(const EnvironmentFor&) = delete;
};

FaultRun runWithFault(const std::string& program, const std::vector<std::string>& args, const std::string& fault,
                      bool kernelCopy, const std::string& log, const char* plan = "VESKAL_FAULT") {
    fs::remove(log);
    FaultRun result;
    {
        const EnvironmentFor environment(fault, kernelCopy, log, plan);
        result.run = testsupport::runProgram(program, args, testsupport::timeoutAfter(30));
    }
    std::istringstream lines(testsupport::fileExists(log) ? readFile(log) : Bytes());
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("fault ", 0) == 0) result.fault = line.substr(6);
        if (line.rfind("after ", 0) == 0) result.after.push_back(line.substr(6));
    }
    return result;
}

// A fault whose failure the program rightly ignores: closing a file it only
// read or a directory listing (everything it needed is in), and no pipe for
// the kernel's copy, which the buffered copy then makes.
bool ignoredByBoth(const std::string& fault) {
    return fault.find(" pipe2 ") != std::string::npos || fault.find(" closedir ") != std::string::npos ||
           fault.rfind("close close read-only", 0) == 0;
}

// The failure messages a run may end with, for every path it names.
std::vector<std::string> messagesFor(const std::vector<const char*>& formats, const std::vector<std::string>& paths) {
    std::vector<std::string> messages;
    for (const char* format : formats) {
        for (const std::string& path : paths) messages.push_back(formatText(format, path.c_str()));
    }
    return messages;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Checks that `err` is the start of the faultless transcript followed by
// exactly one of `messages`.
void expectOneMessage(const std::string& err, const std::string& faultless, const std::vector<std::string>& messages) {
    std::size_t count = 0;
    std::string last;
    for (const std::string& message : messages) {
        count += occurrences(err, message);
        if (err.size() >= message.size() && err.compare(err.size() - message.size(), message.size(), message) == 0) {
            last = message;
        }
    }
    ASSERT_FALSE(last.empty()) << "no defined message ends the transcript:\n" << err;
    EXPECT_EQ(count, 1u) << err;
    const std::string before = err.substr(0, err.size() - last.size());
    EXPECT_EQ(faultless.compare(0, before.size(), before), 0) << "transcript strays from the run without faults:\n"
                                                               << err;
}

// The atlas both programs work on: small members, and one large enough for
// the copy from file to file.
struct Atlas {
    Atlas() {
        fs::create_directory(folder);
        fs::create_directory(folder + "/maps.nm2");
        for (const auto& [name, bytes] : members) writeFile(folder + "/" + name, bytes);
    }

    testsupport::ScratchDir dir;
    const std::string folder = dir / "atlas";
    const std::vector<std::pair<std::string, Bytes>> members{
        {"atlas.nti", memberBytes("NIDX", 60, 700, 1)},
        {"route.nm2", memberBytes("RTE1", 16, 40, 2)},
        {"big.nm2", memberBytes("MAP2", 17, 2300 * 1024, 3)},
        {"small.nm2", memberBytes("MAP2", 18, 0, 4)},
    };
};

class FaultsTest : public ::testing::TestWithParam<std::tuple<const char*, bool>> {
protected:
    const std::string kind = std::get<0>(GetParam());
    const bool kernelCopy = std::get<1>(GetParam());
    Atlas atlas;
    const std::string log = atlas.dir / "faults.log";
};

using PackerFaults = FaultsTest;
using UnpackerFaults = FaultsTest;

TEST_P(PackerFaults, EveryFailurePointEndsCleanly) {
    const std::string out = atlas.dir / "atlas.nm3";
    const std::vector<std::string> args{"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas.folder};
    const Files inputs = snapshot(atlas.folder);

    const FaultRun faultless = runWithFault(VESKAL_FAULTS_PATH, args, "none:0", kernelCopy, log);
    ASSERT_EQ(faultless.run.status, 0) << faultless.run.err;
    const Bytes archive = readFile(out);

    std::vector<std::string> paths{out, atlas.folder};
    for (const auto& [name, bytes] : atlas.members) paths.push_back(atlas.folder + "/" + name);
    const std::vector<std::string> messages = messagesFor(
        {" Error: Can't create file: %s\n", " Error open file %s.\n", " Error read nti header file %s.\n",
         " Error read nm2 header file %s.\n", " Error write file %s.\n", " Error read file %s.\n",
         " Path not found: %s\n", " This path is NOT directory: %s\n", " Error: Can't access file: %s\n",
         " Error allocate memory for footer file %s.\n"},
        paths);

    int failurePoints = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 500) << "the run never runs out of " << kind << " calls";
        fs::remove(out);
        const FaultRun faulty = runWithFault(VESKAL_FAULTS_PATH, args, kind + ":" + std::to_string(n), kernelCopy, log);
        SCOPED_TRACE(kind + ":" + std::to_string(n) + " " + faulty.fault);
        EXPECT_FALSE(faulty.run.timedOut);
        EXPECT_EQ(snapshot(atlas.folder), inputs) << "an input changed";
        if (faulty.fault.empty()) {
            EXPECT_EQ(faulty.run.status, 0);
            EXPECT_EQ(faulty.run.err, faultless.run.err);
            break;
        }
        ++failurePoints;
        if (ignoredByBoth(faulty.fault)) {
            EXPECT_EQ(faulty.run.status, 0) << faulty.run.err;
            EXPECT_EQ(faulty.run.err, faultless.run.err);
            EXPECT_EQ(readFile(out), archive);
            continue;
        }
        EXPECT_EQ(faulty.run.status, 1) << faulty.run.err;
        expectOneMessage(faulty.run.err, faultless.run.err, messages);
        EXPECT_FALSE(fs::exists(fs::symlink_status(out))) << "archive left behind";
        EXPECT_EQ(faulty.after, std::vector<std::string>{}) << "written after the failure";
    }
    // The packer deletes only after a failure, so no faultless run removes.
    if (kind != "remove") {
        EXPECT_GT(failurePoints, 0) << "no " << kind << " call was ever made";
    }
}

// An interrupt right after every call of every kind, writes to the standard
// error stream included: the run ends with status 1 and its transcript up to
// then followed by " Interrupted." once, nothing said twice; the older file
// at the output's name is either untouched or gone, never emptied or left
// holding an archive, and no other name of it keeps any bytes.
class PackerInterrupts : public ::testing::TestWithParam<const char*> {
protected:
    Atlas atlas;
    const std::string log = atlas.dir / "faults.log";
};

TEST_P(PackerInterrupts, NoMomentLeavesAnArchiveOrAnEmptiedFile) {
    const std::string kind = GetParam();
    const std::string out = atlas.dir / "atlas.nm3";
    const std::string otherName = atlas.dir / "other-name";
    const std::vector<std::string> args{"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas.folder};
    const Files inputs = snapshot(atlas.folder);
    const Bytes older = "an older archive";
    const auto prepare = [&] {
        fs::remove(out);
        fs::remove(otherName);
        writeFile(out, older);
        fs::create_hard_link(out, otherName);
    };

    prepare();
    const FaultRun faultless = runWithFault(VESKAL_FAULTS_PATH, args, "none:0", true, log, "VESKAL_INTERRUPT");
    ASSERT_EQ(faultless.run.status, 0) << faultless.run.err;
    const std::string interrupted = " Interrupted.\n";

    int interruptions = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 500) << "the run never runs out of " << kind << " calls";
        prepare();
        const FaultRun run =
            runWithFault(VESKAL_FAULTS_PATH, args, kind + ":" + std::to_string(n), true, log, "VESKAL_INTERRUPT");
        SCOPED_TRACE(kind + ":" + std::to_string(n));
        EXPECT_FALSE(run.run.timedOut);
        EXPECT_EQ(snapshot(atlas.folder), inputs) << "an input changed";
        if (run.run.status == 0) {
            EXPECT_EQ(run.run.err, faultless.run.err);
            break;
        }
        ++interruptions;
        EXPECT_EQ(run.run.status, 1) << run.run.err;
        ASSERT_TRUE(run.run.err.ends_with(interrupted)) << run.run.err;
        EXPECT_EQ(occurrences(run.run.err, interrupted), 1u) << run.run.err;
        const std::string before = run.run.err.substr(0, run.run.err.size() - interrupted.size());
        EXPECT_EQ(faultless.run.err.compare(0, before.size(), before), 0) << "said twice or astray:\n" << run.run.err;
        const Bytes other = readFile(otherName);
        if (fs::exists(out)) {
            EXPECT_EQ(readFile(out), older) << "emptied or rewritten, and left";
        } else {
            EXPECT_EQ(other, "") << "another name keeps the archive's bytes";
        }
    }
    EXPECT_GT(interruptions, 0) << "no " << kind << " call was ever made";
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackerInterrupts,
                         ::testing::Values("open", "create", "read", "write", "seek", "close", "list", "say"));

// A fresh folder is created; a used one holds files of an earlier run that
// must go, and a sub-folder that stays.
enum class Folder { fresh, used };

void unpackEveryFailurePoint(const std::string& kind, bool kernelCopy, Atlas& atlas, const std::string& log,
                             Folder folderState) {
    // The archive the packer writes for the atlas, members in its order.
    const std::vector<Bytes> members{atlas.members[0].second, atlas.members[1].second, atlas.members[2].second,
                                     atlas.members[3].second};
    Bytes payload;
    Bytes footer;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) footer += testsupport::u32le(static_cast<std::uint32_t>(payload.size()));
        payload += members[i];
    }
    const std::string archivePath = atlas.dir / "west.nm3";
    const std::string folder = atlas.dir / "west.nm2";
    const Bytes archive =
        Bytes("GNM3\0\0\0\0", 8) + testsupport::u32le(static_cast<std::uint32_t>(payload.size())) + payload + footer;
    writeFile(archivePath, archive);
    const Files extracted{{"index.060.nti", members[0]},
                          {"west_00000.nm2", members[1]},
                          {"west_00001.nm2", members[2]},
                          {"west_00002.nm2", members[3]}};
    const Files stale{{"west_00003.nm2", "old"}, {"notes.txt", "old"}};
    const auto prepare = [&] {
        fs::remove_all(folder);
        if (folderState == Folder::fresh) return;
        fs::create_directories(folder + "/kept");
        for (const auto& [name, bytes] : stale) writeFile(folder + "/" + name, bytes);
    };
    const auto expectedFolder = [&](const Files& remaining) {
        Files files = extracted;
        if (folderState == Folder::used) files["kept"] = "<dir>";
        files.insert(remaining.begin(), remaining.end());
        return files;
    };

    prepare();
    const FaultRun faultless = runWithFault(UNVESKAL_FAULTS_PATH, {archivePath}, "none:0", kernelCopy, log);
    ASSERT_EQ(faultless.run.status, 0) << faultless.run.err;
    ASSERT_EQ(snapshot(folder), expectedFolder({}));

    std::vector<std::string> paths{archivePath};
    for (const auto& [name, bytes] : extracted) paths.push_back(folder + "/" + name);
    std::vector<std::string> messages = messagesFor(
        {" File %s NOT found.\n", " Error seek 0 file %s.\n", " Error reading header file %s.\n",
         " Not NM3 file: %s.\n", " Error seek SEEK_END file %s.\n", " Error get filesize file %s.\n",
         " Error calculate footerSize file %s.\n", " Error allocate memory for footer file %s.\n",
         " Error seek offsetFooter file %s.\n", " Error read footer file %s.\n", " Error invalid footer file %s.\n",
         " Error seek nti-begin (1) file %s.\n", " Error fread nti header file %s.\n",
         " No valid index in file: %s.\n", " Error seek nti-begin (2) file %s.\n", " File %s NOT created.\n",
         " Error write file %s.\n", " Error read file %s.\n"},
        paths);
    messages.emplace_back(" This path is NOT directory.\n");

    int failurePoints = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 500) << "the run never runs out of " << kind << " calls";
        prepare();
        const FaultRun faulty =
            runWithFault(UNVESKAL_FAULTS_PATH, {archivePath}, kind + ":" + std::to_string(n), kernelCopy, log);
        SCOPED_TRACE(kind + ":" + std::to_string(n) + " " + faulty.fault);
        EXPECT_FALSE(faulty.run.timedOut);
        EXPECT_EQ(readFile(archivePath), archive) << "the archive changed";
        if (faulty.fault.empty()) {
            EXPECT_EQ(faulty.run.status, 0);
            EXPECT_EQ(faulty.run.err, faultless.run.err);
            break;
        }
        ++failurePoints;
        // Emptying the folder ignores what it can't list or delete: the old
        // files stay beside the members.
        const bool emptying = kind == "list" || kind == "remove";
        if (ignoredByBoth(faulty.fault) || emptying) {
            EXPECT_EQ(faulty.run.status, 0) << faulty.run.err;
            EXPECT_EQ(faulty.run.err, faultless.run.err);
            Files remaining;
            if (emptying) {
                for (const auto& [name, bytes] : snapshot(folder)) {
                    if (stale.count(name) != 0) remaining[name] = bytes;
                }
                if (folderState == Folder::used) {
                    EXPECT_FALSE(remaining.empty()) << "old files deleted after all";
                }
            }
            EXPECT_EQ(snapshot(folder), expectedFolder(remaining));
            continue;
        }
        EXPECT_EQ(faulty.run.status, 1) << faulty.run.err;
        expectOneMessage(faulty.run.err, faultless.run.err, messages);
        EXPECT_EQ(faulty.after, std::vector<std::string>{}) << "written after the failure";
        // What was extracted before the failure stays; no old file does.
        for (const auto& [name, bytes] : snapshot(folder)) EXPECT_EQ(stale.count(name), 0u) << name;
    }
    const bool reachable = kind != "remove" || folderState == Folder::used;
    if (reachable) {
        EXPECT_GT(failurePoints, 0) << "no " << kind << " call was ever made";
    }
}

TEST_P(UnpackerFaults, EveryFailurePointEndsCleanlyInAFreshFolder) {
    unpackEveryFailurePoint(kind, kernelCopy, atlas, log, Folder::fresh);
}

TEST_P(UnpackerFaults, EveryFailurePointEndsCleanlyInAUsedFolder) {
    unpackEveryFailurePoint(kind, kernelCopy, atlas, log, Folder::used);
}

std::string nameOf(const ::testing::TestParamInfo<std::tuple<const char*, bool>>& info) {
    return std::string(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_kernelCopy" : "_bufferedCopy");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackerFaults, ::testing::Combine(::testing::ValuesIn(kinds), ::testing::Bool()),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(Kinds, UnpackerFaults, ::testing::Combine(::testing::ValuesIn(kinds), ::testing::Bool()),
                         nameOf);

}  // namespace
