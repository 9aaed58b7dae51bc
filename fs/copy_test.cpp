#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "fs/copy.h"
#include "fs/host_file_system.h"
#include "testing/scratch.h"

namespace {

using fs::BlockReader;
using fs::BlockWriter;
using fs::CopyResult;
using testsupport::Bytes;

constexpr std::size_t block = BlockWriter::capacity;

// Runs every case with the kernel's copy for large sources and with the
// writer's buffer alone.
class CopyIntoWriter : public ::testing::TestWithParam<bool> {
protected:
    platform::File source(const std::string& name, const Bytes& bytes) {
        testsupport::writeFile(dir / name, bytes);
        return *platform::openRead(dir / name);
    }
    BlockWriter writerOf(fs::File& file) {
        BlockWriter writer(fs::hostFileSystem(), file, fs::Block(BlockWriter::capacity));
        writer.kernelCopy = GetParam();
        return writer;
    }

    testsupport::ScratchDir dir;
};

TEST_P(CopyIntoWriter, MembersOfEverySizeComeOutInOrder) {
    const auto out = fs::hostFile(*platform::createFile(dir / "archive"));
    BlockWriter writer = writerOf(*out);
    Bytes expected = "head";
    ASSERT_TRUE(writer.write("head", 4));
    // Small members fill the writer past its capacity; larger ones cross
    // several blocks, one of them (size 0 here) ending exactly at a block's
    // end.
    const std::size_t sizes[] = {40000, 3 * block + 17, 40000, 0, 2 * block, 6, 7};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::size_t size = sizes[i] != 0 ? sizes[i] : block - expected.size() % block;
        const Bytes bytes = testsupport::memberBytes("SMAL", 16, size - 6, static_cast<unsigned>(i));
        const auto in = fs::hostFile(source("m" + std::to_string(i), bytes));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, fs::noLimit, bytes.size());
        ASSERT_EQ(copy.status, CopyResult::Status::complete);
        ASSERT_EQ(copy.copied, bytes.size());
        expected += bytes;
    }
    ASSERT_TRUE(writer.flush());
    ASSERT_TRUE(out->close());
    EXPECT_EQ(testsupport::readFile(dir / "archive"), expected);
}

TEST_P(CopyIntoWriter, LargeSourcesLandAnywhereInAPage) {
    // The source's header is read first, as the packer does; its body then
    // lands `ahead` bytes past its place in the source's pages.
    const Bytes bytes = testsupport::memberBytes("PLCE", 16, 3 * block + 17);
    for (const std::size_t ahead : {0, 1, 4, 31, 32, 2048, 4095, 4097}) {
        const auto in = fs::hostFile(source("placed", bytes));
        const auto out = fs::hostFile(*platform::createFile(dir / "archive"));
        BlockWriter writer = writerOf(*out);
        const Bytes filler(ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        char header[6];
        ASSERT_EQ(in->read(header, sizeof header), sizeof header);
        ASSERT_TRUE(writer.write(header, sizeof header));
        const CopyResult copy = fs::copyBlocks(*in, sizeof header, writer, fs::noLimit, bytes.size() - sizeof header);
        EXPECT_EQ(copy.status, CopyResult::Status::complete) << ahead;
        EXPECT_EQ(copy.copied, bytes.size() - sizeof header) << ahead;
        ASSERT_TRUE(writer.write("tail", 4));
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_EQ(testsupport::readFile(dir / "archive"), filler + bytes + "tail") << ahead;
    }
}

TEST_P(CopyIntoWriter, SourceThatChangedSinceItWasOpened) {
    struct Case {
        const char* what;
        std::size_t size;      // bytes the source holds
        std::uint64_t expected;  // what it held when it was opened
        std::uint64_t limit;
        std::size_t copied;
        std::size_t ahead = 0;  // bytes in the writer before it
    };
    const Case cases[] = {
        {"grew, small", 5000, 100, fs::noLimit, 5000},
        {"grew, one byte past the limit", 5000, 100, 4999, 4999},
        {"grew, large", 3 * block, block + 5, fs::noLimit, 3 * block},
        {"grew, large, landing just ahead", 3 * block, block + 5, fs::noLimit, 3 * block, 8},
        {"grew, large, one byte past the limit", 3 * block, block + 5, 2 * block, 2 * block, 8},
        {"shrank, small", 100, 5000, fs::noLimit, 100},
        {"shrank, large", block + 3, 3 * block, fs::noLimit, block + 3},
        {"shrank, large, landing just ahead", block + 3, 3 * block, fs::noLimit, block + 3, 8},
    };
    for (const Case& c : cases) {
        const Bytes bytes = testsupport::memberBytes("CHNG", 16, c.size - 6);
        const auto in = fs::hostFile(source("changed", bytes));
        const auto out = fs::hostFile(*platform::createFile(dir / "archive"));
        BlockWriter writer = writerOf(*out);
        const Bytes filler(c.ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, c.limit, c.expected);
        EXPECT_EQ(copy.status, CopyResult::Status::complete) << c.what;
        EXPECT_EQ(copy.copied, c.copied) << c.what;
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_EQ(testsupport::readFile(dir / "archive"), filler + bytes.substr(0, c.copied)) << c.what;
    }
}

TEST_P(CopyIntoWriter, ShortReadsBeforeTheEndAreAskedAgain) {
    // A pipe hands over what has arrived so far: the copy must read on until
    // the end, not stop at the first read that returns less than it asked.
    struct Case {
        std::size_t size;
        std::size_t piece;  // what arrives at a time
        std::size_t ahead;  // bytes in the writer before it
    };
    for (const Case& c : {Case{3000, 1000, 0}, Case{3 * block, 300000, 0}, Case{3 * block, 300000, 8}}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const auto in = fs::hostFile(platform::File(ends[0]));
        const Bytes bytes = testsupport::memberBytes("SHRT", 16, c.size - 6);
        std::thread feeder([&] {
            for (std::size_t at = 0; at < bytes.size(); at += c.piece) {
                const std::size_t now = std::min(c.piece, bytes.size() - at);
                EXPECT_EQ(::write(ends[1], bytes.data() + at, now), static_cast<ssize_t>(now));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(ends[1]);
        });
        const auto out = fs::hostFile(*platform::createFile(dir / "archive"));
        BlockWriter writer = writerOf(*out);
        const Bytes filler(c.ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, fs::noLimit, bytes.size());
        feeder.join();
        EXPECT_EQ(copy.status, CopyResult::Status::complete) << c.size;
        EXPECT_EQ(copy.copied, bytes.size()) << c.size;
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_EQ(testsupport::readFile(dir / "archive"), filler + bytes) << c.size;
    }
}

TEST_P(CopyIntoWriter, FailuresAreReportedBySide) {
    testsupport::writeFile(dir / "archive", "");
    const auto readOnly = fs::hostFile(*platform::openRead(dir / "archive"));
    // A small member waits in the writer: its failure shows at the flush.
    {
        BlockWriter writer = writerOf(*readOnly);
        const auto in = fs::hostFile(source("small", testsupport::memberBytes("SMAL", 16, 10)));
        EXPECT_EQ(fs::copyBlocks(*in, 0, writer, fs::noLimit, 16).status, CopyResult::Status::complete);
        EXPECT_FALSE(writer.flush());
    }
    // A large one fails at its first write: a full block through the
    // buffer, its first piece in the kernel.
    {
        BlockWriter writer = writerOf(*readOnly);
        const auto in = fs::hostFile(source("large", testsupport::memberBytes("LARG", 16, 2 * block)));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, fs::noLimit, 2 * block + 6);
        EXPECT_EQ(copy.status, CopyResult::Status::writeError);
        EXPECT_EQ(copy.copied, GetParam() ? 0 : block);
    }
    // Bytes gathered ahead of a large source fail before any of it is taken.
    {
        BlockWriter writer = writerOf(*readOnly);
        ASSERT_TRUE(writer.write("head", 4));
        const auto in = fs::hostFile(source("large", testsupport::memberBytes("LARG", 16, 2 * block)));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, fs::noLimit, 2 * block + 6);
        EXPECT_EQ(copy.status, CopyResult::Status::writeError);
        EXPECT_EQ(copy.copied, 0u);
    }
    // One that would land just ahead of its source fails at its first piece.
    {
        BlockWriter writer = writerOf(*readOnly);
        writer.passed(4);
        const auto in = fs::hostFile(source("large", testsupport::memberBytes("LARG", 16, 2 * block)));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, fs::noLimit, 2 * block + 6);
        EXPECT_EQ(copy.status, CopyResult::Status::writeError);
        EXPECT_EQ(copy.copied, 0u);
    }
    // A descriptor opened for writing only can't be read.
    const auto out = fs::hostFile(*platform::createFile(dir / "out"));
    BlockWriter writer = writerOf(*out);
    const auto unreadable = fs::hostFile(platform::File(::open((dir / "archive").c_str(), O_WRONLY)));
    EXPECT_EQ(fs::copyBlocks(*unreadable, 0, writer, fs::noLimit, 0).status, CopyResult::Status::readError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyIntoWriter, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

// Runs every case with the kernel's copy and with the reader's buffer alone.
class CopyFromReader : public ::testing::TestWithParam<bool> {
protected:
    platform::File source(const Bytes& bytes) {
        testsupport::writeFile(dir / "source", bytes);
        return *platform::openRead(dir / "source");
    }
    Bytes copyTo(const std::string& name, BlockReader& reader, std::uint64_t length, std::uint64_t copied) {
        const auto out = fs::hostFile(*platform::createNew(dir / name).file);
        const CopyResult copy = fs::copyBlocks(reader, *out, length);
        EXPECT_EQ(copy.status, CopyResult::Status::complete) << name;
        EXPECT_EQ(copy.copied, copied) << name;
        EXPECT_TRUE(out->close());
        return testsupport::readFile(dir / name);
    }

    testsupport::ScratchDir dir;
};

TEST_P(CopyFromReader, HeldBytesFirstThenTheRestInSequence) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, 3 * block + 100);
    const auto in = fs::hostFile(source(bytes));
    BlockReader reader(fs::hostFileSystem(), *in, fs::Block(BlockReader::capacity));
    reader.kernelCopy = GetParam();
    // Small members read ahead over 300 bytes; the next member starts inside
    // what is held and runs on past it.
    ASSERT_TRUE(reader.fill(10, 300));
    EXPECT_EQ(reader.held(), 300u);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(reader.data()), 10), bytes.substr(0, 10));
    reader.consume(10);
    EXPECT_EQ(copyTo("large", reader, 2 * block, 2 * block), bytes.substr(10, 2 * block));
    EXPECT_EQ(copyTo("empty", reader, 0, 0), "");
    // The archive ends before the last length is reached: a short copy.
    EXPECT_EQ(copyTo("short", reader, 2 * block, bytes.size() - 10 - 2 * block), bytes.substr(10 + 2 * block));
}

TEST_P(CopyFromReader, FailuresAreReportedBySide) {
    testsupport::writeFile(dir / "data", testsupport::memberBytes("DATA", 16, 2 * block));
    const auto unreadable = fs::hostFile(platform::File(::open((dir / "data").c_str(), O_WRONLY)));
    BlockReader fromUnreadable(fs::hostFileSystem(), *unreadable, fs::Block(BlockReader::capacity));
    fromUnreadable.kernelCopy = GetParam();
    const auto out = fs::hostFile(*platform::createFile(dir / "target"));
    EXPECT_EQ(fs::copyBlocks(fromUnreadable, *out, 2 * block).status, CopyResult::Status::readError);

    const auto readable = fs::hostFile(*platform::openRead(dir / "data"));
    BlockReader fromReadable(fs::hostFileSystem(), *readable, fs::Block(BlockReader::capacity));
    fromReadable.kernelCopy = GetParam();
    const auto unwritable = fs::hostFile(*platform::openRead(dir / "target"));
    EXPECT_EQ(fs::copyBlocks(fromReadable, *unwritable, 2 * block).status, CopyResult::Status::writeError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyFromReader, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

}  // namespace
