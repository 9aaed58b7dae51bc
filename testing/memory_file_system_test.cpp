#include "testing/memory_file_system.h"

#include <gtest/gtest.h>

namespace {

using fs::Kind;
using namespace testsupport;
using Snapshot = std::map<std::string, std::string>;

// Links of every sort around two files, a FIFO and a 41-link chain in /h.
void addSampleTree(MemoryFileSystem& fs) {
    fs.addFile("/d/f", "file");
    fs.addFile("/d/sub/g", "deep");
    fs.addSymlink("/abs", "/d/f");
    fs.addSymlink("/d/rel", "f");
    fs.addSymlink("/chain", "abs");
    fs.addSymlink("/todir", "d");
    fs.addSymlink("/d/top", "/");
    fs.addSymlink("/deep", "d/sub");
    fs.addSymlink("/d/sub/up", "..");
    fs.addSymlink("/d/sub/back", "../f");
    fs.addSymlink("/d/sub/dangle", "../made");
    fs.addSymlink("/dangling", "nowhere");
    fs.addSymlink("/deaddir", "/nofolder/x");
    fs.addSymlink("/loop1", "loop2");
    fs.addSymlink("/loop2", "loop1");
    fs.addFifo("/fifo");
    for (int i = 0; i < 40; ++i) fs.addSymlink("/h/" + std::to_string(i), std::to_string(i + 1));
    fs.addSymlink("/h/40", "/d/f");
}

// What `after` holds that `before` doesn't ("path=what") and what went
// ("-path"), in path order.
std::string changes(const Snapshot& before, const Snapshot& after) {
    std::string text;
    for (const auto& [path, what] : after) {
        const auto was = before.find(path);
        if (was == before.end() || was->second != what) text += path + "=" + what + " ";
    }
    for (const auto& [path, what] : before) {
        if (!after.contains(path)) text += "-" + path + " ";
    }
    if (!text.empty()) text.pop_back();
    return text;
}

TEST(MemoryFileSystem, ResolvesPathsPartByPartThroughLinks) {
    struct Row {
        const char* path;
        Kind kind;
        std::uint64_t links;  // checked for what exists
        const char* bytes;
    };
    const Row rows[] = {
        {"/d/f", Kind::file, 1, "file"},
        {"d/rel", Kind::file, 1, "file"},
        {"/abs", Kind::file, 1, "file"},
        {"/chain", Kind::file, 1, "file"},
        {"/d/rel", Kind::file, 1, "file"},
        {"/todir/f", Kind::file, 1, "file"},
        {"/deep/../f", Kind::file, 1, "file"},
        {"/d/sub/up/f", Kind::file, 1, "file"},
        {"/d/sub/back", Kind::file, 1, "file"},
        {"/todir/sub/up/sub/g", Kind::file, 1, "deep"},
        {"/../d/./sub/../f", Kind::file, 1, "file"},
        {"/h/1", Kind::file, 1, "file"},
        {"/h/0", Kind::missing, 0, ""},
        {"/dangling", Kind::missing, 0, ""},
        {"/d/sub/dangle", Kind::missing, 0, ""},
        {"/loop1", Kind::missing, 0, ""},
        {"/d/f/x", Kind::missing, 0, ""},
        {"/d/f/", Kind::missing, 0, ""},
        {"", Kind::missing, 0, ""},
        {"/d", Kind::directory, 3, ""},
        {"/todir/", Kind::directory, 3, ""},
        {"/deep/..", Kind::directory, 3, ""},
        {"/d/sub", Kind::directory, 2, ""},
        {"/d/top", Kind::directory, 4, ""},
        {"/fifo", Kind::other, 1, ""},
    };
    MemoryFileSystem fs;
    addSampleTree(fs);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const fs::FileInfo status = fs.info(row.path);
        EXPECT_EQ(status.kind, row.kind);
        if (row.kind != Kind::missing) {
            EXPECT_EQ(status.links, row.links);
        }
        EXPECT_EQ(fs.bytesOf(row.path).value_or(""), row.bytes);
        EXPECT_EQ(fs.access(row.path, fs::Access::readWrite), row.kind != Kind::missing);
    }
}

TEST(MemoryFileSystem, RelativePathsStartAtTheCurrentDirAsResolved) {
    MemoryFileSystem fs;
    addSampleTree(fs);
    fs.setCurrentDir("/deep");
    EXPECT_EQ(fs.currentDir(), "/deep");
    EXPECT_EQ(fs.bytesOf("../f"), "file");
    EXPECT_EQ(fs.bytesOf("g"), "deep");
}

TEST(MemoryFileSystem, ChangesTheTreeAsTheKernelWould) {
    enum class Call { create, makeDir, remove };
    struct Row {
        Call call;
        const char* path;
        bool done;
        const char* changed;
    };
    const Row rows[] = {
        {Call::create, "/d/f", true, "/d/f=new"},
        {Call::create, "/chain", true, "/d/f=new"},
        {Call::create, "/todir/sub/../new", true, "/d/new=new"},
        {Call::create, "/dangling", true, "/nowhere=new"},
        {Call::create, "/d/sub/dangle", true, "/d/made=new"},
        {Call::create, "/deaddir", false, ""},
        {Call::create, "/d/new/", false, ""},
        {Call::create, "/todir", false, ""},
        {Call::create, "/fifo", false, ""},
        {Call::create, "/loop1", false, ""},
        {Call::create, "/h/0", false, ""},
        {Call::makeDir, "/new/", true, "/new=<dir>"},
        {Call::makeDir, "/todir/new", true, "/d/new=<dir>"},
        {Call::makeDir, "/dangling", false, ""},
        {Call::makeDir, "/a/b", false, ""},
        {Call::remove, "/d/f", true, "-/d/f"},
        {Call::remove, "/todir/f", true, "-/d/f"},
        {Call::remove, "/chain", true, "-/chain"},
        {Call::remove, "/todir", true, "-/todir"},
        {Call::remove, "/dangling", true, "-/dangling"},
        {Call::remove, "/loop1", true, "-/loop1"},
        {Call::remove, "/fifo", true, "-/fifo"},
        {Call::remove, "/d", false, ""},
        {Call::remove, "/todir/", false, ""},
        {Call::remove, "/d/.", false, ""},
        {Call::remove, "/missing", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        MemoryFileSystem fs;
        addSampleTree(fs);
        const Snapshot before = fs.snapshot();
        bool done = false;
        if (row.call == Call::create) {
            const std::unique_ptr<fs::File> file = fs.create(row.path);
            done = file && file->write("new", 3) && file->close();
        } else {
            done = row.call == Call::makeDir ? fs.makeDir(row.path) : fs.remove(row.path);
        }
        EXPECT_EQ(done, row.done);
        EXPECT_EQ(changes(before, fs.snapshot()), row.changed);
    }
}

TEST(MemoryFileSystem, ListsEntriesSortedWithLinksAndTheirOwnNumbers) {
    MemoryFileSystem fs;
    addSampleTree(fs);
    const auto entries = fs.list("/deep");
    ASSERT_TRUE(entries);
    std::string listed;
    for (const fs::Entry& entry : *entries) {
        listed += entry.name + (entry.isDirectory ? ":d" : ":-") + (entry.isLink ? "l " : "- ");
    }
    EXPECT_EQ(listed, "back:-l dangle:-l g:-- up:dl ");
    EXPECT_EQ(entries->at(2).inode, fs.info("/d/sub/g").id.inode);
    EXPECT_EQ(entries->at(3).inode, fs.followLinks("/d/sub/up").links.at(0).id.inode);
    EXPECT_NE(entries->at(3).inode, fs.info("/d/sub/up").id.inode);
    EXPECT_FALSE(fs.list("/d/f"));
    EXPECT_FALSE(fs.list("/dangling"));
}

TEST(MemoryFileSystem, FollowsLinksOneByOneJoiningTargetsAsText) {
    struct Row {
        const char* path;
        std::size_t links;
        const char* target;
    };
    const Row rows[] = {
        {"/d/f", 0, "/d/f"},
        {"/missing", 0, "/missing"},
        {"/chain", 2, "/d/f"},
        {"d/rel", 1, "d/f"},
        {"/todir/sub/back", 1, "/todir/sub/../f"},
        {"/dangling", 1, "/nowhere"},
        {"/loop1", 40, "/loop1"},
        {"/h/0", 40, "/h/40"},
    };
    MemoryFileSystem fs;
    addSampleTree(fs);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const fs::LinkChain chain = fs.followLinks(row.path);
        EXPECT_EQ(chain.links.size(), row.links);
        EXPECT_EQ(chain.target, row.target);
    }
    std::map<std::string, std::uint64_t> inodes;
    const auto root = fs.list("/");
    ASSERT_TRUE(root);
    for (const fs::Entry& entry : *root) inodes[entry.name] = entry.inode;
    const fs::LinkChain chain = fs.followLinks("/chain");
    ASSERT_EQ(chain.links.size(), 2u);
    EXPECT_EQ(chain.links[0].id.inode, inodes["chain"]);
    EXPECT_EQ(chain.links[1].id.inode, inodes["abs"]);
}

TEST(MemoryFileSystem, HardLinksShareOneNodeThatLivesWhileNamedOrOpen) {
    MemoryFileSystem fs;
    fs.addFile("/a", "one");
    fs.addHardLink("/a", "/d/b");
    EXPECT_EQ(fs.info("/a").links, 2u);
    EXPECT_EQ(fs::sameFile(fs.info("/a"), fs.info("/d/b")), fs::Sameness::same);

    const std::unique_ptr<fs::File> writer = fs.create("/d/b");
    ASSERT_TRUE(writer);
    EXPECT_EQ(fs.bytesOf("/a"), "");
    ASSERT_TRUE(writer->write("two", 3));
    EXPECT_EQ(fs.bytesOf("/a"), "two");

    const std::unique_ptr<fs::File> reader = fs.openRead("/a", nullptr);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(fs.remove("/a"));
    EXPECT_EQ(fs.info("/d/b").links, 1u);
    EXPECT_TRUE(fs.remove("/d/b"));
    EXPECT_EQ(fs.snapshot(), (Snapshot{{"/d", "<dir>"}}));

    ASSERT_TRUE(writer->write("!", 1));
    char buffer[8] = {};
    EXPECT_EQ(reader->read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "two!");
    EXPECT_EQ(reader->info()->links, 0u);
    EXPECT_FALSE(reader->write("x", 1));
    EXPECT_FALSE(reader->truncate(0));
    EXPECT_EQ(fs.openFiles(), 2u);
    EXPECT_TRUE(reader->close());
    EXPECT_FALSE(reader->close());
    EXPECT_EQ(fs.openFiles(), 1u);
}

TEST(MemoryFileSystem, NumbersNoTwoFilesAlike) {
    MemoryFileSystem fs;
    fs.addFile("/a", "");
    const fs::FileInfo first = fs.info("/a");
    ASSERT_TRUE(fs.remove("/a"));
    fs.addFile("/a", "");
    EXPECT_EQ(first.id.device, 1u);
    EXPECT_EQ(fs::sameFile(fs.info("/a"), first), fs::Sameness::different);
}

TEST(MemoryFileSystem, OpenFilesSeekPastTheEndAndCloseWhenDropped) {
    MemoryFileSystem fs;
    {
        const std::unique_ptr<fs::File> file = fs.create("/a");
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("ab", 2));
        ASSERT_TRUE(file->seek(4));
        ASSERT_TRUE(file->write("c", 1));
        ASSERT_TRUE(file->truncate(6));
        EXPECT_EQ(file->seekEnd(), 6u);
        EXPECT_EQ(file->info()->size, 6u);
        EXPECT_FALSE(fs.openRead("/fifo", nullptr));
        EXPECT_EQ(fs.openFiles(), 1u);
    }
    EXPECT_EQ(fs.openFiles(), 0u);
    EXPECT_EQ(fs.bytesOf("/a"), std::string("ab\0\0c\0", 6));
}

// What a listing doesn't tell: a mount point shows the number of the file
// it covers, an overlay's file lies on another device than its folder, and
// a folder may be searched but not listed. Only a name's own status says
// what it is.
TEST(MemoryFileSystem, ListingsDontTellMountsOverlaysOrUnlistedFolders) {
    MemoryFileSystem fs;
    fs.addFile("/else/keep", "kept");
    fs.addFile("/atlas/x", "covered");
    fs.addFile("/atlas/lower", "below");
    fs.mount("/else/keep", "/atlas/x");
    fs.setDevice("/atlas/lower", 2);
    const auto entries = fs.list("/atlas");
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_NE(entries->at(1).inode, fs.info("/else/keep").id.inode);
    EXPECT_EQ(fs::sameFile(fs.info("/atlas/x"), fs.info("/else/keep")), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(fs.info("/atlas/x", fs::Links::notFollowed), fs.info("/else/keep")), fs::Sameness::same);
    EXPECT_EQ(fs.bytesOf("/atlas/x"), "kept");
    EXPECT_FALSE(fs.remove("/atlas/x"));
    EXPECT_EQ(entries->at(0).inode, fs.info("/atlas/lower").id.inode);
    EXPECT_EQ(fs.info("/atlas/lower").id.device, 2u);
    EXPECT_EQ(fs.info("/atlas").id.device, 1u);
    fs.setUnlistable("/atlas");
    EXPECT_FALSE(fs.list("/atlas"));
    EXPECT_EQ(fs.bytesOf("/atlas/lower"), "below");
}

// On a device whose numbers can't be trusted, files are their final paths:
// one name, or counts of names that differ, tell them apart; the same count
// of more than one name makes it unsure.
TEST(MemoryFileSystem, UnnumberedDevicesTellFilesByTheirFinalPaths) {
    MemoryFileSystem fs;
    fs.addFile("/d/a", "a");
    fs.addFile("/d/A", "A");
    fs.addSymlink("/d/to-a", "a");
    fs.setUnnumbered(1);
    EXPECT_FALSE(fs.info("/d/a").id.numbered);
    EXPECT_EQ(fs.info("/d/to-a").id.finalPath, "/d/a");
    EXPECT_EQ(fs::sameFile(fs.info("/d/a"), fs.info("/d/to-a")), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(fs.info("/d/a"), fs.info("/d/A")), fs::Sameness::different);
    fs.addHardLink("/d/a", "/e/b");
    EXPECT_EQ(fs::sameFile(fs.info("/d/a"), fs.info("/e/b")), fs::Sameness::unsure);
    EXPECT_EQ(fs::sameFile(fs.info("/d/A"), fs.info("/e/b")), fs::Sameness::different);
    EXPECT_EQ(fs::sameFile(fs.info("/d/a"), fs.info("/missing")), fs::Sameness::different);
}

// Opening as the programs do: a new name never through a link, a taken one
// as it is, the output kept as it is until it is written over, and nothing
// another run holds locked.
TEST(MemoryFileSystem, OpensAsTheProgramsAskAndHonoursOtherRunsLocks) {
    MemoryFileSystem fs;
    fs.addFile("/d/old", "old bytes");
    fs.addSymlink("/d/link", "old");
    fs.addSymlink("/d/dangling", "made");
    EXPECT_EQ(fs.openToWrite("/d/dangling").file, nullptr);
    EXPECT_EQ(fs.openToWrite("/d/link").file, nullptr);
    {
        const fs::Opened taken = fs.openToWrite("/d/old");
        EXPECT_NE(taken.file, nullptr);
        EXPECT_FALSE(taken.made);
    }
    EXPECT_EQ(fs.bytesOf("/d/old"), "old bytes");
    EXPECT_TRUE(fs.openToWrite("/d/new").made);
    std::string madeAt;
    EXPECT_NE(fs.createOutput("/d/dangling", madeAt), nullptr);
    EXPECT_EQ(madeAt, "/d/made");
    EXPECT_EQ(fs.bytesOf("/d/made"), "");
    {
        const std::unique_ptr<fs::File> output = fs.createOutput("/d/link", madeAt);
        EXPECT_EQ(madeAt, "");
        ASSERT_NE(output, nullptr);
        ASSERT_TRUE(output->write("new", 3));
        EXPECT_EQ(fs.bytesOf("/d/old"), "new bytes");
    }
    fs.lockElsewhere("/d/old", false);
    EXPECT_EQ(fs.createOutput("/d/old", madeAt), nullptr);
    EXPECT_NE(fs.openRead("/d/old", nullptr, fs::Lock::shared), nullptr);
    fs.lockElsewhere("/d/old", true);
    EXPECT_EQ(fs.openRead("/d/old", nullptr, fs::Lock::shared), nullptr);
    EXPECT_NE(fs.openRead("/d/old", nullptr), nullptr);
    fs.setStandardStream(2, "/d/link");
    ASSERT_EQ(fs.standardStreams().size(), 1u);
    EXPECT_EQ(fs::sameFile(fs.standardStreams()[0], fs.info("/d/old")), fs::Sameness::same);
    EXPECT_EQ(fs.openFiles(), 0u);
}

TEST(MemoryFileSystem, SetupRefusesNamesThatCantBeMade) {
    MemoryFileSystem fs;
    fs.addFile("/f", "");
    EXPECT_THROW(fs.addDir("/f/d"), std::invalid_argument);
    EXPECT_THROW(fs.addSymlink("/f", "x"), std::invalid_argument);
    EXPECT_THROW(fs.addHardLink("/", "/x"), std::invalid_argument);
    EXPECT_THROW(fs.addFifo("/f"), std::invalid_argument);
}

}  // namespace
