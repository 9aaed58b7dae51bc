#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "console/copy.h"
#include "support/scratch.h"

namespace {

using console::CopyResult;
using testsupport::Bytes;

// Runs every case with the kernel's copy and with the buffer alone.
class CopyBlocks : public ::testing::TestWithParam<bool> {
protected:
    CopyBlocks() { buffer.kernelCopy = GetParam(); }

    platform::File source(const Bytes& bytes) {
        testsupport::writeFile(dir / "source", bytes);
        return *platform::openRead(dir / "source");
    }
    platform::File target() { return *platform::createFile(dir / "target"); }
    Bytes written() { return testsupport::readFile(dir / "target"); }

    testsupport::ScratchDir dir;
    console::CopyBuffer buffer;
};

TEST_P(CopyBlocks, CopiesMoreThanTheBufferHoldsFromTheCurrentPositions) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, 3 * console::CopyBuffer::defaultSize + 17);
    platform::File in = source(bytes);
    platform::File out = target();
    ASSERT_TRUE(in.seek(5));
    ASSERT_TRUE(out.write("xy", 2));
    const CopyResult result = console::copyBlocks(in, out, console::noLimit, buffer);
    EXPECT_EQ(result.status, CopyResult::Status::complete);
    EXPECT_EQ(result.copied, bytes.size() - 5);
    ASSERT_TRUE(out.close());
    EXPECT_EQ(written(), "xy" + bytes.substr(5));
}

TEST_P(CopyBlocks, StopsAtTheLimitAndGoesOnFromThere) {
    const Bytes bytes = testsupport::memberBytes("ABCD", 16, console::CopyBuffer::defaultSize + 100);
    platform::File in = source(bytes);
    platform::File out = target();
    const std::uint64_t first = console::CopyBuffer::defaultSize + 1;
    EXPECT_EQ(console::copyBlocks(in, out, first, buffer).copied, first);
    EXPECT_EQ(console::copyBlocks(in, out, 0, buffer).copied, 0u);
    // The rest ends before its limit: a short copy, not an error.
    const CopyResult rest = console::copyBlocks(in, out, 1000, buffer);
    EXPECT_EQ(rest.status, CopyResult::Status::complete);
    EXPECT_EQ(rest.copied, bytes.size() - first);
    ASSERT_TRUE(out.close());
    EXPECT_EQ(written(), bytes);
}

TEST_P(CopyBlocks, ReportsWhichSideFailed) {
    testsupport::writeFile(dir / "data", "some bytes");
    // A descriptor opened for writing only can't be read, and the other way
    // round.
    platform::File unreadable(::open((dir / "data").c_str(), O_WRONLY));
    platform::File readable = *platform::openRead(dir / "data");
    platform::File out = target();
    EXPECT_EQ(console::copyBlocks(unreadable, out, console::noLimit, buffer).status, CopyResult::Status::readError);
    platform::File unwritable = *platform::openRead(dir / "target");
    EXPECT_EQ(console::copyBlocks(readable, unwritable, console::noLimit, buffer).status,
              CopyResult::Status::writeError);
}

INSTANTIATE_TEST_SUITE_P(KernelAndBuffer, CopyBlocks, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "kernel" : "buffer"; });

}  // namespace
