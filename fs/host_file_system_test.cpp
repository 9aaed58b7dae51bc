// The machine's file system reports the real calls' failures as the
// interface's: refusals, not blocking, crashes or signals.
#include "fs/host_file_system.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/scratch.h"

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
    EXPECT_EQ(files.create(dir / "sub"), nullptr);
    EXPECT_EQ(files.create(dir / "fifo"), nullptr);
    EXPECT_EQ(files.create(dir / "sub/missing/new"), nullptr);
    EXPECT_FALSE(files.remove(dir / "sub"));
    EXPECT_FALSE(files.remove(dir / "missing"));
    EXPECT_FALSE(files.makeDir(dir / "sub"));
    EXPECT_FALSE(files.makeDir(dir / "missing/new"));
    EXPECT_EQ(files.list(dir / "plain"), std::nullopt);
    EXPECT_EQ(files.list(dir / "missing"), std::nullopt);
    EXPECT_FALSE(files.emptyFile(dir / "missing"));
    EXPECT_EQ(files.status(dir / "dangling").kind, fs::Kind::missing);
    EXPECT_EQ(files.status(dir / "sub").kind, fs::Kind::directory);
    EXPECT_EQ(testsupport::readFile(dir / "plain"), "abc");
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
        const std::unique_ptr<fs::File> file = fs::hostFileSystem().create(path);
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
