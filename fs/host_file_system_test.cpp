// The machine's file system reports the real calls' failures as the
// interface's: refusals, not blocking, crashes or signals.
#include "fs/host_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>

#include "testing/scratch.h"

namespace {

TEST(HostFileSystem, RefusesWhatItCannotDo) {
    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "plain", "abc");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("missing", (dir / "dangling").c_str()), 0);

    EXPECT_NE(files.openRead(dir / "plain", nullptr), nullptr);
    // A FIFO nobody writes would block an open made without care.
    EXPECT_EQ(files.openRead(dir / "fifo", nullptr), nullptr);
    EXPECT_EQ(files.openRead(dir / "missing", nullptr), nullptr);
    EXPECT_EQ(files.openRead(dir / "dangling", nullptr), nullptr);
    EXPECT_EQ(files.openRead(dir / "sub", nullptr), nullptr);
    // A name is opened to be written never through a link, and a taken one
    // only as the regular file it is, nothing cut.
    EXPECT_EQ(files.openToWrite(dir / "dangling").file, nullptr);
    EXPECT_EQ(files.openToWrite(dir / "sub").file, nullptr);
    EXPECT_EQ(files.openToWrite(dir / "fifo").file, nullptr);
    EXPECT_EQ(files.openToWrite(dir / "sub/missing/new").file, nullptr);
    ASSERT_EQ(::symlink("plain", (dir / "link").c_str()), 0);
    EXPECT_EQ(files.openToWrite(dir / "link").file, nullptr);
    const fs::Opened taken = files.openToWrite(dir / "plain");
    EXPECT_NE(taken.file, nullptr);
    EXPECT_FALSE(taken.made);
    const fs::Opened made = files.openToWrite(dir / "new");
    EXPECT_NE(made.file, nullptr);
    EXPECT_TRUE(made.made);
    std::string madeAt;
    EXPECT_EQ(files.createOutput(dir / "sub", madeAt), nullptr);
    EXPECT_EQ(files.createOutput(dir / "fifo", madeAt), nullptr);
    EXPECT_FALSE(files.remove(dir / "sub"));
    EXPECT_FALSE(files.remove(dir / "missing"));
    EXPECT_FALSE(files.makeDir(dir / "sub"));
    EXPECT_FALSE(files.makeDir(dir / "missing/new"));
    EXPECT_EQ(files.list(dir / "plain"), std::nullopt);
    EXPECT_EQ(files.list(dir / "missing"), std::nullopt);
    EXPECT_FALSE(files.emptyFile(dir / "missing"));
    EXPECT_EQ(files.info(dir / "dangling").kind, fs::Kind::missing);
    EXPECT_EQ(files.info(dir / "dangling", fs::Links::notFollowed).kind, fs::Kind::other);
    EXPECT_EQ(files.info(dir / "sub").kind, fs::Kind::directory);
    EXPECT_EQ(files.info(dir / "link", fs::Links::notFollowed).kind, fs::Kind::other);
    EXPECT_EQ(files.info(dir / "link").kind, fs::Kind::file);
    EXPECT_EQ(testsupport::readFile(dir / "plain"), "abc");
}

// The output made at the end of a link that leads nowhere is told, so that
// a failure can delete it too.
TEST(HostFileSystem, OutputMadeThroughALinkIsTold) {
    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    ASSERT_EQ(::symlink("made", (dir / "link").c_str()), 0);
    std::string madeAt = "stale";
    EXPECT_NE(files.createOutput(dir / "link", madeAt), nullptr);
    EXPECT_EQ(madeAt, dir / "made");
    EXPECT_NE(files.createOutput(dir / "link", madeAt), nullptr);
    EXPECT_EQ(madeAt, "");
}

// A file is the same by whatever name reaches it, and only then.
TEST(HostFileSystem, IdentityFollowsLinksAndSeesThroughOtherNames) {
    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "a", "x");
    testsupport::writeFile(dir / "b", "x");
    ASSERT_EQ(::link((dir / "a").c_str(), (dir / "hard").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "a").c_str(), (dir / "soft").c_str()), 0);
    const fs::FileInfo a = files.info(dir / "a");
    ASSERT_EQ(a.kind, fs::Kind::file);
    EXPECT_EQ(a.links, 2u);
    EXPECT_EQ(fs::sameFile(files.info(dir / "hard"), a), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(files.info(dir / "soft"), a), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(files.info(dir / "soft", fs::Links::notFollowed), a), fs::Sameness::different);
    EXPECT_EQ(fs::sameFile(files.info(dir / "b"), a), fs::Sameness::different);
    EXPECT_EQ(files.info(dir / "missing").kind, fs::Kind::missing);
    EXPECT_EQ(fs::sameFile(*files.openRead(dir / "soft")->info(), a), fs::Sameness::same);
}

TEST(HostFileSystem, ListsDirectoriesAndLinksToThemAsDirectories) {
    testsupport::ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("sub", (dir / "tosub").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    testsupport::writeFile(dir / "f", "");
    const auto entries = fs::hostFileSystem().list(dir.path());
    ASSERT_TRUE(entries);
    std::map<std::string, bool> seen;
    for (const auto& entry : *entries) seen[entry.name] = entry.isDirectory;
    EXPECT_EQ(seen, (std::map<std::string, bool>{{"sub", true}, {"tosub", true}, {"dangling", false}, {"f", false}}));
    EXPECT_FALSE(fs::hostFileSystem().list(dir / "f"));
}

// Identities found with a listing are what info() says of each name, links
// followed or not.
TEST(HostFileSystem, ListedIdentitiesAreTheFilesOwn) {
    fs::FileSystem& files = fs::hostFileSystem();
    const int count = 3;
    testsupport::ScratchDir dir;
    ASSERT_EQ(::symlink("0", (dir / "link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    for (int i = 0; i < count; ++i) testsupport::writeFile(dir / std::to_string(i), std::string(i % 3, 'x'));
    for (const auto& [detail, links] : {std::pair{fs::Detail::identities, fs::Links::followed},
                                        std::pair{fs::Detail::ownIdentities, fs::Links::notFollowed}}) {
        const auto entries = files.list(dir.path(), detail);
        ASSERT_TRUE(entries);
        ASSERT_EQ(entries->size(), static_cast<std::size_t>(count) + 2);
        for (const fs::Entry& entry : *entries) {
            const fs::FileInfo named = files.info(dir / entry.name, links);
            EXPECT_EQ(entry.info.kind, named.kind) << entry.name;
            EXPECT_EQ(entry.info.size, named.size) << entry.name;
            if (named.kind != fs::Kind::missing) {
                EXPECT_EQ(fs::sameFile(entry.info, named), fs::Sameness::same) << entry.name;
            }
        }
    }
    EXPECT_EQ(fs::sameFile(files.info(dir / "0"), files.info(dir / "1")), fs::Sameness::different);
}

// Another run's lock keeps the output from being opened and a reader from
// an archive being written; readers don't keep each other out.
TEST(HostFileSystem, LocksKeepOtherRunsOut) {
    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    const std::string path = dir / "archive";
    testsupport::writeFile(path, "old");
    std::string madeAt;
    {
        // Another open of the file stands for another run.
        const int other = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(other, 0);
        ASSERT_EQ(::flock(other, LOCK_SH), 0);
        EXPECT_NE(files.openRead(path, nullptr, fs::Lock::shared), nullptr);
        EXPECT_EQ(files.createOutput(path, madeAt), nullptr);
        ASSERT_EQ(::flock(other, LOCK_EX), 0);
        EXPECT_EQ(files.openRead(path, nullptr, fs::Lock::shared), nullptr);
        EXPECT_NE(files.openRead(path, nullptr, fs::Lock::none), nullptr);
        ::close(other);
    }
    {
        const std::unique_ptr<fs::File> output = files.createOutput(path, madeAt);
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(files.openRead(path, nullptr, fs::Lock::shared), nullptr);
        EXPECT_EQ(files.createOutput(path, madeAt), nullptr);
        EXPECT_TRUE(output->close());
    }
    EXPECT_NE(files.openRead(path, nullptr, fs::Lock::shared), nullptr);
    // Nothing was cut or written by any of it.
    EXPECT_EQ(testsupport::readFile(path), "old");
}

// A disk that fills up: writing past the process's file size limit fails as
// a write, without the signal that would end the process. The limit is set
// in a child, so that this process keeps its own.
TEST(HostFileSystem, AWritePastTheSizeLimitFails) {
    testsupport::ScratchDir dir;
    const std::string path = dir / "out";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        const std::unique_ptr<fs::File> file = fs::hostFileSystem().openToWrite(path).file;
        if (!file) ::_exit(3);
        const std::string block(4096, 'x');
        if (!file->write(block.data(), block.size())) ::_exit(4);
        ::_exit(file->write(block.data(), block.size()) ? 5 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no limit, 3: not created, 4: first block failed, 5: wrote past it";
    EXPECT_EQ(testsupport::readFile(path).size(), 4096u);
}

}  // namespace
