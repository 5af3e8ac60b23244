// The reset cache: before the tool's card is formatted, every package the catalogue lists for the
// tool is downloaded into a folder beside the program's other working folders and checked, so that
// a format never wipes a card without a way back. The reinstall takes its packages from there
// (checked again) and downloads only what is missing or damaged; the cache is removed when the
// reinstall has finished.
//
// Layout: <folder>/<item key>/<package file> and <folder>/<item key>/package.ok, where the key is
// made of the item's id (letters, digits, '-' and '_' kept, every other byte as %XX) and package.ok
// records the package's address, file name and size once the package passed its checks. A package
// counts as sound when its size equals the Content-Length it was downloaded with and every entry of
// the archive unpacks with a matching CRC-32 (unpacked into <folder>.check/, which is removed
// again). A package whose address changed (a newer version) is downloaded again.
//
// Plain C++, blocking; one cache folder is used by one thread at a time. Downloads follow
// runStopFlag like every download. Nothing is shown here except what downloadFile itself shows
// (the transport failure box, result 5).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "upgrade/install_run.h"
#include "upgrade/software_item.h"

namespace krevol {

// Results beyond the transport's (200 and 1-8, 77).
constexpr int kCacheLengthMismatch = 90;              // the file's size differs from its Content-Length
constexpr int kCacheDamaged = kSourcePackageDamaged;  // the archive does not unpack cleanly
constexpr int kCacheNoCatalogue = 92;                 // the catalogue could not be loaded
constexpr int kCacheEmptyCatalogue = 93;              // the server lists no software for the tool
constexpr int kCacheNoAddress = 94;                   // an item without a download address

struct CacheFillReport {
    int result = 200;            // 200, a transport result or one of the kCache... values
    std::string failedItem;      // name of the item that failed ("" when none)
    std::size_t packages = 0;    // packages in the cache and sound
    std::size_t downloaded = 0;  // of them, downloaded by this call
    std::uint64_t bytes = 0;     // their bytes
};

// A package source for the install run (InstallRunSettings::packageSource): packageFor.
class ResetCache : public PackageSource {
  public:
    // `folder`: the cache folder (a trailing "/" is added when missing).
    explicit ResetCache(std::string folder = defaultFolder());
    // workingFolder() + "/KrevolCache/" (beside the program, or in the user's cache folder when the
    // program's folder is not writable).
    static std::string defaultFolder();
    const std::string& folder() const { return folder_; }

    // Makes sure every item's package is in the cache and sound: kept packages are checked again,
    // missing or damaged ones downloaded. Stops at the first failure. True when all are there.
    bool fill(const std::vector<SoftwareItem>& items, CacheFillReport* report = nullptr);
    // The path of the item's cached package after checking it again; "" when it is missing, was
    // fetched from another address, or is damaged (a damaged one is deleted), and also when a stop
    // (runStopFlag) ended the check (the package is then kept).
    std::string cachedPackage(const SoftwareItem& item);
    // The reinstall's call: cachedPackage, else the package downloaded into the cache and checked.
    // "" on failure, with the reason in `result` (optional; 200 on success). A check ended by a
    // stop gives result 8 and leaves the cached package alone; so does fill.
    std::string packageFor(const SoftwareItem& item, int* result = nullptr);
    // The same for the install run: a download stores its Content-Length in `length`, is followed
    // by `counter` and stores the status of the package's answer in `httpStatus` (0 when none). The
    // cache's own failures come as the run's results: a length mismatch as 8, a missing address
    // as 1, a damaged package as kSourcePackageDamaged.
    std::string packageFor(const SoftwareItem& item, std::atomic<std::int64_t>& length,
                           DownloadCounter& counter, int& result, long& httpStatus) override;
    // Deletes the cache folder with everything in it.
    bool remove();
    // The folder of one item, exposed for tests.
    std::string itemFolder(const SoftwareItem& item) const;

  private:
    // cachedPackage, telling a check ended by a stop (`stopped`) from a missing or bad package.
    std::string checkedPackage(const SoftwareItem& item, bool& stopped);
    // packageFor's work: the checked package, else a download unless the check was stopped.
    std::string packageOrDownload(const SoftwareItem& item, int& result, long* httpStatus = nullptr,
                                  std::atomic<std::int64_t>* length = nullptr,
                                  DownloadCounter* counter = nullptr);
    int download(const SoftwareItem& item, std::string& path, std::uint64_t& size,
                 std::atomic<std::int64_t>* length = nullptr, long* httpStatus = nullptr,
                 DownloadCounter* counter = nullptr);
    bool checkArchive(const std::string& path, bool* stopped = nullptr);
    std::string folder_;
};

// Loads the tool's catalogue (fetchCatalogue, which shows its own messages) and fills the cache
// with every listed package. False when the catalogue cannot be loaded or is empty, or a package
// cannot be cached: the card must then not be formatted. `catalogue` (optional) receives the list.
bool fillResetCache(const std::string& userId, const std::string& token, const std::string& serial,
                    ResetCache& cache, std::vector<SoftwareItem>* catalogue = nullptr,
                    CacheFillReport* report = nullptr);

// The format's answer to a cache fill (FormatRequest::prepare): 0 when every package is cached,
// 435 when the server lists nothing for the tool, 434 otherwise.
int formatRefusalOfCache(const CacheFillReport& report);

}  // namespace krevol
