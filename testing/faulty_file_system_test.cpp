#include "testing/faulty_file_system.h"

#include <gtest/gtest.h>

#include "testing/memory_file_system.h"

namespace {

using namespace testsupport;

// Makes every call it has a file for, whatever failed before, so that what
// happens after a failure shows.
void readCopyAndRemove(fs::FileSystem& fs) {
    char buffer[4];
    if (const std::unique_ptr<fs::File> in = fs.openRead("/in", nullptr)) {
        static_cast<void>(in->read(buffer, 1));
        static_cast<void>(in->readSome(buffer, 1));
        static_cast<void>(in->info());
        static_cast<void>(in->close());
    }
    static_cast<void>(fs.info("/in"));
    static_cast<void>(fs.followLinks("/in"));
    static_cast<void>(fs.access("/in", fs::Access::read));
    static_cast<void>(fs.currentDir());
    static_cast<void>(fs.list("/"));
    static_cast<void>(fs.makeDir("/out"));
    if (const std::unique_ptr<fs::File> out = fs.openToWrite("/out/a").file) {
        static_cast<void>(out->truncate(0));
        static_cast<void>(out->write("abc", 3));
        static_cast<void>(out->seek(1));
        static_cast<void>(out->seekEnd());
        static_cast<void>(out->close());
    }
    static_cast<void>(fs.remove("/in"));
}

std::string joined(const std::map<std::string, std::string>& tree) {
    std::string text;
    for (const auto& [path, what] : tree) text += (text.empty() ? "" : " ") + path + "=" + what;
    return text;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "|") + line;
    return text;
}

TEST(FaultyFileSystem, FailsTheNthCallOfAKindAndRecordsWhatChangedAfter) {
    struct Row {
        CallKind kind;
        std::uint64_t failAt;
        std::uint64_t calls;
        const char* fault;  // "" when none came
        const char* after;
        const char* tree;
    };
    const char* const everything = "makeDir /out|openToWrite /out/a|truncate /out/a|write /out/a|remove /in";
    const char* const copied = "/out=<dir> /out/a=abc";
    const Row rows[] = {
        {CallKind::open, 1, 1, "open openRead /in", everything, copied},
        {CallKind::read, 2, 2, "read readSome /in", everything, copied},
        {CallKind::status, 1, 5, "status fileInfo /in", everything, copied},
        {CallKind::status, 3, 5, "status followLinks /in", everything, copied},
        {CallKind::status, 5, 5, "status currentDir", everything, copied},
        {CallKind::list, 1, 1, "list list /", everything, copied},
        {CallKind::close, 1, 2, "close close /in", everything, copied},
        {CallKind::create, 1, 2, "create makeDir /out", "remove /in", ""},
        {CallKind::create, 2, 2, "create openToWrite /out/a", "remove /in", "/out=<dir>"},
        {CallKind::write, 2, 2, "write write /out/a", "remove /in", "/out=<dir> /out/a="},
        {CallKind::seek, 1, 2, "seek seek /out/a", "remove /in", copied},
        {CallKind::close, 2, 2, "close close /out/a", "remove /in", copied},
        {CallKind::remove, 1, 1, "remove remove /in", "", "/in=in /out=<dir> /out/a=abc"},
        {CallKind::write, 3, 2, "", "", copied},
        {CallKind::seek, 0, 2, "", "", copied},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(testsupport::nameOf(row.kind)) + " " + std::to_string(row.failAt));
        testsupport::MemoryFileSystem memory;
        memory.addFile("/in", "in");
        testsupport::FaultyFileSystem faulty(memory, row.kind, row.failAt);
        readCopyAndRemove(faulty);
        EXPECT_EQ(faulty.calls(), row.calls);
        EXPECT_EQ(faulty.fault().value_or(""), row.fault);
        EXPECT_EQ(joined(faulty.changesAfterFault()), row.after);
        EXPECT_EQ(joined(memory.snapshot()), row.tree);
        EXPECT_EQ(memory.openFiles(), 0u);
    }
}

TEST(FaultyFileSystem, ClosesAFileWhoseCloseFailsAndCountsTheCloseOfAFileDropped) {
    testsupport::MemoryFileSystem memory;
    memory.addFile("/in", "in");
    testsupport::FaultyFileSystem faulty(memory, CallKind::close, 1);
    const std::unique_ptr<fs::File> file = faulty.openRead("/in", nullptr);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->close());
    EXPECT_EQ(memory.openFiles(), 0u);
    static_cast<void>(faulty.openRead("/in", nullptr));
    EXPECT_EQ(faulty.calls(), 2u);
}

}  // namespace
