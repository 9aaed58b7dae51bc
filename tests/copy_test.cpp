#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "console/copy.h"
#include "fs/host_file_system.h"
#include "support/scratch.h"

namespace {

using console::CopyResult;
using testsupport::Bytes;

// Runs every case with the kernel's copy and with the buffer alone.
class CopyBlocks : public ::testing::TestWithParam<bool> {
protected:
    CopyBlocks() { buffer.kernelCopy = GetParam(); }

    std::unique_ptr<fs::File> source(const Bytes& bytes) {
        testsupport::writeFile(dir / "source", bytes);
        return files.openRead(dir / "source", nullptr);
    }
    std::unique_ptr<fs::File> target() { return files.create(dir / "target"); }
    Bytes written() { return testsupport::readFile(dir / "target"); }

    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    console::CopyBuffer buffer;
};

TEST_P(CopyBlocks, CopiesMoreThanTheBufferHoldsFromTheCurrentPositions) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, 3 * console::CopyBuffer::defaultSize + 17);
    const auto in = source(bytes);
    const auto out = target();
    ASSERT_TRUE(in->seek(5));
    ASSERT_TRUE(out->write("xy", 2));
    const CopyResult result = console::copyBlocks(files, *in, *out, console::noLimit, buffer);
    EXPECT_EQ(result.status, CopyResult::Status::complete);
    EXPECT_EQ(result.copied, bytes.size() - 5);
    ASSERT_TRUE(out->close());
    EXPECT_EQ(written(), "xy" + bytes.substr(5));
}

TEST_P(CopyBlocks, StopsAtTheLimitAndGoesOnFromThere) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, console::CopyBuffer::defaultSize + 100);
    const auto in = source(bytes);
    const auto out = target();
    const std::uint64_t first = console::CopyBuffer::defaultSize + 1;
    EXPECT_EQ(console::copyBlocks(files, *in, *out, first, buffer).copied, first);
    EXPECT_EQ(console::copyBlocks(files, *in, *out, 0, buffer).copied, 0u);
    // The rest ends before its limit: a short copy, not an error.
    const CopyResult rest = console::copyBlocks(files, *in, *out, 1000, buffer);
    EXPECT_EQ(rest.status, CopyResult::Status::complete);
    EXPECT_EQ(rest.copied, bytes.size() - first);
    ASSERT_TRUE(out->close());
    EXPECT_EQ(written(), bytes);
}

TEST_P(CopyBlocks, ReportsWhichSideFailed) {
    testsupport::writeFile(dir / "data", "some bytes");
    // A descriptor opened for writing only can't be read, and the other way
    // round.
    const auto unreadable = fs::hostFile(platform::File(::open((dir / "data").c_str(), O_WRONLY)));
    const auto readable = files.openRead(dir / "data", nullptr);
    const auto out = target();
    EXPECT_EQ(console::copyBlocks(files, *unreadable, *out, console::noLimit, buffer).status,
              CopyResult::Status::readError);
    const auto unwritable = files.openRead(dir / "target", nullptr);
    EXPECT_EQ(console::copyBlocks(files, *readable, *unwritable, console::noLimit, buffer).status,
              CopyResult::Status::writeError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyBlocks, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

}  // namespace

namespace {

class CopyIntoWriter : public ::testing::Test {
protected:
    std::unique_ptr<fs::File> source(const std::string& name, const Bytes& bytes) {
        testsupport::writeFile(dir / name, bytes);
        return files.openRead(dir / name, nullptr);
    }

    fs::FileSystem& files = fs::hostFileSystem();
    testsupport::ScratchDir dir;
    console::CopyBuffer buffer;
};

TEST_F(CopyIntoWriter, SmallMembersGatherAndLargeOnesGoFileToFile) {
    const auto out = files.create(dir / "archive");
    console::BlockWriter writer(*out);
    Bytes expected;
    // Small members fill the writer past its capacity; a large one in
    // between flushes it first.
    for (int i = 0; i < 40; ++i) {
        const Bytes bytes = testsupport::memberBytes("SMAL", 16, i == 20 ? 3 * console::smallCopy : 40000,
                                                     static_cast<unsigned>(i));
        const auto in = source("m" + std::to_string(i), bytes);
        const CopyResult copy = console::copyBlocks(files, *in, writer, console::noLimit, bytes.size(), buffer);
        ASSERT_EQ(copy.status, CopyResult::Status::complete);
        ASSERT_EQ(copy.copied, bytes.size());
        expected += bytes;
    }
    ASSERT_TRUE(writer.write("tail", 4));
    ASSERT_TRUE(writer.flush());
    ASSERT_TRUE(out->close());
    EXPECT_EQ(testsupport::readFile(dir / "archive"), expected + "tail");
}

TEST_F(CopyIntoWriter, AMemberThatGrewAfterOpeningIsCopiedWhole) {
    const Bytes bytes = testsupport::memberBytes("GROW", 16, 5000);
    const auto in = source("grown", bytes);
    const auto out = files.create(dir / "archive");
    console::BlockWriter writer(*out);
    // Told the size it had before it grew, and a limit one byte short.
    CopyResult copy = console::copyBlocks(files, *in, writer, console::noLimit, 100, buffer);
    EXPECT_EQ(copy.copied, bytes.size());
    ASSERT_TRUE(in->seek(0));
    copy = console::copyBlocks(files, *in, writer, bytes.size() - 1, 100, buffer);
    EXPECT_EQ(copy.copied, bytes.size() - 1);
    ASSERT_TRUE(writer.flush());
    ASSERT_TRUE(out->close());
    EXPECT_EQ(testsupport::readFile(dir / "archive"), bytes + bytes.substr(0, bytes.size() - 1));
}

TEST_F(CopyIntoWriter, WriteFailureShowsAtTheFlush) {
    testsupport::writeFile(dir / "archive", "");
    const auto readOnly = files.openRead(dir / "archive", nullptr);
    console::BlockWriter writer(*readOnly);
    const auto in = source("small", testsupport::memberBytes("SMAL", 16, 10));
    EXPECT_EQ(console::copyBlocks(files, *in, writer, console::noLimit, 16, buffer).status, CopyResult::Status::complete);
    EXPECT_FALSE(writer.flush());
}

TEST(KernelCopy, AnotherFileSystemFallsBackToTheBuffer) {
    // tmpfs and the test's own folder: the kernel refuses to copy across.
    if (platform::pathKind("/dev/shm") != platform::PathKind::directory) GTEST_SKIP() << "no /dev/shm";
    testsupport::ScratchDir dir;
    const std::string shm = "/dev/shm/veskal-copy-test-" + std::to_string(::getpid());
    const Bytes bytes = testsupport::memberBytes("XDEV", 16, 3 * console::CopyBuffer::defaultSize);
    testsupport::writeFile(shm, bytes);
    fs::FileSystem& files = fs::hostFileSystem();
    const auto in = files.openRead(shm, nullptr);
    const auto out = files.create(dir / "target");
    console::CopyBuffer buffer;
    const CopyResult copy = console::copyBlocks(files, *in, *out, console::noLimit, buffer);
    ::unlink(shm.c_str());
    EXPECT_EQ(copy.status, CopyResult::Status::complete);
    ASSERT_TRUE(out->close());
    EXPECT_EQ(testsupport::readFile(dir / "target"), bytes);
}

}  // namespace
