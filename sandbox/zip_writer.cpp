#include "sandbox/zip_writer.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

namespace krevol::sandbox {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlock = 64 * 1024;
constexpr uLong kUnixHost = 3 << 8;  // "version made by": Unix, so the permissions are read
constexpr uLong kZipVersion = 20;

struct Entry {
    std::string name;  // relative, "/"-separated, folders end in "/"
    fs::path path;
    bool folder = false;
};

bool collect(const fs::path& root, std::vector<Entry>& out, std::string& error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    if (ec) {
        error = "cannot read " + root.string() + ": " + ec.message();
        return false;
    }
    for (; it != end; it.increment(ec)) {
        if (ec) {
            error = "cannot read " + root.string() + ": " + ec.message();
            return false;
        }
        const fs::path rel = it->path().lexically_relative(root);
        std::string name = rel.generic_string();
        if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos) continue;
        const bool folder = it->is_directory(ec);
        if (!folder && !it->is_regular_file(ec)) continue;  // links, devices: not packed
        if (folder) name += '/';
        out.push_back(Entry{std::move(name), it->path(), folder});
    }
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

struct ZipCloser {
    void operator()(void* z) const { zipClose(static_cast<zipFile>(z), nullptr); }
};
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool zipFolder(const fs::path& folder, const fs::path& archive, std::string& error) {
    std::vector<Entry> entries;
    if (!collect(folder, entries, error)) return false;
    std::unique_ptr<void, ZipCloser> zip(zipOpen64(archive.string().c_str(), APPEND_STATUS_CREATE));
    if (!zip) {
        error = "cannot create " + archive.string();
        return false;
    }
    std::vector<char> buffer(kBlock);
    for (const Entry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = 2024;
        info.tmz_date.tm_mon = 5;  // June (0-based)
        info.tmz_date.tm_mday = 1;
        info.tmz_date.tm_hour = 12;
        std::error_code ec;
        const auto perms = static_cast<uLong>(fs::status(e.path, ec).permissions() & fs::perms::mask);
        const uLong type = e.folder ? 0040000u : 0100000u;
        info.external_fa = ((type | perms) << 16) | (e.folder ? 0x10u : 0u);
        const std::uintmax_t size = e.folder ? 0 : fs::file_size(e.path, ec);
        const int zip64 = size >= 0xffffffffu ? 1 : 0;
        if (zipOpenNewFileInZip4_64(zip.get(), e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                    e.folder ? 0 : Z_DEFLATED, e.folder ? 0 : 9, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, kUnixHost | kZipVersion, 0,
                                    zip64) != ZIP_OK) {
            error = "cannot add " + e.name;
            return false;
        }
        bool ok = true;
        if (!e.folder) {
            std::unique_ptr<std::FILE, FileCloser> in(std::fopen(e.path.string().c_str(), "rb"));
            if (!in) {
                error = "cannot read " + e.path.string();
                ok = false;
            }
            while (ok) {
                const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
                if (n > 0 &&
                    zipWriteInFileInZip(zip.get(), buffer.data(), static_cast<unsigned>(n)) != ZIP_OK) {
                    error = "cannot write " + e.name;
                    ok = false;
                }
                if (n < buffer.size()) {
                    if (std::ferror(in.get())) {
                        error = "cannot read " + e.path.string();
                        ok = false;
                    }
                    break;
                }
            }
        }
        if (zipCloseFileInZip(zip.get()) != ZIP_OK && ok) {
            error = "cannot finish " + e.name;
            ok = false;
        }
        if (!ok) return false;
    }
    if (zipClose(zip.release(), nullptr) != ZIP_OK) {
        error = "cannot finish " + archive.string();
        return false;
    }
    return true;
}

}  // namespace krevol::sandbox
