// The file-system seam: links are never followed below a folder, a file written beside its
// target never leaves half a file under the target's name, and removing a tree never leaves it
// through a link.
#include "app/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "temp_folder.h"

namespace krevol {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempFolder;
using test::writeFile;

// The names in a folder, sorted.
std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

// A folder "inside" holding links that lead to "outside": to a file, to a folder and to nothing.
struct LinkFixture {
    TempFolder temp;
    std::string inside = temp / "inside";
    std::string outside = temp / "outside";
    LinkFixture() {
        fs::create_directories(inside + "/real");
        fs::create_directories(outside + "/folder");
        writeFile(outside + "/secret.txt", "secret");
        writeFile(outside + "/folder/deep.txt", "deep");
        writeFile(inside + "/real/file.txt", "file");
        fs::create_symlink(outside + "/secret.txt", inside + "/file-link");
        fs::create_directory_symlink(outside + "/folder", inside + "/folder-link");
        fs::create_symlink(outside + "/nothing", inside + "/dangling");
    }
    bool outsideUntouched() const {
        return fileBytes(outside + "/secret.txt") == "secret" &&
               fileBytes(outside + "/folder/deep.txt") == "deep" &&
               namesIn(outside) == std::set<std::string>{"folder", "secret.txt"} &&
               namesIn(outside + "/folder") == std::set<std::string>{"deep.txt"};
    }
};

TEST(FileSystem, NeverFollowsALinkBelowAFolder) {
    struct Case {
        const char* what;
        std::function<bool(const Folder& inside, const LinkFixture& f)> refused;
    };
    const Case cases[] = {
        {"sub through a folder link",
         [](const Folder& in, const LinkFixture&) { return !in.sub("folder-link").valid(); }},
        {"sub through a file link",
         [](const Folder& in, const LinkFixture&) { return !in.sub("file-link").valid(); }},
        {"open a file link",
         [](const Folder& in, const LinkFixture&) { return !in.openFile("file-link").valid(); }},
        {"open a folder link as a file",
         [](const Folder& in, const LinkFixture&) { return !in.openFile("folder-link").valid(); }},
        {"walk through a folder link",
         [](const Folder& in, const LinkFixture&) {
             return !in.openFileBelow("folder-link/deep.txt").valid();
         }},
        {"walk up out of the folder",
         [](const Folder& in, const LinkFixture&) {
             return !in.openFileBelow("../outside/secret.txt").valid();
         }},
        {"walk to a file link",
         [](const Folder& in, const LinkFixture&) { return !in.openFileBelow("file-link").valid(); }},
        {"create over a file link",
         [](const Folder& in, const LinkFixture&) {
             bool taken = false;
             return !in.createFile("file-link", &taken).valid() && taken;
         }},
        {"create over a dangling link",
         [](const Folder& in, const LinkFixture& f) {
             return !in.createFile("dangling").valid() && !fs::exists(f.outside + "/nothing");
         }},
        {"make a folder over a folder link",
         [](const Folder& in, const LinkFixture&) { return !in.makeFolder("folder-link"); }},
        {"look at a link",
         [](const Folder& in, const LinkFixture&) {
             return in.entryInfo("folder-link").kind == EntryKind::Link;
         }},
        {"open a link by path, links refused",
         [](const Folder&, const LinkFixture& f) {
             return !openForReading(f.inside + "/file-link", LinkRule::Refuse).valid();
         }},
        {"open a folder link by path, links refused",
         [](const Folder&, const LinkFixture& f) {
             return !Folder::openNoLink(f.inside + "/folder-link").valid();
         }},
        {"write through a link by path",
         [](const Folder&, const LinkFixture& f) {
             return !openForWriting(f.inside + "/file-link").valid();
         }},
        {"look at a link by path",
         [](const Folder&, const LinkFixture& f) {
             return entryInfo(f.inside + "/file-link").kind == EntryKind::Link;
         }},
    };
    for (const Case& c : cases) {
        LinkFixture f;
        const Folder inside = Folder::open(f.inside);
        ASSERT_TRUE(inside.valid());
        EXPECT_TRUE(c.refused(inside, f)) << c.what;
        EXPECT_TRUE(f.outsideUntouched()) << c.what;
    }
}

TEST(FileSystem, FollowsOnlyAPathTheCallerGivesWhole) {
    LinkFixture f;
    // The same entries are reached when the caller names the link as the whole path.
    EXPECT_EQ(targetInfo(f.inside + "/file-link").kind, EntryKind::File);
    EXPECT_EQ(targetInfo(f.inside + "/folder-link").kind, EntryKind::Folder);
    EXPECT_TRUE(openForReading(f.inside + "/file-link").valid());
    const Folder followed = Folder::open(f.inside + "/folder-link");
    ASSERT_TRUE(followed.valid());
    EXPECT_TRUE(followed.openFile("deep.txt").valid());
    // A real folder is walked as usual.
    const Folder inside = Folder::open(f.inside);
    File real = inside.openFileBelow("real/file.txt");
    ASSERT_TRUE(real.valid());
    char bytes[8] = {};
    EXPECT_EQ(real.read(bytes, sizeof bytes), 4);
    EXPECT_EQ(std::string(bytes, 4), "file");
}

TEST(FileSystem, SubMadeReplacesALinkByARealFolder) {
    LinkFixture f;
    const Folder inside = Folder::open(f.inside);
    const Folder made = inside.subMade("folder-link");
    ASSERT_TRUE(made.valid());
    File out = made.createFile("new.txt");
    ASSERT_TRUE(out.valid());
    ASSERT_TRUE(out.writeAll("new", 3));
    ASSERT_TRUE(out.close());
    EXPECT_FALSE(fs::is_symlink(f.inside + "/folder-link"));
    EXPECT_EQ(fileBytes(f.inside + "/folder-link/new.txt"), "new");
    EXPECT_TRUE(f.outsideUntouched());
    EXPECT_TRUE(inside.subMade("real").valid());  // an existing folder is kept
    EXPECT_EQ(fileBytes(f.inside + "/real/file.txt"), "file");
    EXPECT_FALSE(inside.subMade("nested/name").valid());
}

TEST(FileSystem, AReplacementFileLeavesTheTargetWholeOrNew) {
    struct Case {
        const char* what;
        // Writes "new content" into the replacement and ends it; true when it was put in place.
        std::function<bool(ReplacementFile& file)> end;
        bool replaced;
    };
    const Case cases[] = {
        {"committed", [](ReplacementFile& r) { return r.commit("target.txt"); }, true},
        {"discarded after writing",
         [](ReplacementFile& r) {
             r.discard();
             return false;
         },
         false},
        {"dropped without a commit", [](ReplacementFile&) { return false; }, false},
        {"closed, then committed",
         [](ReplacementFile& r) { return r.file().close() && r.commit("target.txt"); }, true},
        {"committed over a folder that is not empty", [](ReplacementFile& r) { return r.commit("busy"); },
         false},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        writeFile(temp / "target.txt", "old content");
        fs::create_directories(temp / "busy");
        writeFile(temp / "busy/inside.txt", "inside");
        const Folder folder = Folder::open(temp.str());
        bool put = false;
        {
            ReplacementFile file(folder, ".test-");
            ASSERT_TRUE(file.valid()) << c.what;
            const std::string name = file.temporaryName();
            EXPECT_TRUE(name.starts_with(".test-") && name.ends_with(".tmp")) << name;
            EXPECT_EQ(namesIn(temp.str()), (std::set<std::string>{"busy", "target.txt", name})) << c.what;
            ASSERT_TRUE(file.file().writeAll("new content", 11));
            put = c.end(file);
        }
        EXPECT_EQ(put, c.replaced) << c.what;
        EXPECT_EQ(fileBytes(temp / "target.txt"), c.replaced ? "new content" : "old content") << c.what;
        // No temporary file is left, and nothing else was touched.
        EXPECT_EQ(namesIn(temp.str()), (std::set<std::string>{"busy", "target.txt"})) << c.what;
        EXPECT_EQ(fileBytes(temp / "busy/inside.txt"), "inside") << c.what;
    }
}

TEST(FileSystem, AReplacementFileReplacesALinkNotWhatItPointsTo) {
    LinkFixture f;
    const Folder inside = Folder::open(f.inside);
    ReplacementFile file(inside, "x-");
    ASSERT_TRUE(file.file().writeAll("mine", 4));
    ASSERT_TRUE(file.commit("file-link"));
    EXPECT_FALSE(fs::is_symlink(f.inside + "/file-link"));
    EXPECT_EQ(fileBytes(f.inside + "/file-link"), "mine");
    EXPECT_TRUE(f.outsideUntouched());
}

TEST(FileSystem, AReplacementFileIsNotMadeInAFolderThatCannotBeOpened) {
    const Folder none = Folder::open("/nonexistent-krevol-folder");
    EXPECT_FALSE(none.valid());
    ReplacementFile file(none, "x-");
    EXPECT_FALSE(file.valid());
    EXPECT_FALSE(file.commit("target"));
}

TEST(FileSystem, RemovingATreeNeverLeavesItThroughALink) {
    struct Case {
        const char* what;
        const char* path;  // below the fixture's folder
        bool result;
        std::set<std::string> left;  // in the fixture's folder afterwards
    };
    const Case cases[] = {
        {"a tree with links inside", "inside", true, {"outside"}},
        {"a tree named with a trailing separator", "inside/", true, {"outside"}},
        {"a link to a folder, as the path", "inside/folder-link", true, {"inside", "outside"}},
        {"a link to a file, as the path", "inside/file-link", true, {"inside", "outside"}},
        {"a file", "inside/real/file.txt", true, {"inside", "outside"}},
        {"nothing", "inside/missing", true, {"inside", "outside"}},
        {"a path ending in ..", "inside/..", false, {"inside", "outside"}},
        {"a path ending in .", "inside/.", false, {"inside", "outside"}},
    };
    for (const Case& c : cases) {
        LinkFixture f;
        const std::string path = f.temp / c.path;
        const bool wasThere = fs::symlink_status(path).type() != fs::file_type::not_found;
        EXPECT_EQ(removeTree(path), c.result) << c.what;
        EXPECT_EQ(namesIn(f.temp.str()), c.left) << c.what;
        if (c.result) {
            EXPECT_EQ(fs::symlink_status(path).type(), fs::file_type::not_found) << c.what;
        } else {
            EXPECT_EQ(fs::symlink_status(path).type() != fs::file_type::not_found, wasThere) << c.what;
        }
        EXPECT_TRUE(f.outsideUntouched()) << c.what;
    }
}

TEST(FileSystem, RemovingATreeGoesOnPastWhatCannotBeRemoved) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may remove anything";
    TempFolder temp;
    const std::string tree = temp / "tree";
    fs::create_directories(tree + "/locked");
    fs::create_directories(tree + "/open/deeper");
    writeFile(tree + "/locked/kept.txt", "kept");
    writeFile(tree + "/open/deeper/gone.txt", "gone");
    writeFile(tree + "/top.txt", "gone");
    ::chmod((tree + "/locked").c_str(), 0500);  // its entries cannot be removed
    EXPECT_FALSE(removeTree(tree));
    EXPECT_EQ(namesIn(tree), std::set<std::string>{"locked"});
    EXPECT_EQ(fileBytes(tree + "/locked/kept.txt"), "kept");
    ::chmod((tree + "/locked").c_str(), 0700);
    EXPECT_TRUE(removeTree(tree));
    EXPECT_FALSE(fs::exists(tree));
}

TEST(FileSystem, EntryInfoTellsTheKindsApart) {
    TempFolder temp;
    writeFile(temp / "file", "12345");
    fs::create_directories(temp / "folder");
    ::mkfifo((temp / "pipe").c_str(), 0644);
    fs::create_symlink(temp / "file", temp / "link");
    const struct {
        const char* name;
        EntryKind itself;
        EntryKind target;
    } cases[] = {
        {"file", EntryKind::File, EntryKind::File},          {"folder", EntryKind::Folder, EntryKind::Folder},
        {"pipe", EntryKind::Other, EntryKind::Other},        {"link", EntryKind::Link, EntryKind::File},
        {"missing", EntryKind::Missing, EntryKind::Missing},
    };
    const Folder folder = Folder::open(temp.str());
    for (const auto& c : cases) {
        EXPECT_EQ(entryInfo(temp / c.name).kind, c.itself) << c.name;
        EXPECT_EQ(folder.entryInfo(c.name).kind, c.itself) << c.name;
        EXPECT_EQ(targetInfo(temp / c.name).kind, c.target) << c.name;
    }
    EXPECT_EQ(entryInfo(temp / "file").size, 5);
    EXPECT_FALSE(entryInfo(temp / "link").identity == entryInfo(temp / "file").identity);
    EXPECT_EQ(targetInfo(temp / "link").identity, entryInfo(temp / "file").identity);
    // A pipe is opened without waiting for a writer, and is seen for what it is.
    const File pipe = openForReading(temp / "pipe");
    ASSERT_TRUE(pipe.valid());
    EXPECT_EQ(pipe.info().kind, EntryKind::Other);
}

TEST(FileSystem, TheCopierMovesEveryByteInBlocks) {
    TempFolder temp;
    std::string data;
    for (int i = 0; i < 3500; ++i) data += static_cast<char>('a' + i % 26);
    writeFile(temp / "from", data);
    for (const std::size_t block : {std::size_t{1000}, std::size_t{3500}, std::size_t{1 << 20}}) {
        File from = openForReading(temp / "from");
        File to = openForWriting(temp / "to");
        ASSERT_TRUE(from.valid() && to.valid());
        FileCopier copier(block);
        std::int64_t total = 0;
        int blocks = 0;
        for (std::int64_t n = 0; (n = copier.copyBlock(from, to, total == 0)) > 0; total += n) {
            EXPECT_LE(n, static_cast<std::int64_t>(block));
            ++blocks;
        }
        ASSERT_TRUE(to.close());
        EXPECT_EQ(total, 3500) << block;
        EXPECT_GE(blocks, static_cast<int>((3500 + block - 1) / block)) << block;
        EXPECT_EQ(fileBytes(temp / "to"), data) << block;
    }
}

}  // namespace
}  // namespace krevol
