// The copy and the read-back walk folder handles (app/file_system.h), never through a link; a file
// is written beside its target and renamed into place (ReplacementFile).
#include "upgrade/copy_tree.h"

#include <zlib.h>

#include <memory>
#include <string_view>

#include "app/file_system.h"

namespace krevol {

namespace {

std::string joined(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "/" + name;
}

struct CopyJob {
    CopyCounters& counters;
    const std::atomic<int>& stop;
    std::vector<CopiedFile>* copied;
    FileCopier copier{kCopyBlockSize};
};

// Moves the bytes of `in` to `out` in blocks; false on an error or a stop.
bool copyBytes(CopyJob& job, File& in, File& out, std::int64_t& transferred) {
    const std::int64_t completed = job.counters.completedBytes.load();
    for (;;) {
        if (job.stop.load() != 0) return false;
        const std::int64_t n = job.copier.copyBlock(in, out, transferred == 0);
        if (n < 0) return false;
        if (n == 0) return true;
        transferred += n;
        job.counters.copiedBytes.store(completed + transferred);
    }
}

// Copies the regular file `name` of `from` into `to` under a temporary name, then renames it.
bool copyFile(CopyJob& job, const Folder& from, const Folder& to, const std::string& name,
              const std::string& relative) {
    File in = from.openFile(name);
    if (!in.valid() || in.info().kind != EntryKind::File) return false;
    in.adviseSequential();

    ReplacementFile out(to, kTemporaryPrefix);
    if (!out.valid()) return false;
    std::int64_t transferred = 0;
    bool ok = copyBytes(job, in, out.file(), transferred);
    // Start writing the file to the device now (asynchronous, nothing waits here), so the item's
    // one flush at the end has little left to do and a slow card is written while we copy on.
    if (ok) out.file().startWriteBack();
    ok = out.file().close() && ok;
    ok = ok && job.stop.load() == 0;
    ok = ok && out.commit(name);
    if (!ok) {
        out.discard();
        return false;
    }
    const std::int64_t completed = job.counters.completedBytes.load() + transferred;
    job.counters.completedBytes.store(completed);
    job.counters.copiedBytes.store(completed);
    if (job.copied != nullptr) job.copied->push_back({relative, transferred});
    return true;
}

bool copyFolder(CopyJob& job, const Folder& from, const Folder& to, const std::string& relative) {
    std::vector<std::string> names;
    if (!from.list(names)) return false;
    for (const std::string& name : names) {
        if (job.stop.load() != 0) return false;
        const EntryKind kind = from.entryInfo(name).kind;
        const std::string path = joined(relative, name);
        if (kind == EntryKind::Folder) {
            // An existing folder is fine; anything else in its place makes the open below fail.
            (void)to.makeFolder(name);
            const Folder sourceFolder = from.sub(name);
            const Folder targetFolder = to.sub(name);
            if (!sourceFolder.valid() || !targetFolder.valid()) return false;
            if (!copyFolder(job, sourceFolder, targetFolder, path)) return false;
        } else if (kind == EntryKind::File) {
            if (!copyFile(job, from, to, name, path)) return false;
        } else {
            return false;  // a link, a device or a pipe never reaches the card
        }
    }
    return true;
}

}  // namespace

bool copyTree(const std::string& source, const std::string& destination, CopyCounters& counters,
              const std::atomic<int>& stop, std::vector<CopiedFile>* copied) {
    const Folder from = Folder::open(source);
    const Folder to = Folder::open(destination);
    if (!from.valid() || !to.valid()) return false;
    CopyJob job{counters, stop, copied};
    return copyFolder(job, from, to, std::string());
}

bool flushCard(const std::string& folder) {
    const Folder opened = Folder::open(folder);
    return opened.valid() && opened.flushVolume();
}

ReadBackResult readBackFiles(const std::string& root, const std::vector<ExpectedFile>& files,
                             std::atomic<std::int64_t>& checkedBytes, const std::atomic<int>& stop) {
    const Folder rootFolder = Folder::open(root);
    if (!rootFolder.valid()) return ReadBackResult::Mismatch;
    const auto block = std::make_unique<unsigned char[]>(kCopyBlockSize);
    for (const ExpectedFile& expected : files) {
        if (stop.load() != 0) return ReadBackResult::Stopped;
        File file = rootFolder.openFileBelow(expected.relativePath);
        if (!file.valid() || file.info().kind != EntryKind::File) return ReadBackResult::Mismatch;
        // The pages are clean after the flush, so this drops them: the reads go to the card.
        file.dropCachedPages();
        uLong crc = ::crc32_z(0L, Z_NULL, 0);
        for (;;) {
            if (stop.load() != 0) return ReadBackResult::Stopped;
            const std::int64_t n = file.read(block.get(), kCopyBlockSize);
            if (n < 0) return ReadBackResult::Mismatch;
            if (n == 0) break;
            crc = ::crc32_z(crc, block.get(), static_cast<z_size_t>(n));
            checkedBytes.fetch_add(n);
        }
        // Reading it back filled the cache again; those pages are not needed any more.
        file.dropCachedPages();
        if (static_cast<std::uint32_t>(crc) != expected.crc32) return ReadBackResult::Mismatch;
    }
    return ReadBackResult::Same;
}

bool isCopyTemporaryName(const std::string& name) {
    const std::string_view n(name);
    return n.starts_with(kTemporaryPrefix) && n.ends_with(".tmp");
}

}  // namespace krevol
