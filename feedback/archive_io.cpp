#include "feedback/archive_io.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace krevol::archive_detail {

namespace {

constexpr std::size_t kHeaderCacheSize = 16 * 1024;

voidpf ZCALLBACK zipFileOpen(voidpf, const void* file, int) {
    return const_cast<void*>(file);  // the file is opened by us; minizip gets our ZipFile
}

uLong ZCALLBACK zipFileRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* f = static_cast<ZipFile*>(stream);
    char* out = static_cast<char*>(buf);
    uLong done = 0;
    while (done < size && f->pos < f->end) {
        ZipFile::Slot* hit = nullptr;
        for (ZipFile::Slot& slot : f->slots)
            if (f->pos >= slot.start && f->pos < slot.start + slot.length) hit = &slot;
        if (hit != nullptr) {
            const std::size_t offset = static_cast<std::size_t>(f->pos - hit->start);
            const std::size_t n = std::min<std::size_t>(hit->length - offset, size - done);
            std::memcpy(out + done, hit->bytes.data() + offset, n);
            hit->used = ++f->clock;
            done += n;
            f->pos += n;
            continue;
        }
        ZipFile::Slot& slot = f->slots[0].used <= f->slots[1].used ? f->slots[0] : f->slots[1];
        if (slot.bytes.empty()) slot.bytes.resize(kHeaderCacheSize);
        const std::int64_t n = f->file.readAt(slot.bytes.data(), slot.bytes.size(), f->pos);
        slot.start = f->pos;
        slot.length = n > 0 ? static_cast<std::size_t>(n) : 0;
        slot.used = ++f->clock;
        if (n < 0) f->failed = true;
        if (n == 0) f->end = f->pos;
        if (n <= 0) break;
    }
    return done;
}

uLong ZCALLBACK zipFileWrite(voidpf, voidpf stream, const void* buf, uLong size) {
    auto* f = static_cast<ZipFile*>(stream);
    const std::size_t done = f->file.writeAt(buf, size, f->pos);
    if (done < size) f->failed = true;
    f->pos += done;
    for (ZipFile::Slot& slot : f->slots) slot.length = 0;
    f->end = UINT64_MAX;
    return static_cast<uLong>(done);
}

ZPOS64_T ZCALLBACK zipFileTell(voidpf, voidpf stream) {
    return static_cast<ZipFile*>(stream)->pos;
}

long ZCALLBACK zipFileSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* f = static_cast<ZipFile*>(stream);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        base = f->pos;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        const EntryInfo info = f->file.info();
        if (info.kind == EntryKind::Unreadable) return -1;
        base = static_cast<std::uint64_t>(info.size);
    } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
        return -1;
    }
    f->pos = base + offset;
    return 0;
}

int ZCALLBACK zipFileClose(voidpf, voidpf) {
    return 0;  // the file is closed by its owner
}

int ZCALLBACK zipFileError(voidpf, voidpf stream) {
    return static_cast<ZipFile*>(stream)->failed ? 1 : 0;
}

}  // namespace

zlib_filefunc64_def zipFileFunctions() {
    zlib_filefunc64_def def{};
    def.zopen64_file = &zipFileOpen;
    def.zread_file = &zipFileRead;
    def.zwrite_file = &zipFileWrite;
    def.ztell64_file = &zipFileTell;
    def.zseek64_file = &zipFileSeek;
    def.zclose_file = &zipFileClose;
    def.zerror_file = &zipFileError;
    def.opaque = nullptr;
    return def;
}

bool stopRequested(const std::atomic<int>* flag) {
    return flag != nullptr && flag->load(std::memory_order_relaxed) != 0;
}

// ---- Times --------------------------------------------------------------------------------------

std::uint32_t dosDateTime(std::time_t t) {
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr) return (1u << 21) | (1u << 16);  // 1980-01-01
    int year = local.tm_year + 1900;
    if (year < 1980) return (1u << 21) | (1u << 16);
    if (year > 2107) year = 2107;
    const auto date =
        static_cast<std::uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    const auto time =
        static_cast<std::uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return (date << 16) | time;
}

std::time_t timeFromDos(std::uint32_t dos) {
    struct tm local {};
    local.tm_year = static_cast<int>((dos >> 25) & 0x7f) + 80;
    local.tm_mon = static_cast<int>((dos >> 21) & 0x0f) - 1;
    local.tm_mday = static_cast<int>((dos >> 16) & 0x1f);
    local.tm_hour = static_cast<int>((dos >> 11) & 0x1f);
    local.tm_min = static_cast<int>((dos >> 5) & 0x3f);
    local.tm_sec = static_cast<int>((dos & 0x1f) * 2);
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// ---- Names --------------------------------------------------------------------------------------

bool isValidUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (i + len > n) return false;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (std::size_t k = 2; k < len; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        i += len;
    }
    return true;
}

bool decodeCp936(const std::string& raw, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(raw.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(raw.data());
    std::size_t inLeft = raw.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    out.resize(out.size() - outLeft);
    return isValidUtf8(out);
}

// Decodes a raw entry name and splits it into checked segments. False for a refused name.
// `isFolder` is set when the name ends with a separator.
bool entryPath(const std::string& raw, unsigned long flags, std::vector<std::string>& segments,
               bool& isFolder) {
    segments.clear();
    if (raw.empty() || raw.size() >= kMaxNameBytes) return false;
    if (raw.find('\0') != std::string::npos) return false;
    std::string name;
    if (isValidUtf8(raw)) {
        name = raw;
    } else if ((flags & kFlagUtf8) != 0 || !decodeCp936(raw, name)) {
        return false;
    }
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) return false;
    }
    if (name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])) != 0)
        return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\') continue;
        std::string segment = name.substr(start, i - start);
        start = i + 1;
        if (segment.empty() || segment == ".") continue;
        if (segment == "..") return false;
        segments.push_back(std::move(segment));
    }
    isFolder = name.back() == '/' || name.back() == '\\';
    return !segments.empty() || isFolder;
}

std::string joinSegments(const std::vector<std::string>& segments, std::size_t count) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) s += '/';
        s += segments[i];
    }
    return s;
}

}  // namespace krevol::archive_detail
