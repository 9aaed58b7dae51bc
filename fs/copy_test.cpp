#include "fs/copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "fs/host_file_system.h"
#include "testing/scratch.h"

namespace {

using fs::BlockReader;
using fs::BlockWriter;
using fs::CopyResult;
using namespace testsupport;

// Blocks smaller than the programs', for copies that cross several of them
// quickly; still larger than the small members read whole.
constexpr std::size_t block = 256 * 1024;
constexpr std::uint64_t noLimit = UINT64_MAX;

fs::FileSystem& files() { return fs::hostFileSystem(); }

// A new file at `path`, to write, in place of any before it.
std::unique_ptr<fs::File> made(const std::string& path) {
    static_cast<void>(files().remove(path));
    return files().openToWrite(path).file;
}

// `bytes` in a file at `path`, opened to read.
std::unique_ptr<fs::File> holding(const std::string& path, const Bytes& bytes) {
    testsupport::writeFile(path, bytes);
    return files().openRead(path);
}

// A file whose reads hand over at most `piece` bytes at a time, as a pipe
// hands over what has arrived so far.
class Trickle : public fs::File {
public:
    Trickle(std::unique_ptr<fs::File> inner, std::size_t piece) : inner_(std::move(inner)), piece_(piece) {}
    std::optional<std::size_t> read(void* buffer, std::size_t size) override { return inner_->read(buffer, size); }
    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override {
        return inner_->readSome(buffer, std::min(size, piece_));
    }
    bool write(const void* data, std::size_t size) override { return inner_->write(data, size); }
    bool seek(std::uint64_t position) override { return inner_->seek(position); }
    std::optional<std::uint64_t> seekEnd() override { return inner_->seekEnd(); }
    bool truncate(std::uint64_t length) override { return inner_->truncate(length); }
    std::optional<fs::FileInfo> info() override { return inner_->info(); }
    bool close() override { return inner_->close(); }

private:
    std::unique_ptr<fs::File> inner_;
    std::size_t piece_;
};

// Runs every case with the kernel's copy for large sources and with the
// writer's buffer alone.
class CopyIntoWriter : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<fs::File> source(const std::string& name, const Bytes& bytes) { return holding(dir / name, bytes); }
    BlockWriter writerOf(fs::File& file) {
        BlockWriter writer(files(), file, fs::Block(block));
        writer.kernelCopy = GetParam();
        return writer;
    }

    testsupport::ScratchDir dir;
};

TEST_P(CopyIntoWriter, MembersOfEverySizeComeOutInOrder) {
    const auto out = made(dir / "archive");
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
        const auto in = source("m" + std::to_string(i), bytes);
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, noLimit, bytes.size());
        ASSERT_EQ(copy.outcome, CopyResult::Outcome::complete);
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
        const auto in = source("placed", bytes);
        const auto out = made(dir / "archive");
        BlockWriter writer = writerOf(*out);
        const Bytes filler(ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        char header[6];
        ASSERT_EQ(in->read(header, sizeof header), sizeof header);
        ASSERT_TRUE(writer.write(header, sizeof header));
        const CopyResult copy = fs::copyBlocks(*in, sizeof header, writer, noLimit, bytes.size() - sizeof header);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::complete) << ahead;
        EXPECT_EQ(copy.copied, bytes.size() - sizeof header) << ahead;
        ASSERT_TRUE(writer.write("tail", 4));
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_TRUE(testsupport::readFile(dir / "archive") == filler + bytes + "tail") << ahead;
    }
}

TEST_P(CopyIntoWriter, SourceThatChangedSinceItWasOpened) {
    struct Case {
        const char* what;
        std::size_t size;        // bytes the source holds
        std::uint64_t expected;  // what it held when it was opened
        std::uint64_t limit;
        std::size_t copied;
        std::size_t ahead = 0;  // bytes in the writer before it
    };
    const Case cases[] = {
        {"grew, small", 5000, 100, noLimit, 5000},
        {"grew, one byte past the limit", 5000, 100, 4999, 4999},
        {"grew, large", 3 * block, block + 5, noLimit, 3 * block},
        {"grew, large, landing just ahead", 3 * block, block + 5, noLimit, 3 * block, 8},
        {"grew, large, one byte past the limit", 3 * block, block + 5, 2 * block, 2 * block, 8},
        {"shrank, small", 100, 5000, noLimit, 100},
        {"shrank, large", block + 3, 3 * block, noLimit, block + 3},
        {"shrank, large, landing just ahead", block + 3, 3 * block, noLimit, block + 3, 8},
    };
    for (const Case& c : cases) {
        const Bytes bytes = testsupport::memberBytes("CHNG", 16, c.size - 6);
        const auto in = source("changed", bytes);
        const auto out = made(dir / "archive");
        BlockWriter writer = writerOf(*out);
        const Bytes filler(c.ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, c.limit, c.expected);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::complete) << c.what;
        EXPECT_EQ(copy.copied, c.copied) << c.what;
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_TRUE(testsupport::readFile(dir / "archive") == filler + bytes.substr(0, c.copied)) << c.what;
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
    for (const Case& c : {Case{3000, 1000, 0}, Case{3 * block, 30000, 0}, Case{3 * block, 30000, 8}}) {
        const Bytes bytes = testsupport::memberBytes("SHRT", 16, c.size - 6);
        Trickle in(source("trickle", bytes), c.piece);
        const auto out = made(dir / "archive");
        BlockWriter writer = writerOf(*out);
        const Bytes filler(c.ahead, 'x');
        ASSERT_TRUE(writer.write(filler.data(), filler.size()));
        const CopyResult copy = fs::copyBlocks(in, 0, writer, noLimit, bytes.size());
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::complete) << c.size;
        EXPECT_EQ(copy.copied, bytes.size()) << c.size;
        ASSERT_TRUE(writer.flush());
        ASSERT_TRUE(out->close());
        EXPECT_TRUE(testsupport::readFile(dir / "archive") == filler + bytes) << c.size;
    }
}

TEST_P(CopyIntoWriter, FailuresAreReportedBySide) {
    testsupport::writeFile(dir / "archive", "");
    const auto readOnly = files().openRead(dir / "archive");
    // A small member waits in the writer: its failure shows at the flush.
    {
        BlockWriter writer = writerOf(*readOnly);
        const auto in = source("small", testsupport::memberBytes("SMAL", 16, 10));
        EXPECT_EQ(fs::copyBlocks(*in, 0, writer, noLimit, 16).outcome, CopyResult::Outcome::complete);
        EXPECT_FALSE(writer.flush());
    }
    // A large one fails at its first write: a full block through the
    // buffer, its first piece in the kernel.
    {
        BlockWriter writer = writerOf(*readOnly);
        const auto in = source("large", testsupport::memberBytes("LARG", 16, 2 * block));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, noLimit, 2 * block + 6);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::writeError);
        EXPECT_EQ(copy.copied, GetParam() ? 0 : block);
    }
    // Bytes gathered ahead of a large source fail before any of it is taken.
    {
        BlockWriter writer = writerOf(*readOnly);
        ASSERT_TRUE(writer.write("head", 4));
        const auto in = source("large", testsupport::memberBytes("LARG", 16, 2 * block));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, noLimit, 2 * block + 6);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::writeError);
        EXPECT_EQ(copy.copied, 0u);
    }
    // One that would land just ahead of its source fails at its first piece.
    {
        BlockWriter writer = writerOf(*readOnly);
        writer.passed(4);
        const auto in = source("large", testsupport::memberBytes("LARG", 16, 2 * block));
        const CopyResult copy = fs::copyBlocks(*in, 0, writer, noLimit, 2 * block + 6);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::writeError);
        EXPECT_EQ(copy.copied, 0u);
    }
    // A descriptor opened for writing only can't be read.
    const auto out = made(dir / "out");
    BlockWriter writer = writerOf(*out);
    const auto unreadable = files().openToWrite(dir / "archive").file;
    EXPECT_EQ(fs::copyBlocks(*unreadable, 0, writer, noLimit, 0).outcome, CopyResult::Outcome::readError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyIntoWriter, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

// Runs every case with the kernel's copy and with the reader's buffer alone.
class CopyFromReader : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<fs::File> source(const Bytes& bytes) { return holding(dir / "source", bytes); }
    Bytes copyTo(const std::string& name, BlockReader& reader, std::uint64_t length, std::uint64_t copied) {
        const auto out = made(dir / name);
        const CopyResult copy = fs::copyBlocks(reader, *out, length);
        EXPECT_EQ(copy.outcome, CopyResult::Outcome::complete) << name;
        EXPECT_EQ(copy.copied, copied) << name;
        EXPECT_TRUE(out->close());
        return testsupport::readFile(dir / name);
    }

    testsupport::ScratchDir dir;
};

TEST_P(CopyFromReader, HeldBytesFirstThenTheRestInSequence) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, 3 * block + 100);
    const auto in = source(bytes);
    BlockReader reader(files(), *in, fs::Block(block));
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
    const auto unreadable = files().openToWrite(dir / "data").file;
    BlockReader fromUnreadable(files(), *unreadable, fs::Block(block));
    fromUnreadable.kernelCopy = GetParam();
    const auto out = made(dir / "target");
    EXPECT_EQ(fs::copyBlocks(fromUnreadable, *out, 2 * block).outcome, CopyResult::Outcome::readError);

    const auto readable = files().openRead(dir / "data");
    BlockReader fromReadable(files(), *readable, fs::Block(block));
    fromReadable.kernelCopy = GetParam();
    const auto unwritable = files().openRead(dir / "target");
    EXPECT_EQ(fs::copyBlocks(fromReadable, *unwritable, 2 * block).outcome, CopyResult::Outcome::writeError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyFromReader, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

}  // namespace
