// The sandbox's state in one SQLite file: accounts, sign-in tokens, verification codes, tools and
// their owners, each tool's catalogue and content bytes, uploaded log archives and the suite package.
//
// Every operation takes the store's lock and runs in one transaction, so a failure leaves the file
// as it was. Operations answer a status code of api_status.h; a database failure is kServerError.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sandbox/sqlite_db.h"

namespace krevol::sandbox {

struct CatalogueEntry {
    std::int64_t id = 0;
    std::string serial;
    int position = 0;
    std::string name;         // param1
    std::string installed;    // param3; "0.00" = nothing installed
    std::string latest;       // param4
    std::string packageFile;  // file name under packages/
    int isrom = 0;
    std::string param5;
    std::string description;  // updatedesc
};

struct DeviceEntry {
    std::string serial;
    std::string name;
    std::string model;
    std::string ownerEmail;  // empty: no owner
    std::int64_t createdMs = 0;
    std::string content;  // bytes of the tool's obdtool/sys/dev
};

struct SeedAccount {
    std::string email;
    std::string password;
};

struct SuitePackage {
    std::string phoneType;
    std::string version;
    std::string packageFile;
};

struct SeedData {
    std::vector<SeedAccount> accounts;
    std::vector<DeviceEntry> devices;
    std::vector<CatalogueEntry> catalogue;  // id 0 = numbered by the database
    std::vector<SuitePackage> suites;
};

struct SignIn {
    std::int64_t userId = 0;
    std::string email;
    std::string token;
};

struct OwnerInfo {
    std::string model;
    std::string ownerEmail;
};

class SandboxStore {
  public:
    SandboxStore() = default;
    SandboxStore(const SandboxStore&) = delete;
    SandboxStore& operator=(const SandboxStore&) = delete;

    // Opens (creating when missing) the database file and its tables. `durable` false skips the
    // disk syncs (for seeding a fresh file, which is simply seeded again after a crash).
    bool open(const std::string& path, std::string& error, bool durable = true);
    // Replaces every table's content by `data`.
    bool seed(const SeedData& data, std::string& error);

    enum class CodePurpose { SignUp, Reset };

    int login(const std::string& email, const std::string& password, SignIn& out);
    int sendCode(const std::string& email, CodePurpose purpose, std::int64_t ttlMs, std::string& code);
    int checkCode(const std::string& email, const std::string& code);
    int setPassword(const std::string& email, const std::string& password);
    int resetPassword(const std::string& email, const std::string& password);
    // userId, token and id as the body carried them (bare texts).
    int updateUser(const std::string& userId, const std::string& token, const std::string& id,
                   const std::string& email, const std::string& oldPassword, const std::string& newPassword);

    // The account that a user id and token belong to.
    int authorise(const std::string& userId, const std::string& token, std::int64_t& accountId);
    int catalogue(std::int64_t accountId, const std::string& serial, std::vector<CatalogueEntry>& out);
    int reportVersion(std::int64_t accountId, const std::string& serial, const std::string& entryId,
                      const std::string& flag, const std::string& version);
    int owner(const std::string& serial, OwnerInfo& out);
    int devicesOf(std::int64_t accountId, std::vector<DeviceEntry>& out);
    int content(const std::string& serial, std::string& bytes);
    int suite(const std::string& phoneType, SuitePackage& out);
    int recordUpload(const std::string& serial, const std::string& fileName, const std::string& storedPath,
                     std::int64_t size);
    std::int64_t uploadCount(const std::string& serial);

    // The database's text for the last kServerError.
    std::string lastError();

  private:
    struct Account;

    int fail();                 // notes the database's error and answers kServerError
    int fail(bool hashFailed);  // the same, or notes that no password hash could be made
    // Stores a fresh salt and hash of `password` for the account (kOk or kServerError).
    int storeNewPassword(std::int64_t accountId, const std::string& password);
    // Runs `work(transaction)` under the store's lock in one transaction (kServerError when it
    // cannot begin); `work` commits what it keeps.
    template <typename Work>
    int transaction(Work&& work);
    // Lookups for the operations above, which hold the lock; kServerError when the database fails.
    int findAccount(const std::string& email, Account& account);
    int checkVerified(const std::string& email);
    int checkOwner(const std::string& serial, std::int64_t accountId);

    std::mutex mutex_;
    SqliteDb db_;
    std::string lastError_;
};

// Milliseconds since 1970 (UTC).
std::int64_t nowMs();
// `n` random bytes as lower-case hex digits.
std::string randomHex(std::size_t n);

}  // namespace krevol::sandbox
