// Files and folders: every place where the program reads or writes the file system by handle goes
// through here (the copy onto the card, the content file, the archiver, the log upload, the reset
// cache, measuring and removing folders).
//
// Paths are UTF-8 text with "/" between folders. A folder is opened as a handle, and a walk below
// it goes from handle to handle by name: a name is never followed through a symbolic link (a link
// where a folder or file is expected makes that open fail), so a walk never leaves the folder it
// started in. Only a path that the caller hands over whole may lead through links
// (Folder::open, openForReading with LinkRule::Follow).
//
// A file is replaced by writing its new version beside it and renaming that over it
// (ReplacementFile): a copy that breaks off never leaves half a file under the real name.
//
// Reads and writes go on after interruptions by signals. Files are created for their owner to
// read and write and everybody to read, folders for everybody to enter (less the user's mask).
// Linux: file_system_linux.cpp (descriptors with O_CLOEXEC; openat, mkdirat, renameat, unlinkat
// with O_NOFOLLOW); the walks that need no system call of their own are in file_system.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krevol {

enum class EntryKind {
    Missing,     // nothing of that name
    File,        // a regular file
    Folder,      // a folder
    Link,        // a symbolic link (only where links are not followed)
    Other,       // a device, a pipe, a socket
    Unreadable,  // it cannot be looked at (no permission, an input/output error)
};

// Which file an entry is, on which volume: two names of one file have the same identity.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct EntryInfo {
    EntryKind kind = EntryKind::Missing;
    std::int64_t size = 0;       // a file's length in bytes (the system's size for other kinds)
    std::time_t modified = 0;    // last write
    bool ownerMayWrite = false;  // false: read-only for its owner
    FileIdentity identity;
};

// The entry at `path` itself: a link there is reported as a Link, never followed.
EntryInfo entryInfo(const std::string& path);
// What `path` leads to: links are followed.
EntryInfo targetInfo(const std::string& path);

// How an open treats a symbolic link at the path given.
enum class LinkRule { Follow, Refuse };

// An open file (or folder opened for reading), closed with its owner.
class File {
  public:
    File() = default;
    // Takes over a handle of the platform (a descriptor on Linux); the platform files use this.
    explicit File(std::intptr_t nativeHandle) : handle_(nativeHandle) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : handle_(other.release()) {}
    File& operator=(File&& other) noexcept;
    ~File();

    bool valid() const { return handle_ != kNoHandle; }
    std::intptr_t nativeHandle() const { return handle_; }

    // What the open file is (kind Unreadable when that cannot be found out).
    EntryInfo info() const;
    // Reads up to `size` bytes at the file's position: the bytes read, 0 at its end, -1 on an error.
    std::int64_t read(void* into, std::size_t size);
    // The same at `offset`, the position left alone.
    std::int64_t readAt(void* into, std::size_t size, std::uint64_t offset);
    // Writes all `size` bytes at the file's position; false at the first error.
    bool writeAll(const void* data, std::size_t size);
    // Writes all `size` bytes at `offset`: the bytes written, fewer than `size` only after an error.
    std::size_t writeAt(const void* data, std::size_t size, std::uint64_t offset);

    // Hints, without a result: the file will be read from start to end; ...
    void adviseSequential();
    // ... the system's cached copy of the file is dropped, so the next reads come from the device
    // (a read-back check; pages not yet written are kept, so flush first); ...
    void dropCachedPages();
    // ... the file's written data starts on its way to the device now (nothing waits for it).
    void startWriteBack();
    // Writes the file's data to the device and waits for it; false on an error.
    bool flush();
    // Sets the last-write and last-access times.
    bool setTimes(std::time_t time);

    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool close();

  private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t release() {
        const std::intptr_t handle = handle_;
        handle_ = kNoHandle;
        return handle;
    }
    std::intptr_t handle_ = kNoHandle;
};

// Opens the file (or folder) at `path` for reading. A pipe or device never makes the open wait.
File openForReading(const std::string& path, LinkRule links = LinkRule::Follow);
// Creates the file at `path`, or empties the one there, for reading and writing; never through a
// link at `path` (the open fails there).
File openForWriting(const std::string& path);

// An open folder, closed with its owner. Names are single entries of the folder (no "/").
class Folder {
  public:
    Folder() = default;
    explicit Folder(std::intptr_t nativeHandle) : handle_(nativeHandle) {}
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    Folder(Folder&& other) noexcept : handle_(other.release()) {}
    Folder& operator=(Folder&& other) noexcept;
    ~Folder();

    // The folder at `path`, taken as given ("." is the current folder, "" none). A link given
    // here is followed, as every path the caller gives is.
    static Folder open(const std::string& path);
    // The same, except that a link named by the last segment of `path` is refused (a path ending
    // in "/" names what is inside that segment, so a link there is followed).
    static Folder openNoLink(const std::string& path);

    bool valid() const { return handle_ != kNoHandle; }
    std::intptr_t nativeHandle() const { return handle_; }

    // The folder `name` inside this one, never through a link.
    Folder sub(const std::string& name) const;
    // The same, made when missing; a link of that name is removed (not what it points to) and a
    // real folder made in its place.
    Folder subMade(const std::string& name) const;
    // The names of the folder's entries except "." and "..", in the order the system lists them,
    // added to `names`; false when the folder cannot be read to its end.
    bool list(std::vector<std::string>& names) const;
    // The entry `name` itself (a link is a Link).
    EntryInfo entryInfo(const std::string& name) const;
    // Makes the folder `name`; false when it cannot be made (something of that name exists).
    bool makeFolder(const std::string& name) const;
    // Opens the file `name` for reading, never through a link; a pipe never makes the open wait.
    File openFile(const std::string& name) const;
    // Opens the regular file at `relative` ("a/b/c.txt") below this folder for reading, walking
    // every folder without following a link; "", "." and ".." segments are refused.
    File openFileBelow(const std::string& relative) const;
    // Creates the new file `name` for writing; fails when anything of that name exists (then
    // `nameTaken`, when given, is set).
    File createFile(const std::string& name, bool* nameTaken = nullptr) const;
    // Removes the file or link `name` (never a folder); true when no entry of that name is left.
    bool removeEntry(const std::string& name) const;
    // Removes the empty folder `name`.
    bool removeFolder(const std::string& name) const;
    // Renames `from` to `to` inside this folder, replacing a file `to`.
    bool rename(const std::string& from, const std::string& to) const;
    // Writes the folder's own entries (a rename in it) to the device; false when that fails or the
    // file system cannot do it.
    bool flush() const;
    // Writes everything the file system holding this folder has cached to the device (one call
    // for many files); false when the flush reported an error.
    bool flushVolume() const;

  private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t release() {
        const std::intptr_t handle = handle_;
        handle_ = kNoHandle;
        return handle;
    }
    std::intptr_t handle_ = kNoHandle;
};

// A new version of a file, written under a temporary name beside it and renamed over it once
// complete. Until commit() the file of the real name is untouched; a ReplacementFile destroyed or
// discarded without a commit removes its temporary file.
class ReplacementFile {
  public:
    // Creates a fresh temporary file in `folder` (which must outlive this object), named `prefix`,
    // this process's id, a number of this process and ".tmp"; another number is tried when the
    // name is taken. Not valid() when it cannot be created.
    ReplacementFile(const Folder& folder, std::string_view prefix);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    bool valid() const { return pending_; }
    File& file() { return file_; }
    const std::string& temporaryName() const { return temporary_; }

    // Closes the file (when still open) and renames it over `name`. False when the close or the
    // rename failed: the temporary file is then removed and `name` is as it was.
    bool commit(const std::string& name);
    // Closes the file and removes it.
    void discard();

  private:
    const Folder& folder_;
    std::string temporary_;
    File file_;
    bool pending_ = false;
};

// Moves a file's bytes from one open file to another block by block: inside the system where
// both file systems allow it (no detour through this program's memory), otherwise through a buffer.
class FileCopier {
  public:
    explicit FileCopier(std::size_t blockSize);
    ~FileCopier();
    FileCopier(const FileCopier&) = delete;
    FileCopier& operator=(const FileCopier&) = delete;

    // Moves up to one block from `from`'s position to `to`'s: the bytes moved, 0 at the end of
    // `from`, -1 on an error. `fileStart`: nothing of this file was moved yet.
    std::int64_t copyBlock(File& from, File& to, bool fileStart);

  private:
    std::unique_ptr<char[]> buffer_;
    std::size_t blockSize_;
    bool inSystem_ = true;  // until the file systems refuse it once
};

// Makes the folder `path` (one level); false when it cannot be made (something of that name exists).
bool makeFolder(const std::string& path);
// Removes the file or link at `path` (never a folder); true when nothing is left at `path`.
bool removeFile(const std::string& path);
// Removes what is at `path`: a folder with everything below it, a file, or a link (as a link).
// Links inside are removed as links, never followed, so nothing outside the tree is touched. Goes
// on after an entry that cannot be removed; true when nothing is left at `path`.
bool removeTree(const std::string& path);

}  // namespace krevol
