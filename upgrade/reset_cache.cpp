// The reset cache (see upgrade/reset_cache.h).
#include "upgrade/reset_cache.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/file_system.h"
#include "app/folders.h"
#include "app/stop_flag.h"
#include "device/format.h"
#include "feedback/archiver.h"
#include "net/transport.h"
#include "upgrade/catalogue.h"

namespace fs = std::filesystem;

namespace krevol {

namespace {

constexpr const char* kRecordName = "package.ok";

struct Record {
    std::string url;
    std::string fileName;
    std::uint64_t size = 0;
};

bool readRecord(const std::string& path, Record& record) {
    std::ifstream in(path, std::ios::binary);
    std::string sizeText;
    if (!in || !std::getline(in, record.url) || !std::getline(in, record.fileName) ||
        !std::getline(in, sizeText))
        return false;
    char* end = nullptr;
    record.size = std::strtoull(sizeText.c_str(), &end, 10);
    return end != sizeText.c_str() && *end == '\0' && !record.fileName.empty() &&
           record.fileName.find('/') == std::string::npos && record.fileName != "." &&
           record.fileName != "..";
}

bool writeRecord(const std::string& path, const Record& record) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << record.url << '\n' << record.fileName << '\n' << record.size << '\n';
    out.flush();
    return static_cast<bool>(out);
}

std::uint64_t sizeOf(const std::string& path) {
    const EntryInfo info = entryInfo(path);
    return info.kind == EntryKind::File ? static_cast<std::uint64_t>(info.size) : UINT64_MAX;
}

}  // namespace

ResetCache::ResetCache(std::string folder) : folder_(std::move(folder)) {
    if (folder_.empty() || folder_.back() != '/') folder_ += '/';
}

std::string ResetCache::defaultFolder() {
    return workingFolder() + "/KrevolCache/";
}

std::string ResetCache::itemFolder(const SoftwareItem& item) const {
    std::string key;
    for (const unsigned char c : item.id) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_') {
            key.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            key += hex;
        }
    }
    if (key.empty()) key = "%";
    return folder_ + key + "/";
}

bool ResetCache::checkArchive(const std::string& path, bool* stopped) {
    std::string scratch = folder_;
    scratch.pop_back();
    scratch += ".check/";
    deleteFolder(scratch);
    ExtractOptions options;
    ArchiveError error = ArchiveError::None;
    options.error = &error;
    const bool sound = extractArchive(path, scratch, options);
    deleteFolder(scratch);
    // A stop (runStopFlag) ends the check without a verdict on the package.
    if (stopped != nullptr) *stopped = error == ArchiveError::Stopped;
    return sound;
}

std::string ResetCache::cachedPackage(const SoftwareItem& item) {
    bool stopped = false;
    return checkedPackage(item, stopped);
}

std::string ResetCache::checkedPackage(const SoftwareItem& item, bool& stopped) {
    stopped = false;
    const std::string folder = itemFolder(item);
    Record record;
    if (!readRecord(folder + kRecordName, record)) return {};
    const std::string path = folder + record.fileName;
    if (record.url != item.softurl || sizeOf(path) != record.size || !checkArchive(path, &stopped)) {
        if (!stopped) deleteFolder(folder);  // a stopped check says nothing against the package
        return {};
    }
    return path;
}

std::string ResetCache::packageOrDownload(const SoftwareItem& item, int& result, long* httpStatus,
                                          std::atomic<std::int64_t>* length, DownloadCounter* counter) {
    result = kResultOk;
    bool stopped = false;
    std::string path = checkedPackage(item, stopped);
    if (stopped) {
        // A stop ended the check: the package may well be sound, so it is neither deleted nor
        // downloaded again (the download would begin by deleting it).
        result = kResultWriteOrStop;
        return {};
    }
    if (path.empty()) {
        std::uint64_t size = 0;
        result = download(item, path, size, length, httpStatus, counter);
        if (result != kResultOk) path.clear();
    }
    return path;
}

int ResetCache::download(const SoftwareItem& item, std::string& path, std::uint64_t& size,
                         std::atomic<std::int64_t>* reportedLength, long* httpStatus,
                         DownloadCounter* counter) {
    const std::string folder = itemFolder(item);
    deleteFolder(folder);
    if (item.softurl.empty()) return kCacheNoAddress;
    std::error_code ec;
    fs::create_directories(folder_, ec);  // the download creates the item's own folder
    if (ec) return kResultFolder;
    path = folder;
    std::string lengthText;
    std::atomic<std::int64_t> ownLength{0};
    std::atomic<std::int64_t>& length = reportedLength != nullptr ? *reportedLength : ownLength;
    const int result = downloadFile(item.softurl, path, lengthText, length, httpStatus, counter);
    if (result != kResultOk) {
        deleteFolder(folder);
        return result;
    }
    size = sizeOf(path);
    if (length.load() <= 0 || size != static_cast<std::uint64_t>(length.load())) {
        deleteFolder(folder);
        return kCacheLengthMismatch;
    }
    bool stopped = false;
    if (!checkArchive(path, &stopped)) {
        deleteFolder(folder);
        return stopped ? kResultWriteOrStop : kCacheDamaged;
    }
    if (!writeRecord(folder + kRecordName, {item.softurl, fs::path(path).filename().string(), size})) {
        deleteFolder(folder);
        return kResultFile;
    }
    return kResultOk;
}

std::string ResetCache::packageFor(const SoftwareItem& item, int* result) {
    int outcome = kResultOk;
    std::string path = packageOrDownload(item, outcome);
    if (result != nullptr) *result = outcome;
    return path;
}

std::string ResetCache::packageFor(const SoftwareItem& item, std::atomic<std::int64_t>& length,
                                   DownloadCounter& counter, int& result, long& httpStatus) {
    httpStatus = 0;
    std::string path = packageOrDownload(item, result, &httpStatus, &length, &counter);
    // The run knows the transport's results; the cache's own get the run's texts for the same
    // failure of a download: a file on disk that is not what was received is a write failure, a
    // missing address one that cannot be split, and a package that does not unpack is damaged.
    if (result == kCacheLengthMismatch) result = kResultWriteOrStop;
    if (result == kCacheNoAddress) result = kResultBadUrl;
    return path;
}

bool ResetCache::fill(const std::vector<SoftwareItem>& items, CacheFillReport* report) {
    CacheFillReport local;
    CacheFillReport& r = report != nullptr ? *report : local;
    r = CacheFillReport{};
    for (const SoftwareItem& item : items) {
        bool stopped = false;
        std::string path = checkedPackage(item, stopped);
        int result = stopped ? kResultWriteOrStop : kResultOk;
        if (path.empty() && !stopped) {
            std::uint64_t size = 0;
            result = download(item, path, size);
            if (result == kResultOk) ++r.downloaded;
        }
        if (result != kResultOk) {
            r.result = result;
            r.failedItem = item.param1;
            return false;
        }
        ++r.packages;
        r.bytes += sizeOf(path);
    }
    return true;
}

bool ResetCache::remove() {
    std::string folder = folder_;
    return deleteFolder(folder);
}

bool fillResetCache(const std::string& userId, const std::string& token, const std::string& serial,
                    ResetCache& cache, std::vector<SoftwareItem>* catalogue, CacheFillReport* report) {
    std::vector<SoftwareItem> items;
    CallTrace trace;
    const bool loaded = fetchCatalogue(userId, token, serial, items, {}, &trace);
    if (catalogue != nullptr) *catalogue = items;
    if (!loaded || items.empty()) {
        if (report != nullptr) {
            *report = CacheFillReport{};
            // Answered without an error and without entries: the server lists nothing for the tool.
            const bool listedNothing = trace.result == kResultOk && trace.messageId == 0 && items.empty();
            report->result = listedNothing ? kCacheEmptyCatalogue : kCacheNoCatalogue;
        }
        return false;
    }
    return cache.fill(items, report);
}

int formatRefusalOfCache(const CacheFillReport& report) {
    if (report.result == kResultOk) return 0;
    return report.result == kCacheEmptyCatalogue ? kFormatNothingListed : kFormatNoCache;
}

}  // namespace krevol
