// The folder archiver: what packing writes, what unpacking recreates, interop with Info-ZIP and
// Python both ways, progress, the written-files list, the stop flag and the CRC-32 helper.
#include "feedback/archiver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <ctime>
#include <thread>

#include "app/stop_flag.h"
#include "archive_fixtures.h"

namespace krevol {
namespace {

using test::fileBytes;
using test::listTree;
using test::runCommand;
using test::runPython;
using test::ScratchFolder;
using test::shellQuote;
using test::writeFile;
namespace fs = std::filesystem;

// Python's view of an archive: one line per entry, then the result of its own CRC test.
constexpr const char* kDumpArchive = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    print('%s|%d|%d|%d|%d|%04d-%02d-%02d %02d:%02d:%02d|%d|%d|%d' % ((i.filename, i.compress_type, i.flag_bits,
          i.external_attr, i.internal_attr) + i.date_time + (i.file_size, len(i.extra), len(i.comment))))
print('test:%s comment:%d' % (z.testzip(), len(z.comment)))
)";

std::string packFolder(const fs::path& archive, const fs::path& folder, const std::string& prefix = "") {
    auto writer = createArchive(archive.string());
    if (!writer) return "create failed";
    if (!addFolderTree(*writer, prefix, folder.string())) return "add failed";
    if (!closeArchive(writer)) return "close failed";
    return "";
}

void setModified(const fs::path& path, std::time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::string localStamp(std::time_t t) {
    struct tm local {};
    localtime_r(&t, &local);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec & ~1);
    return text;
}

TEST(Archiver, PacksTheLogFolderAsWrittenEntryByEntry) {
    ScratchFolder scratch;
    const fs::path log = scratch / "log";
    const std::time_t when = 1700000000 + 13;  // odd second: MS-DOS time keeps 2 seconds
    writeFile(log / "a.txt", "hello log\n");
    fs::create_directories(log / "x");
    writeFile(log / "ro.txt", "");
    fs::permissions(log / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    setModified(log / "a.txt", when);
    setModified(log / "ro.txt", when);
    setModified(log / "x", when);
    setModified(log, when);

    const fs::path archive = scratch / "SERIAL.zip";
    ASSERT_EQ(packFolder(archive, log), "");
    const auto dump = runPython(scratch.path(), kDumpArchive, shellQuote(archive.string()));
    ASSERT_EQ(dump.exitCode, 0) << dump.out;
    // name|method|flags|attributes|internal|time|size|extra|comment: deflate (8), flag bit 1 of level
    // 9, Windows attributes (folder 0x10, archive 0x20, read-only 0x01), no extra, no comments.
    const std::string stamp = localStamp(when);
    EXPECT_EQ(dump.out, "log/|8|2|16|0|" + stamp + "|0|0|0\n" +            //
                            "log/a.txt|8|2|32|0|" + stamp + "|10|0|0\n" +  //
                            "log/ro.txt|8|2|33|0|" + stamp + "|0|0|0\n" +  //
                            "log/x/|8|2|16|0|" + stamp + "|0|0|0\n" + "test:None comment:0\n");
    const auto unzip = runCommand("unzip -t " + shellQuote(archive.string()));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.out;
}

TEST(Archiver, RoundTripRecreatesTreeTimesAndListsWrittenFiles) {
    ScratchFolder scratch;
    const fs::path log = scratch / "src" / "log";
    std::string big;
    for (long long i = 0; i < 300000; ++i) big += std::to_string(i * 7919) + (i % 13 == 0 ? "\n" : " ");
    writeFile(log / "a.txt", "alpha");
    writeFile(log / "deep" / "er" / "big.txt", big);
    writeFile(log / "empty.bin", "");
    fs::create_directories(log / "x");
    const std::time_t when = 1600000000;
    setModified(log / "a.txt", when);
    const fs::path archive = scratch / "out.zip";
    ASSERT_EQ(packFolder(archive, log), "");

    std::vector<ExtractedFile> written;
    std::atomic<std::uint64_t> bytes{0};
    ArchiveError error = ArchiveError::OpenArchive;
    ExtractOptions options;
    options.written = &written;
    options.bytesWritten = &bytes;
    options.error = &error;
    const fs::path dest = scratch / "D";  // does not exist yet: created (one level)
    ASSERT_TRUE(extractArchive(archive.string(), dest.string(), options));
    EXPECT_EQ(error, ArchiveError::None);
    EXPECT_EQ(listTree(dest),
              "log/\nlog/a.txt\nlog/deep/\nlog/deep/er/\nlog/deep/er/big.txt\nlog/empty.bin\nlog/x/\n");
    EXPECT_EQ(fileBytes(dest / "log" / "deep" / "er" / "big.txt"), big);
    EXPECT_EQ(fileBytes(dest / "log" / "a.txt"), "alpha");
    struct stat st {};
    ASSERT_EQ(::stat((dest / "log" / "a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, when);  // even second: exact after the MS-DOS round trip
    EXPECT_EQ(bytes.load(), big.size() + 5);

    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[0].relativePath, "log/a.txt");
    EXPECT_EQ(written[0].size, 5u);
    EXPECT_EQ(written[0].crc32, crc32(0, reinterpret_cast<const Bytef*>("alpha"), 5));
    EXPECT_EQ(written[1].relativePath, "log/deep/er/big.txt");
    EXPECT_EQ(written[1].size, big.size());
    EXPECT_EQ(written[2].relativePath, "log/empty.bin");
    EXPECT_EQ(written[2].size, 0u);
    for (const ExtractedFile& f : written) {
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        ASSERT_TRUE(fileCrc32((dest / f.relativePath).string(), crc, size, true));
        EXPECT_EQ(crc, f.crc32) << f.relativePath;
        EXPECT_EQ(size, f.size) << f.relativePath;
    }

    // A second unpack into the same folder replaces the files (nothing doubled in the list).
    ASSERT_TRUE(extractArchive(archive.string(), dest.string(), options));
    EXPECT_EQ(written.size(), 3u);
}

TEST(Archiver, PatternsLinksAndMissingPaths) {
    ScratchFolder scratch;
    const fs::path src = scratch / "src";
    writeFile(src / "one.log", "1");
    writeFile(src / "two.txt", "2");
    writeFile(src / "sub" / "three.log", "3");
    writeFile(scratch / "outside" / "secret.txt", "secret");
    fs::create_symlink(scratch / "outside", src / "linked-folder");
    fs::create_symlink(scratch / "outside" / "secret.txt", src / "linked-file.log");
    const auto names = [&](const fs::path& archive) {
        return runPython(scratch.path(),
                         "import sys,zipfile\nprint(' '.join(zipfile.ZipFile(sys.argv[1]).namelist()))",
                         shellQuote(archive.string()))
            .out;
    };

    const fs::path all = scratch / "all.zip";
    ASSERT_EQ(packFolder(all, src / "*"), "");  // the contents without the folder's own entry; links skipped
    EXPECT_EQ(names(all), "one.log sub/ sub/three.log two.txt\n");

    const fs::path logs = scratch / "logs.zip";
    ASSERT_EQ(packFolder(logs, src / "*.log", "p/"), "");
    EXPECT_EQ(names(logs), "p/one.log\n");

    auto writer = createArchive((scratch / "none.zip").string());
    ASSERT_TRUE(writer);
    EXPECT_FALSE(addFolderTree(*writer, "", (src / "*.none").string()));
    EXPECT_FALSE(addFolderTree(*writer, "", (scratch / "missing").string()));
    EXPECT_FALSE(addArchiveEntry(*writer, "l", (src / "linked-file.log").string()));
    EXPECT_EQ(writer->lastError(), ArchiveError::ReadSource);
    EXPECT_TRUE(closeArchive(writer));

    EXPECT_EQ(createArchive((scratch / "no-such-folder" / "x.zip").string()), nullptr);
}

// Small files packed in batches on two threads give byte for byte the archive of one thread.
TEST(Archiver, TwoThreadPackingWritesTheSameArchive) {
    ScratchFolder scratch;
    std::uint32_t x = 7;
    for (int i = 0; i < 150; ++i) {
        std::string bytes(static_cast<std::size_t>(i * 997 % 40000), '\0');
        for (char& c : bytes) {
            x = x * 1103515245u + 12345u;
            c = i % 2 == 0 ? static_cast<char>('a' + (x >> 28)) : static_cast<char>(x >> 24);
        }
        writeFile(scratch / "src" / "tree" / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
                  bytes);
    }
    writeFile(scratch / "src" / "tree" / "d1" / "large.bin", std::string(3 * 1024 * 1024, 'L'));
    std::string archives[2];
    for (const bool parallel : {true, false}) {
        PackOptions options;
        options.parallel = parallel;
        std::atomic<std::uint64_t> bytes{0};
        options.bytesRead = &bytes;
        const fs::path archive = scratch / (parallel ? "two.zip" : "one.zip");
        auto writer = createArchive(archive.string(), options);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(addFolderTree(*writer, "", (scratch / "src" / "tree").string()));
        EXPECT_EQ(writer->entryCount(), 150u + 1 + 4 + 1);
        ASSERT_TRUE(closeArchive(writer));
        archives[parallel ? 0 : 1] = fileBytes(archive);
        std::uint64_t total = 3 * 1024 * 1024;
        for (int i = 0; i < 150; ++i) total += static_cast<std::uint64_t>(i * 997 % 40000);
        EXPECT_EQ(bytes.load(), total);
    }
    EXPECT_TRUE(archives[0] == archives[1]);
    const auto unzip = runCommand("unzip -t " + shellQuote((scratch / "two.zip").string()));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.out;

    // A file that cannot be read in the middle of a batch fails the walk.
    if (::geteuid() != 0) {
        fs::permissions(scratch / "src" / "tree" / "d2" / "f6", fs::perms::none);
        auto writer = createArchive((scratch / "bad.zip").string());
        ASSERT_TRUE(writer);
        EXPECT_FALSE(addFolderTree(*writer, "", (scratch / "src" / "tree").string()));
        EXPECT_EQ(writer->lastError(), ArchiveError::ReadSource);
    }
}

// A file that ends before the size it had when it was opened fails its entry (never an endless
// read). A sysfs attribute is such a file: it claims 4096 bytes and reads a few.
TEST(Archiver, FileShorterThanItsSizeFailsTheEntry) {
    const char* shortFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st {};
    if (::stat(shortFile, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 64)
        GTEST_SKIP() << "no such file here";
    ScratchFolder scratch;
    auto writer = createArchive((scratch / "s.zip").string());
    ASSERT_TRUE(writer);
    EXPECT_FALSE(addArchiveEntry(*writer, "enabled", shortFile));
    EXPECT_EQ(writer->lastError(), ArchiveError::ReadSource);
}

TEST(Archiver, ReplacesAnExistingArchiveAndALinkAtItsPath) {
    ScratchFolder scratch;
    writeFile(scratch / "src" / "f.txt", "f");
    writeFile(scratch / "target.txt", "must stay");
    fs::create_symlink(scratch / "target.txt", scratch / "a.zip");
    ASSERT_EQ(packFolder(scratch / "a.zip", scratch / "src"), "");
    EXPECT_FALSE(fs::is_symlink(scratch / "a.zip"));
    EXPECT_EQ(fileBytes(scratch / "target.txt"), "must stay");
    writeFile(scratch / "b.zip", std::string(100000, 'x'));
    ASSERT_EQ(packFolder(scratch / "b.zip", scratch / "src"), "");
    EXPECT_EQ(fs::file_size(scratch / "b.zip"), fs::file_size(scratch / "a.zip"));
}

TEST(Archiver, NonAsciiNamesCarryTheUtf8FlagAndReadBackEverywhere) {
    ScratchFolder scratch;
    writeFile(scratch / "src" / "诊断" / "日志.txt", "x");
    const fs::path archive = scratch / "u.zip";
    ASSERT_EQ(packFolder(archive, scratch / "src" / "诊断"), "");
    const auto dump = runPython(scratch.path(), kDumpArchive, shellQuote(archive.string()));
    EXPECT_NE(dump.out.find("诊断/|8|2050|16|"), std::string::npos) << dump.out;  // 0x800 | 2
    EXPECT_NE(dump.out.find("诊断/日志.txt|8|2050|32|"), std::string::npos) << dump.out;
    ASSERT_TRUE(extractArchive(archive.string(), (scratch / "D").string()));
    EXPECT_EQ(fileBytes(scratch / "D" / "诊断" / "日志.txt"), "x");
}

TEST(Archiver, UnpacksWhatInfoZipAndPythonWrite) {
    ScratchFolder scratch;
    std::string text;
    for (int i = 0; i < 50000; ++i) text += "line " + std::to_string(i) + "\n";
    writeFile(scratch / "src" / "tree" / "a" / "text.txt", text);
    writeFile(scratch / "src" / "tree" / "b.bin", std::string("\x00\x01\x02\xff", 4));
    writeFile(scratch / "src" / "tree" / "zero", "");
    fs::create_directories(scratch / "src" / "tree" / "empty");
    const std::string expected = "tree/\ntree/a/\ntree/a/text.txt\ntree/b.bin\ntree/empty/\ntree/zero\n";
    for (const char* flags : {"-9 -q -r", "-0 -q -r", "-q -r -fd"}) {
        const fs::path archive = scratch / "infozip.zip";
        fs::remove(archive);
        const auto zip = runCommand("cd " + shellQuote((scratch / "src").string()) + " && zip " + flags +
                                    " " + shellQuote(archive.string()) + " tree");
        ASSERT_EQ(zip.exitCode, 0) << zip.out;
        const fs::path dest = scratch / (std::string("infozip") + flags);
        ASSERT_TRUE(extractArchive(archive.string(), dest.string())) << flags;
        EXPECT_EQ(listTree(dest), expected) << flags;
        EXPECT_EQ(fileBytes(dest / "tree" / "a" / "text.txt"), text) << flags;
    }

    // Python: deflate, stored, and a streamed archive (data descriptors, sizes only at the end).
    const auto py =
        runPython(scratch.path(), R"(
import sys, zipfile, io
src = sys.argv[1]
text = open(src + '/tree/a/text.txt', 'rb').read()
for name, method in (('py-deflate.zip', zipfile.ZIP_DEFLATED), ('py-stored.zip', zipfile.ZIP_STORED)):
    with zipfile.ZipFile(sys.argv[2] + '/' + name, 'w', method) as z:
        z.writestr('dir/', b'')
        z.writestr('dir/text.txt', text)
        z.writestr('top.bin', bytes(range(256)) * 100)
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(sys.argv[2] + '/py-stream.zip', 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        with z.open('dir/text.txt', 'w') as e: e.write(text)
        with z.open('top.bin', 'w') as e: e.write(bytes(range(256)) * 100)
)",
                  shellQuote((scratch / "src").string()) + " " + shellQuote(scratch.path().string()));
    ASSERT_EQ(py.exitCode, 0) << py.out;
    std::string top;
    for (int i = 0; i < 100; ++i)
        for (int b = 0; b < 256; ++b) top += static_cast<char>(b);
    for (const char* name : {"py-deflate.zip", "py-stored.zip", "py-stream.zip"}) {
        const fs::path dest = scratch / (std::string("out-") + name);
        ASSERT_TRUE(extractArchive((scratch / name).string(), dest.string())) << name;
        EXPECT_EQ(fileBytes(dest / "dir" / "text.txt"), text) << name;
        EXPECT_EQ(fileBytes(dest / "top.bin"), top) << name;
    }
}

TEST(Archiver, OurArchivesPassUnzipAndPythonWithLargeAndEmptyFiles) {
    ScratchFolder scratch;
    std::string random(3 * 1024 * 1024 + 17, '\0');
    std::uint32_t x = 12345;
    for (char& c : random) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    writeFile(scratch / "src" / "r.bin", random);
    writeFile(scratch / "src" / "z.bin", "");
    fs::create_directories(scratch / "src" / "e" / "f");
    const fs::path archive = scratch / "ours.zip";
    ASSERT_EQ(packFolder(archive, scratch / "src"), "");
    const auto unzip = runCommand("unzip -t " + shellQuote(archive.string()));
    EXPECT_EQ(unzip.exitCode, 0) << unzip.out;
    const auto extracted = runCommand("cd " + shellQuote(scratch.path().string()) +
                                      " && unzip -q -d byunzip " + shellQuote(archive.string()));
    ASSERT_EQ(extracted.exitCode, 0) << extracted.out;
    EXPECT_EQ(fileBytes(scratch / "byunzip" / "src" / "r.bin"), random);
    const auto dump = runPython(scratch.path(), kDumpArchive, shellQuote(archive.string()));
    EXPECT_NE(dump.out.find("test:None comment:0"), std::string::npos) << dump.out;
}

TEST(Archiver, BackslashNamesUtf8FlagAndCp936NamesLandAsUtf8) {
    ScratchFolder scratch;
    // Python writes ASCII placeholders; their bytes are then replaced by CP936 ones (no flag) or
    // kept as a flagged UTF-8 name.
    const auto py = runPython(scratch.path(), R"(
import sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(out + '/names.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('win\\sub\\file.txt', b'backslash')
    z.writestr('XXXX/YYYY.txt', b'cp936')
    z.writestr('\u6c7d\u8f66/\u8f6f\u4ef6.txt', b'utf8')
data = open(out + '/names.zip', 'rb').read()
data = data.replace(b'XXXX/YYYY.txt', '\u8bca\u65ad/\u8f66\u578b.txt'.encode('cp936'))
open(out + '/names.zip', 'wb').write(data)
)",
                              shellQuote(scratch.path().string()));
    ASSERT_EQ(py.exitCode, 0) << py.out;
    const fs::path dest = scratch / "D";
    ASSERT_TRUE(extractArchive((scratch / "names.zip").string(), dest.string()));
    EXPECT_EQ(fileBytes(dest / "win" / "sub" / "file.txt"), "backslash");
    EXPECT_EQ(fileBytes(dest / "诊断" / "车型.txt"), "cp936");
    EXPECT_EQ(fileBytes(dest / "汽车" / "软件.txt"), "utf8");
}

TEST(Archiver, LinksInTheDestinationAreNeverFollowed) {
    ScratchFolder scratch;
    const fs::path outside = scratch / "outside";
    writeFile(outside / "target.txt", "outside");
    writeFile(outside / "hard.txt", "hard");
    const fs::path dest = scratch / "D";
    fs::create_directories(dest);
    fs::create_symlink(outside, dest / "sub");
    fs::create_symlink(outside / "target.txt", dest / "file.txt");
    fs::create_hard_link(outside / "hard.txt", dest / "hard.txt");
    const auto py = runPython(scratch.path(), R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('sub/new.txt', b'in sub')
    z.writestr('file.txt', b'replaced')
    z.writestr('hard.txt', b'replaced hard')
    link = zipfile.ZipInfo('link-entry')
    link.create_system = 3
    link.external_attr = 0o120777 << 16
    z.writestr(link, '/etc/passwd')
)",
                              shellQuote((scratch / "links.zip").string()));
    ASSERT_EQ(py.exitCode, 0) << py.out;
    ASSERT_TRUE(extractArchive((scratch / "links.zip").string(), dest.string()));
    EXPECT_EQ(listTree(outside), "hard.txt\ntarget.txt\n");
    EXPECT_EQ(fileBytes(outside / "target.txt"), "outside");
    EXPECT_EQ(fileBytes(outside / "hard.txt"), "hard");
    EXPECT_FALSE(fs::is_symlink(dest / "sub"));
    EXPECT_EQ(fileBytes(dest / "sub" / "new.txt"), "in sub");
    EXPECT_FALSE(fs::is_symlink(dest / "file.txt"));
    EXPECT_EQ(fileBytes(dest / "file.txt"), "replaced");
    EXPECT_EQ(fileBytes(dest / "hard.txt"), "replaced hard");
    EXPECT_FALSE(fs::is_symlink(dest / "link-entry"));
    EXPECT_EQ(fileBytes(dest / "link-entry"), "/etc/passwd");
}

TEST(Archiver, EntriesOneByOneAndEmptyArchive) {
    ScratchFolder scratch;
    writeFile(scratch / "src" / "a.txt", "A");
    writeFile(scratch / "src" / "b.txt", "B");
    const fs::path archive = scratch / "two.zip";
    ASSERT_EQ(packFolder(archive, scratch / "src" / "*"), "");
    ArchiveReader reader;
    ASSERT_TRUE(reader.open(archive.string()));
    EXPECT_EQ(reader.entryCount(), 2u);
    fs::create_directories(scratch / "D");
    ASSERT_TRUE(reader.goToNext());
    ASSERT_TRUE(extractCurrentEntry(reader, (scratch / "D").string()));
    EXPECT_EQ(listTree(scratch / "D"), "b.txt\n");
    EXPECT_FALSE(reader.goToNext());
    ASSERT_TRUE(reader.goToFirst());
    ASSERT_TRUE(extractCurrentEntry(reader, (scratch / "D").string() + "/"));
    EXPECT_EQ(listTree(scratch / "D"), "a.txt\nb.txt\n");

    auto empty = createArchive((scratch / "empty.zip").string());
    ASSERT_TRUE(empty);
    ASSERT_TRUE(closeArchive(empty));
    ASSERT_TRUE(extractArchive((scratch / "empty.zip").string(), (scratch / "E").string()));
    EXPECT_TRUE(fs::is_directory(scratch / "E"));
    ArchiveSummary summary;
    ASSERT_TRUE(summarizeArchive(archive.string(), summary));
    EXPECT_EQ(summary.entries, 2u);
    EXPECT_EQ(summary.uncompressedBytes, 2u);
}

// A 64 MiB entry of zeros (tiny compressed) unpacked on a thread; the stop flag is set once the
// first bytes have landed.
TEST(Archiver, StopFlagEndsTheUnpackAndRemovesThePartialFile) {
    ScratchFolder scratch;
    const auto py = runPython(scratch.path(), R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('done.txt', b'complete')
    with z.open('zeros.bin', 'w', force_zip64=False) as e:
        block = bytes(1 << 20)
        for _ in range(64): e.write(block)
)",
                              shellQuote((scratch / "big.zip").string()));
    ASSERT_EQ(py.exitCode, 0) << py.out;

    std::atomic<int> stop{0};
    std::atomic<std::uint64_t> bytes{0};
    ArchiveError error = ArchiveError::None;
    ExtractOptions options;
    options.stopFlag = &stop;
    options.bytesWritten = &bytes;
    options.error = &error;
    bool result = true;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        result = extractArchive((scratch / "big.zip").string(), (scratch / "D").string(), options);
        finished.store(true);
    });
    while (bytes.load() <= 8 && !finished.load()) std::this_thread::yield();
    stop.store(1);
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, ArchiveError::Stopped);
    EXPECT_EQ(listTree(scratch / "D"), "done.txt\n");  // the partial zeros.bin is gone

    // The process-wide flag is the default.
    runStopFlag.store(1);
    EXPECT_FALSE(extractArchive((scratch / "big.zip").string(), (scratch / "E").string()));
    runStopFlag.store(0);
    options.stopFlag = nullptr;
    options.useRunStopFlag = false;
    runStopFlag.store(1);
    EXPECT_TRUE(extractArchive((scratch / "big.zip").string(), (scratch / "F").string(), options));
    runStopFlag.store(0);
}

// A full disk, shown by a file size limit: the write fails and the partial file goes.
TEST(Archiver, FailedWriteRemovesThePartialFile) {
    ScratchFolder scratch;
    writeFile(scratch / "src" / "big.bin", std::string(4 * 1024 * 1024, 'q'));
    ASSERT_EQ(packFolder(scratch / "a.zip", scratch / "src" / "*"), "");
    struct rlimit previous {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = previous;
    limited.rlim_cur = 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    ArchiveError error = ArchiveError::None;
    ExtractOptions options;
    options.error = &error;
    const bool result = extractArchive((scratch / "a.zip").string(), (scratch / "D").string(), options);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(result);
    EXPECT_EQ(error, ArchiveError::WriteFailed);
    EXPECT_EQ(listTree(scratch / "D"), "");
}

TEST(Archiver, FileCrc32StreamsWholeFiles) {
    ScratchFolder scratch;
    writeFile(scratch / "check.txt", "123456789");
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    ASSERT_TRUE(fileCrc32((scratch / "check.txt").string(), crc, size));
    EXPECT_EQ(crc, 0xCBF43926u);
    EXPECT_EQ(size, 9u);
    std::string big(kArchiveBlockSize * 2 + 5, 'b');
    writeFile(scratch / "big.bin", big);
    ASSERT_TRUE(fileCrc32((scratch / "big.bin").string(), crc, size, true));
    EXPECT_EQ(crc, crc32Update(0, big.data(), big.size()));
    EXPECT_EQ(size, big.size());
    EXPECT_FALSE(fileCrc32((scratch / "missing").string(), crc, size));
    fs::create_symlink(scratch / "check.txt", scratch / "link");
    EXPECT_FALSE(fileCrc32((scratch / "link").string(), crc, size));
    std::atomic<int> stop{1};
    EXPECT_FALSE(fileCrc32((scratch / "big.bin").string(), crc, size, false, &stop));
}

}  // namespace
}  // namespace krevol
