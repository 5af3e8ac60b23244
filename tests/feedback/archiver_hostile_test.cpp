// Hostile and broken archives: every one fails the unpack cleanly, writes nothing outside the
// destination and leaves no partial file. The fixtures are written by Python's zipfile and then
// byte-edited (names through same-length placeholders, header fields at their offsets).
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>

#include "archive_fixtures.h"
#include "feedback/archiver.h"

namespace krevol {
namespace {

using test::fileBytes;
using test::listTree;
using test::runPython;
using test::ScratchFolder;
using test::shellQuote;
namespace fs = std::filesystem;

constexpr const char* kFixtures = R"PY(
import os, struct, sys, zipfile, io
out = sys.argv[1]
os.makedirs(out, exist_ok=True)

def build(entries, method=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', method) as z:
        for name, data in entries:
            z.writestr(name, data)
    return bytearray(buf.getvalue())

def save(case, data):
    open(os.path.join(out, case + '.zip'), 'wb').write(bytes(data))

def named(case, raw):  # an entry whose name is the bytes `raw`, through an ASCII placeholder
    placeholder = b'Q' * len(raw)
    data = build([(placeholder.decode(), b'evil')])
    save(case, data.replace(placeholder, raw))

# Header fields of the last entry: (local offset, central offset).
def offsets(data):
    central = data.rfind(b'PK\x01\x02')
    local = struct.unpack_from('<I', data, central + 42)[0]
    return local, central

def patch(data, local_field, central_field, fmt, value):
    local, central = offsets(data)
    struct.pack_into(fmt, data, local + local_field, value)
    struct.pack_into(fmt, data, central + central_field, value)

named('dotdot', b'../evil.txt')
named('dotdot-inner', b'a/../../evil.txt')
named('dotdot-backslash', b'a\\..\\..\\evil.txt')
named('dotdot-only', b'..')
named('absolute', b'/tmp/evil.txt')
named('backslash-lead', b'\\evil.txt')
named('drive', b'C:evil.txt')
named('drive-backslash', b'C:\\evil.txt')
named('drive-slash', b'c:/evil.txt')
named('control', b'a\x01evil.txt')
named('delete-byte', b'a\x7fevil.txt')
named('nul', b'evil.txt\x00.pdf')
named('long', b'd/' * 129 + b'xx')          # 260 bytes
named('not-cp936', b'\xff\xfe.txt')

flagged = build([('\u00e9\u00e9.txt', b'evil')])
save('bad-utf8-flagged', flagged.replace('\u00e9\u00e9.txt'.encode(), b'\xff\xfe\xff\xfe.txt'))

text = b''.join(b'line %d of the package\n' % i for i in range(20000))

data = build([('ok.txt', b'fine'), ('f.txt', text)])
local, central = offsets(data)
crc = struct.unpack_from('<I', data, central + 16)[0]
patch(data, 14, 16, '<I', crc ^ 0x1)
save('crc', data)

data = build([('f.txt', text)])
csize = struct.unpack_from('<I', data, offsets(data)[1] + 20)[0]
patch(data, 18, 20, '<I', csize // 2)
save('breaks-off', data)

data = build([('f.txt', text)])
patch(data, 18, 20, '<I', 0x7fffffff)
save('past-end', data)

data = build([('f.txt', bytes(1 << 20))])
patch(data, 22, 24, '<I', 1000)
save('bomb', data)

data = build([('f.txt', text)])
patch(data, 22, 24, '<I', len(text) + 1)
save('short', data)

data = build([('f.txt', text)], zipfile.ZIP_STORED)
patch(data, 22, 24, '<I', len(text) - 1)
save('stored-size', data)

data = build([('f.txt', text)])
local = offsets(data)[0]
start = local + 30 + 5 + 200
data[start:start + 64] = b'\xff' * 64
save('corrupt-data', data)

data = build([('f.txt', text)])
flags = struct.unpack_from('<H', data, offsets(data)[1] + 8)[0]
patch(data, 6, 8, '<H', flags | 1)
save('encrypted', data)

save('bzip2', build([('f.txt', text)], zipfile.ZIP_BZIP2))

data = build([('f.txt', text)])
save('truncated', data[:len(data) // 2])
save('no-end-record', data[:-22])
# The first directory entry claims an extra field that runs far past the end of the file (found
# by the archive_unpack fuzz target: minizip then reads past the end byte after byte).
data = build([('BENZ/', b''), ('BENZ/app.ini', b'[APP]\nVER=2.10\n')])
struct.pack_into('<H', data, data.find(b'PK\x01\x02') + 30, 55040)
save('extra-past-end', data)

save('not-a-zip', os.urandom(5000))
save('empty-file', b'')
print('ok')
)PY";

struct HostileCase {
    const char* name;
    std::set<ArchiveError> errors;  // what the unpack may answer
    const char* treeAfter;          // the destination afterwards
};

class HostileArchives : public ::testing::TestWithParam<HostileCase> {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new ScratchFolder;
        const auto py =
            runPython(scratch_->path(), kFixtures, shellQuote((scratch_->path() / "fixtures").string()));
        ASSERT_EQ(py.out, "ok\n");
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    static ScratchFolder* scratch_;
};

ScratchFolder* HostileArchives::scratch_ = nullptr;

TEST_P(HostileArchives, FailCleanlyInsideTheDestination) {
    const HostileCase& c = GetParam();
    const fs::path root = scratch_->path() / c.name;
    const fs::path dest = root / "inner" / "dest";
    fs::create_directories(dest);
    ArchiveError error = ArchiveError::None;
    ExtractOptions options;
    options.error = &error;
    options.useRunStopFlag = false;
    const fs::path archive = scratch_->path() / "fixtures" / (std::string(c.name) + ".zip");
    ASSERT_TRUE(fs::exists(archive));
    EXPECT_FALSE(extractArchive(archive.string(), dest.string(), options)) << c.name;
    EXPECT_TRUE(c.errors.count(error) == 1) << archiveErrorName(error);
    if (HasFailure()) std::cerr << "case " << c.name << "\n";
    EXPECT_EQ(listTree(dest), c.treeAfter);
    EXPECT_EQ(
        listTree(root), "inner/\ninner/dest/\n" + [&] {
            std::string inside;
            std::istringstream lines(c.treeAfter);
            for (std::string line; std::getline(lines, line);) inside += "inner/dest/" + line + "\n";
            return inside;
        }());
    EXPECT_FALSE(fs::exists("/tmp/evil.txt") && fileBytes("/tmp/evil.txt") == "evil");
}

const std::set<ArchiveError> kUnsafe{ArchiveError::UnsafeName};
const std::set<ArchiveError> kCorrupt{ArchiveError::CorruptArchive};
const std::set<ArchiveError> kOpen{ArchiveError::OpenArchive};

INSTANTIATE_TEST_SUITE_P(
    Table, HostileArchives,
    ::testing::Values(HostileCase{"dotdot", kUnsafe, ""}, HostileCase{"dotdot-inner", kUnsafe, ""},
                      HostileCase{"dotdot-backslash", kUnsafe, ""}, HostileCase{"dotdot-only", kUnsafe, ""},
                      HostileCase{"absolute", kUnsafe, ""}, HostileCase{"backslash-lead", kUnsafe, ""},
                      HostileCase{"drive", kUnsafe, ""}, HostileCase{"drive-backslash", kUnsafe, ""},
                      HostileCase{"drive-slash", kUnsafe, ""}, HostileCase{"control", kUnsafe, ""},
                      HostileCase{"delete-byte", kUnsafe, ""}, HostileCase{"nul", kUnsafe, ""},
                      HostileCase{"long", kUnsafe, ""}, HostileCase{"not-cp936", kUnsafe, ""},
                      HostileCase{"bad-utf8-flagged", kUnsafe, ""},
                      HostileCase{"crc", {ArchiveError::CrcMismatch}, "ok.txt\n"},
                      HostileCase{"breaks-off", kCorrupt, ""}, HostileCase{"past-end", kCorrupt, ""},
                      HostileCase{"bomb", kCorrupt, ""}, HostileCase{"short", kCorrupt, ""},
                      HostileCase{"stored-size", kCorrupt, ""},
                      HostileCase{
                          "corrupt-data", {ArchiveError::CorruptArchive, ArchiveError::CrcMismatch}, ""},
                      HostileCase{"encrypted", kCorrupt, ""}, HostileCase{"extra-past-end", kCorrupt, ""},
                      HostileCase{"bzip2", kCorrupt, ""}, HostileCase{"truncated", kOpen, ""},
                      HostileCase{"no-end-record", kOpen, ""}, HostileCase{"not-a-zip", kOpen, ""},
                      HostileCase{"empty-file", kOpen, ""}),
    [](const ::testing::TestParamInfo<HostileCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

// Read system calls of this process so far (Linux: /proc/self/io).
std::uint64_t readCalls() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "syscr:") return value;
    return 0;
}

// Reads past the end of a damaged archive stop at the end once it is known: the directory entry
// whose extra field runs 55040 bytes past the end costs a few reads, not one per byte.
TEST_F(HostileArchives, ReadsPastTheEndAreNotRepeated) {
    const fs::path archive = scratch_->path() / "fixtures" / "extra-past-end.zip";
    const fs::path dest = scratch_->path() / "extra-past-end-dest";
    ExtractOptions options;
    options.useRunStopFlag = false;
    const std::uint64_t before = readCalls();
    ASSERT_GT(before, 0u);
    extractArchive(archive.string(), dest.string(), options);
    ArchiveSummary summary;
    summarizeArchive(archive.string(), summary);
    EXPECT_LT(readCalls() - before, 200u);
    EXPECT_EQ(listTree(dest), "");
}

// Names that look odd but stay inside: they unpack where they belong.
TEST(ArchiverNames, OddButSafeNamesStayInside) {
    ScratchFolder scratch;
    const auto py = runPython(scratch.path(), R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('a/./b.txt', b'1')
    z.writestr('a//c.txt', b'2')
    z.writestr('...', b'3')
    z.writestr('a b:y.txt', b'4')
    z.writestr('d/' * 128 + 'xx', b'5')
)",
                              shellQuote((scratch / "odd.zip").string()));
    ASSERT_EQ(py.exitCode, 0) << py.out;
    ASSERT_TRUE(extractArchive((scratch / "odd.zip").string(), (scratch / "D").string()));
    EXPECT_EQ(fileBytes(scratch / "D" / "a" / "b.txt"), "1");
    EXPECT_EQ(fileBytes(scratch / "D" / "a" / "c.txt"), "2");
    EXPECT_EQ(fileBytes(scratch / "D" / "..."), "3");
    EXPECT_EQ(fileBytes(scratch / "D" / "a b:y.txt"), "4");
    std::string deep;
    for (int i = 0; i < 128; ++i) deep += "d/";
    EXPECT_EQ(fileBytes(scratch / "D" / (deep + "xx")), "5");
}

}  // namespace
}  // namespace krevol
