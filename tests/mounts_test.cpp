// Both programs where a folder's listing says less than the files do: a file
// bound over another name (its listing shows the number of the file it
// covers), an overlay whose files lie on another device than their folder,
// and a folder another user can write but not list. These need root for the
// mounts and to run as another user; without it they are skipped.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include "testing/archives.h"
#include "testing/run.h"
#include "testing/scratch.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;

// A mount that lasts while the object lives; `error` says why there is none.
class Mount {
public:
    Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
          const std::string& options = "")
        : target_(target) {
        if (::mount(source.c_str(), target.c_str(), type, flags, options.empty() ? nullptr : options.c_str()) != 0) {
            error_ = std::strerror(errno);
        }
    }
    ~Mount() {
        if (error_.empty()) ::umount2(target_.c_str(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    const std::string& error() const { return error_; }

private:
    std::string target_;
    std::string error_;
};

constexpr unsigned nobody = 65534;

class Mounts : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount and to run as another user";
        stdfs::permissions(dir.path(), stdfs::perms::all & ~stdfs::perms::group_write & ~stdfs::perms::others_write);
    }

    RunResult run(const char* program, const std::vector<std::string>& args) const {
        return testsupport::runProgram(program, args, testsupport::inFolder(dir.path()));
    }

    // An atlas in `folder`, with a further member x.nm2.
    void atlasIn(const std::string& folder) const {
        stdfs::create_directories(folder);
        writeFile(folder + "/atlas.nti", memberBytes("NIDX", 60, 30, 1));
        writeFile(folder + "/route.nm2", memberBytes("RTE1", 16, 30, 2));
        writeFile(folder + "/b.nm2", memberBytes("BBBB", 16, 30, 3));
        writeFile(folder + "/x.nm2", memberBytes("XXXX", 16, 30, 4));
    }

    testsupport::ScratchDir dir;
    const std::vector<Bytes> members{memberBytes("NIDX", 60, 30, 1), memberBytes("RTE1", 16, 30, 2),
                                     memberBytes("MAP2", 16, 3000, 3)};
};

// The output reaches a member through a bind mount, by either name: refused
// before anything is made, the user's file as it was.
TEST_F(Mounts, AnOutputBoundOverAMemberIsRefused) {
    const std::string atlas = dir / "atlas";
    atlasIn(atlas);
    stdfs::create_directory(dir / "else");
    const Bytes keep = memberBytes("KEEP", 16, 7000, 5);
    writeFile(dir / "else/keep.nm2", keep);
    const Mount bound(dir / "else/keep.nm2", atlas + "/x.nm2", nullptr, MS_BIND);
    if (!bound.error().empty()) GTEST_SKIP() << "no bind mount: " << bound.error();
    for (const std::string out : {"else/keep.nm2", "atlas/x.nm2"}) {
        SCOPED_TRACE(out);
        const RunResult result = run(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, "atlas"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.ends_with(" Error open file " + atlas + "/x.nm2.\n")) << result.err;
        EXPECT_TRUE(readFile(dir / "else/keep.nm2") == keep) << "changed";
    }
}

// An overlay whose lower layer is another file system: its folders are on
// one device, its files on another. The output named as a member is
// refused; the archive inside the unpacker's folder is not deleted.
TEST_F(Mounts, AnOverlaysFilesAreToldByThemselves) {
    for (const char* name : {"lower", "upper", "work", "merged"}) stdfs::create_directory(dir / name);
    const Mount lower("tmpfs", dir / "lower", "tmpfs", 0, "size=16m");
    if (!lower.error().empty()) GTEST_SKIP() << "no tmpfs: " << lower.error();
    atlasIn(dir / "lower/atlas");
    const Bytes x = readFile(dir / "lower/atlas/x.nm2");
    const Bytes archive = archiveOf(members);
    stdfs::create_directory(dir / "lower/west.nm2");
    writeFile(dir / "lower/west.nm2/real.nm3", archive);
    writeFile(dir / "lower/west.nm2/old.nm2", "old");
    stdfs::create_symlink("west.nm2/real.nm3", dir / "lower/west.nm3");
    const Mount merged("overlay", dir / "merged", "overlay", 0,
                       "lowerdir=" + (dir / "lower") + ",upperdir=" + (dir / "upper") + ",workdir=" + (dir / "work"));
    if (!merged.error().empty()) GTEST_SKIP() << "no overlay: " << merged.error();

    const std::string atlas = dir / "merged/atlas";
    const RunResult packed = run(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:merged/atlas/x.nm2", atlas});
    EXPECT_EQ(packed.status, 1);
    EXPECT_TRUE(packed.err.ends_with(" Error open file " + atlas + "/x.nm2.\n")) << packed.err;
    EXPECT_TRUE(readFile(atlas + "/x.nm2") == x) << "changed";

    const RunResult unpacked = run(UNVESKAL_PATH, {"merged/west.nm3"});
    EXPECT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_TRUE(readFile(dir / "merged/west.nm2/real.nm3") == archive) << "changed";
    EXPECT_FALSE(stdfs::exists(dir / "merged/west.nm2/old.nm2"));
    EXPECT_TRUE(readFile(dir / "merged/west.nm2/west_00001.nm2") == members[2]) << "changed";
}

// The archive bound over a member's name: that member is not created, and
// the archive is as it was.
TEST_F(Mounts, TheArchiveBoundOverAMembersNameIsNotWritten) {
    const Bytes archive = archiveOf(members);
    writeFile(dir / "west.nm3", archive);
    stdfs::create_directory(dir / "west.nm2");
    writeFile(dir / "west.nm2/west_00000.nm2", "covered");
    const Mount bound(dir / "west.nm3", dir / "west.nm2/west_00000.nm2", nullptr, MS_BIND);
    if (!bound.error().empty()) GTEST_SKIP() << "no bind mount: " << bound.error();
    const RunResult result = run(UNVESKAL_PATH, {"west.nm3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.ends_with(" File " + (dir / "west.nm2/west_00000.nm2") + " NOT created.\n")) << result.err;
    EXPECT_TRUE(readFile(dir / "west.nm3") == archive) << "changed";
}

// A folder another user can write but not list, holding another name of
// the archive or a link out of it under a member's name: neither is written
// through, and the archive and the user's file are as they were.
TEST_F(Mounts, AFolderThatCantBeListedIsNeverWrittenThrough) {
    const Bytes archive = archiveOf(members);
    const std::string folder = dir / "west.nm2";
    const std::string victim = dir / "victim.txt";
    struct Row {
        const char* name;
        std::function<void()> setup;
        std::string notCreated;
    };
    const std::vector<Row> rows{
        {"another name of the archive", [&] { stdfs::create_hard_link(dir / "west.nm3", folder + "/west_00001.nm2"); },
         folder + "/west_00001.nm2"},
        {"a link out of the folder", [&] { stdfs::create_symlink("../victim.txt", folder + "/west_00000.nm2"); },
         folder + "/west_00000.nm2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        stdfs::remove_all(folder);
        stdfs::create_directory(folder);
        writeFile(dir / "west.nm3", archive);
        writeFile(victim, "a user's file");
        row.setup();
        for (const std::string& path : {dir / "west.nm3", victim}) ASSERT_EQ(::chown(path.c_str(), nobody, nobody), 0);
        stdfs::permissions(folder, stdfs::perms::owner_write | stdfs::perms::owner_exec | stdfs::perms::group_write |
                                       stdfs::perms::group_exec | stdfs::perms::others_write |
                                       stdfs::perms::others_exec);
        const std::string setUser = "--reuid=" + std::to_string(nobody);
        const std::string setGroup = "--regid=" + std::to_string(nobody);
        const RunResult result =
            run("/usr/bin/setpriv", {setUser, setGroup, "--clear-groups", UNVESKAL_PATH, dir / "west.nm3"});
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.ends_with(" File " + row.notCreated + " NOT created.\n")) << result.err;
        EXPECT_TRUE(readFile(dir / "west.nm3") == archive) << "changed";
        EXPECT_EQ(readFile(victim), "a user's file");
    }
}

}  // namespace
