#include "sandbox/sandbox_store.h"

#include <charconv>
#include <chrono>
#include <random>

#include <openssl/rand.h>

#include "sandbox/api_status.h"
#include "sandbox/password_hash.h"

namespace krevol::sandbox {
namespace {

constexpr std::int64_t kVerifiedForMs = 15 * 60 * 1000;  // a checked code may be used this long
constexpr int kMaxCodeFailures = 5;                      // wrong guesses before a code is void
constexpr std::size_t kMaxPasswordLength = 128;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE, salt TEXT NOT NULL, pwhash TEXT NOT NULL,
  created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sessions(
  token TEXT PRIMARY KEY, account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
  created_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS codes(
  email TEXT PRIMARY KEY, code TEXT NOT NULL, purpose TEXT NOT NULL, expires_ms INTEGER NOT NULL,
  verified_until_ms INTEGER NOT NULL DEFAULT 0, failures INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS devices(
  sn TEXT PRIMARY KEY, name TEXT NOT NULL, model TEXT NOT NULL,
  owner_id INTEGER REFERENCES accounts(id) ON DELETE SET NULL, created_ms INTEGER NOT NULL,
  content BLOB NOT NULL DEFAULT x'');
CREATE TABLE IF NOT EXISTS catalogue(
  id INTEGER PRIMARY KEY, sn TEXT NOT NULL REFERENCES devices(sn) ON DELETE CASCADE,
  position INTEGER NOT NULL, name TEXT NOT NULL, installed TEXT NOT NULL, latest TEXT NOT NULL,
  package TEXT NOT NULL, isrom INTEGER NOT NULL, param5 TEXT NOT NULL, description TEXT NOT NULL,
  reported_ms INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS uploads(
  id INTEGER PRIMARY KEY, sn TEXT NOT NULL, file_name TEXT NOT NULL, stored_path TEXT NOT NULL,
  size INTEGER NOT NULL, received_ms INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS suite(
  phone_type TEXT PRIMARY KEY, version TEXT NOT NULL, package TEXT NOT NULL);
)sql";

constexpr const char* kHashFailure = "no password hash could be made (random bytes or PBKDF2 failed)";

// The user id as a number; the raw text may keep the quotes of a quoted id.
bool parseUserId(std::string text, std::int64_t& out) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size() && out > 0;
}

bool passwordAcceptable(const std::string& password) {
    return !password.empty() && password.size() <= kMaxPasswordLength;
}

bool consumeCode(SqliteDb& db, const std::string& email) {
    SqliteStatement d(db, "DELETE FROM codes WHERE email = ?");
    d.bind(1, email);
    return d.run();
}

bool dropSessions(SqliteDb& db, std::int64_t accountId) {
    SqliteStatement d(db, "DELETE FROM sessions WHERE account_id = ?");
    d.bind(1, accountId);
    return d.run();
}

}  // namespace

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string randomHex(std::size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::vector<unsigned char> bytes(n);
    // Tokens are secrets: OpenSSL's generator; the system's random device should it ever fail.
    if (n > 0 && RAND_bytes(bytes.data(), static_cast<int>(n)) != 1) {
        std::random_device device;
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(device() & 0xffu);
    }
    std::string out;
    out.reserve(n * 2);
    for (const unsigned char b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0f];
    }
    return out;
}

std::string SandboxStore::lastError() {
    std::lock_guard lock(mutex_);
    return lastError_;
}

int SandboxStore::fail() {
    lastError_ = db_.lastError();
    return status::kServerError;
}

int SandboxStore::fail(bool hashFailed) {
    if (!hashFailed) return fail();
    lastError_ = kHashFailure;
    return status::kServerError;
}

int SandboxStore::storeNewPassword(std::int64_t accountId, const std::string& password) {
    StoredPassword stored;
    if (!hashPassword(password, stored)) return fail(true);
    SqliteStatement u(db_, "UPDATE accounts SET salt = ?, pwhash = ? WHERE id = ?");
    u.bind(1, stored.salt).bind(2, stored.hash).bind(3, accountId);
    return u.run() ? status::kOk : fail();
}

struct SandboxStore::Account {
    std::int64_t id = 0;
    StoredPassword password;
};

template <typename Work>
int SandboxStore::transaction(Work&& work) {
    std::lock_guard lock(mutex_);
    SqliteTransaction tx(db_);
    if (!tx.begun()) return fail();
    return work(tx);
}

// kOk and the account with this e-mail address, kUnregistered when there is none.
int SandboxStore::findAccount(const std::string& email, Account& account) {
    SqliteStatement q(db_, "SELECT id, salt, pwhash FROM accounts WHERE email = ?");
    q.bind(1, email);
    if (!q.nextRow()) return q.failed() ? fail() : status::kUnregistered;
    account = Account{q.integer(0), StoredPassword{q.text(1), q.text(2)}};
    return status::kOk;
}

// kOk when `email` has a checked verification code whose time is not over, else kNotVerified.
int SandboxStore::checkVerified(const std::string& email) {
    SqliteStatement q(db_, "SELECT verified_until_ms FROM codes WHERE email = ?");
    q.bind(1, email);
    if (q.nextRow() && q.integer(0) > nowMs()) return status::kOk;
    return q.failed() ? fail() : status::kNotVerified;
}

// kOk when the tool `serial` belongs to the account, else kUnknownSerial or kNotYourDevice.
int SandboxStore::checkOwner(const std::string& serial, std::int64_t accountId) {
    SqliteStatement d(db_, "SELECT owner_id FROM devices WHERE sn = ?");
    d.bind(1, serial);
    if (!d.nextRow()) return d.failed() ? fail() : status::kUnknownSerial;
    if (d.isNull(0) || d.integer(0) != accountId) return status::kNotYourDevice;
    return status::kOk;
}

bool SandboxStore::open(const std::string& path, std::string& error, bool durable) {
    std::lock_guard lock(mutex_);
    // WAL with NORMAL sync: every transaction is atomic and survives a crash of the sandbox, and
    // commits do not wait for the disk (a power cut may lose the last ones, which is fine here).
    const char* sync = durable ? "PRAGMA synchronous = NORMAL;" : "PRAGMA synchronous = OFF;";
    if (!db_.open(path) || !db_.exec(sync) || !db_.exec("PRAGMA journal_mode = WAL;") ||
        !db_.exec(std::string("BEGIN; ") + kSchema + " COMMIT;")) {
        error = db_.lastError();
        return false;
    }
    return true;
}

bool SandboxStore::seed(const SeedData& data, std::string& error) {
    std::lock_guard lock(mutex_);
    SqliteTransaction tx(db_);
    const auto failed = [&] {
        error = db_.lastError();
        return false;
    };
    if (!tx.begun()) return failed();
    if (!db_.exec("DELETE FROM uploads; DELETE FROM catalogue; DELETE FROM devices; DELETE FROM codes;"
                  "DELETE FROM sessions; DELETE FROM accounts; DELETE FROM suite;")) {
        return failed();
    }
    const std::int64_t now = nowMs();
    for (const auto& a : data.accounts) {
        StoredPassword stored;
        if (!hashPassword(a.password, stored)) {
            error = kHashFailure;
            return false;
        }
        SqliteStatement s(db_, "INSERT INTO accounts(email, salt, pwhash, created_ms) VALUES(?, ?, ?, ?)");
        s.bind(1, a.email).bind(2, stored.salt).bind(3, stored.hash).bind(4, now);
        if (!s.run()) return failed();
    }
    for (const auto& d : data.devices) {
        SqliteStatement s(
            db_,
            "INSERT INTO devices(sn, name, model, owner_id, created_ms, content) VALUES(?, ?, ?, "
            "(SELECT id FROM accounts WHERE email = ?), ?, ?)");
        s.bind(1, d.serial).bind(2, d.name).bind(3, d.model).bind(4, d.ownerEmail).bind(5, d.createdMs);
        s.bindBlob(6, d.content);
        if (!s.run()) return failed();
    }
    for (const auto& c : data.catalogue) {
        SqliteStatement s(
            db_,
            "INSERT INTO catalogue(id, sn, position, name, installed, latest, package, isrom, param5, "
            "description) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        if (c.id > 0) {
            s.bind(1, c.id);
        } else {
            s.bindNull(1);
        }
        s.bind(2, c.serial).bind(3, std::int64_t{c.position}).bind(4, c.name).bind(5, c.installed);
        s.bind(6, c.latest).bind(7, c.packageFile).bind(8, std::int64_t{c.isrom}).bind(9, c.param5);
        s.bind(10, c.description);
        if (!s.run()) return failed();
    }
    for (const auto& p : data.suites) {
        SqliteStatement s(db_, "INSERT INTO suite(phone_type, version, package) VALUES(?, ?, ?)");
        s.bind(1, p.phoneType).bind(2, p.version).bind(3, p.packageFile);
        if (!s.run()) return failed();
    }
    if (!tx.commit()) return failed();
    return true;
}

int SandboxStore::login(const std::string& email, const std::string& password, SignIn& out) {
    // The password is checked outside the store's lock: a PBKDF2 check takes tens of milliseconds,
    // and under the lock every call of every other client waited behind each sign-in.
    Account account;
    {
        std::lock_guard lock(mutex_);
        if (const int rc = findAccount(email, account); rc != status::kOk) return rc;
    }
    const PasswordCheck check = checkPassword(password, account.password);
    if (check == PasswordCheck::Wrong) return status::kWrongPassword;
    // A hash of an earlier sandbox is replaced now that the password is known.
    StoredPassword renewed;
    const bool renew = check == PasswordCheck::RightButOld;
    const bool hashed = !renew || hashPassword(password, renewed);
    return transaction([&](SqliteTransaction& tx) {
        if (!hashed) return fail(true);
        Account current;
        if (const int rc = findAccount(email, current); rc != status::kOk) return rc;
        // The password was changed meanwhile: the one checked is not the account's any more.
        if (current.id != account.id || current.password.hash != account.password.hash)
            return status::kWrongPassword;
        if (renew) {
            SqliteStatement u(db_, "UPDATE accounts SET salt = ?, pwhash = ? WHERE id = ?");
            u.bind(1, renewed.salt).bind(2, renewed.hash).bind(3, account.id);
            if (!u.run()) return fail();
        }
        const std::string token = randomHex(16);
        SqliteStatement s(db_, "INSERT INTO sessions(token, account_id, created_ms) VALUES(?, ?, ?)");
        s.bind(1, token).bind(2, account.id).bind(3, nowMs());
        if (!s.run() || !tx.commit()) return fail();
        out = SignIn{account.id, email, token};
        return status::kOk;
    });
}

int SandboxStore::sendCode(const std::string& email, CodePurpose purpose, std::int64_t ttlMs,
                           std::string& code) {
    return transaction([&](SqliteTransaction& tx) {
        Account account;
        const int found = findAccount(email, account);
        if (found == status::kServerError) return found;
        const bool registered = found == status::kOk;
        if (purpose == CodePurpose::SignUp && registered) return status::kAlreadyRegistered;
        if (purpose == CodePurpose::Reset && !registered) return status::kUnregistered;
        std::random_device device;
        code = std::to_string(100000 + device() % 900000);
        SqliteStatement s(
            db_,
            "INSERT OR REPLACE INTO codes(email, code, purpose, expires_ms, verified_until_ms, failures) "
            "VALUES(?, ?, ?, ?, 0, 0)");
        s.bind(1, email).bind(2, code).bind(3, purpose == CodePurpose::SignUp ? "signup" : "reset");
        s.bind(4, nowMs() + ttlMs);
        if (!s.run() || !tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::checkCode(const std::string& email, const std::string& code) {
    return transaction([&](SqliteTransaction& tx) {
        SqliteStatement q(db_, "SELECT code, expires_ms, failures FROM codes WHERE email = ?");
        q.bind(1, email);
        if (!q.nextRow()) return q.failed() ? fail() : status::kBadCode;
        const std::string expected = q.text(0);
        const std::int64_t expires = q.integer(1);
        const std::int64_t failures = q.integer(2);
        if (failures >= kMaxCodeFailures) return status::kBadCode;
        if (code != expected) {
            SqliteStatement u(db_, "UPDATE codes SET failures = failures + 1 WHERE email = ?");
            u.bind(1, email);
            if (!u.run() || !tx.commit()) return fail();
            return status::kBadCode;
        }
        if (nowMs() >= expires) return status::kCodeExpired;
        SqliteStatement u(db_, "UPDATE codes SET verified_until_ms = ? WHERE email = ?");
        u.bind(1, nowMs() + kVerifiedForMs).bind(2, email);
        if (!u.run() || !tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::setPassword(const std::string& email, const std::string& password) {
    return transaction([&](SqliteTransaction& tx) {
        Account account;
        const int found = findAccount(email, account);
        if (found == status::kOk) return status::kAlreadyRegistered;
        if (found == status::kServerError) return found;
        if (const int rc = checkVerified(email); rc != status::kOk) return rc;
        if (!passwordAcceptable(password)) return status::kBadPassword;
        StoredPassword stored;
        if (!hashPassword(password, stored)) return fail(true);
        SqliteStatement s(db_, "INSERT INTO accounts(email, salt, pwhash, created_ms) VALUES(?, ?, ?, ?)");
        s.bind(1, email).bind(2, stored.salt).bind(3, stored.hash).bind(4, nowMs());
        if (!s.run() || !consumeCode(db_, email) || !tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::resetPassword(const std::string& email, const std::string& password) {
    return transaction([&](SqliteTransaction& tx) {
        Account account;
        if (const int rc = findAccount(email, account); rc != status::kOk) return rc;
        if (const int rc = checkVerified(email); rc != status::kOk) return rc;
        if (!passwordAcceptable(password)) return status::kBadPassword;
        if (const int rc = storeNewPassword(account.id, password); rc != status::kOk) return rc;
        if (!dropSessions(db_, account.id) || !consumeCode(db_, email) || !tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::updateUser(const std::string& userId, const std::string& token, const std::string& id,
                             const std::string& email, const std::string& oldPassword,
                             const std::string& newPassword) {
    std::int64_t accountId = 0;
    const int auth = authorise(userId, token, accountId);
    if (auth != status::kOk) return auth;
    std::int64_t recordId = 0;
    if (!parseUserId(id, recordId) || recordId != accountId) return status::kBadToken;

    return transaction([&](SqliteTransaction& tx) {
        SqliteStatement q(db_, "SELECT email, salt, pwhash FROM accounts WHERE id = ?");
        q.bind(1, accountId);
        if (!q.nextRow()) return q.failed() ? fail() : status::kBadToken;
        const std::string currentEmail = q.text(0);
        const PasswordCheck check = checkPassword(oldPassword, StoredPassword{q.text(1), q.text(2)});
        if (check == PasswordCheck::Wrong) return status::kWrongPassword;
        if (!passwordAcceptable(newPassword)) return status::kBadPassword;

        if (email != currentEmail) {  // binding a new address
            Account other;
            const int found = findAccount(email, other);
            if (found == status::kOk) return status::kAlreadyRegistered;
            if (found == status::kServerError) return found;
            if (const int rc = checkVerified(email); rc != status::kOk) return rc;
            SqliteStatement u(db_, "UPDATE accounts SET email = ? WHERE id = ?");
            u.bind(1, email).bind(2, accountId);
            if (!u.run() || !consumeCode(db_, email)) return fail();
        }
        if (newPassword != oldPassword) {
            // A new password ends every sign-in of the account; a binding keeps them (the suite goes
            // on using its main window's token after binding).
            if (const int rc = storeNewPassword(accountId, newPassword); rc != status::kOk) return rc;
            if (!dropSessions(db_, accountId)) return fail();
        } else if (check == PasswordCheck::RightButOld) {
            if (const int rc = storeNewPassword(accountId, newPassword); rc != status::kOk) return rc;
        }
        if (!tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::authorise(const std::string& userId, const std::string& token, std::int64_t& accountId) {
    std::int64_t id = 0;
    if (!parseUserId(userId, id) || token.empty()) return status::kBadToken;
    std::lock_guard lock(mutex_);
    SqliteStatement q(db_, "SELECT account_id FROM sessions WHERE token = ?");
    q.bind(1, token);
    if (!q.nextRow()) return q.failed() ? fail() : status::kBadToken;
    if (q.integer(0) != id) return status::kBadToken;
    accountId = id;
    return status::kOk;
}

int SandboxStore::catalogue(std::int64_t accountId, const std::string& serial,
                            std::vector<CatalogueEntry>& out) {
    out.clear();
    std::lock_guard lock(mutex_);
    if (const int rc = checkOwner(serial, accountId); rc != status::kOk) return rc;
    SqliteStatement q(db_,
                      "SELECT id, sn, position, name, installed, latest, package, isrom, param5, description "
                      "FROM catalogue WHERE sn = ? ORDER BY position, id");
    q.bind(1, serial);
    while (q.nextRow()) {
        CatalogueEntry e;
        e.id = q.integer(0);
        e.serial = q.text(1);
        e.position = static_cast<int>(q.integer(2));
        e.name = q.text(3);
        e.installed = q.text(4);
        e.latest = q.text(5);
        e.packageFile = q.text(6);
        e.isrom = static_cast<int>(q.integer(7));
        e.param5 = q.text(8);
        e.description = q.text(9);
        out.push_back(std::move(e));
    }
    if (q.failed()) {
        out.clear();
        return fail();
    }
    return status::kOk;
}

int SandboxStore::reportVersion(std::int64_t accountId, const std::string& serial, const std::string& entryId,
                                const std::string& flag, const std::string& version) {
    std::int64_t id = 0;
    if (!parseUserId(entryId, id)) return status::kUnknownEntry;
    return transaction([&](SqliteTransaction& tx) {
        if (const int rc = checkOwner(serial, accountId); rc != status::kOk) return rc;
        SqliteStatement q(db_, "SELECT 1 FROM catalogue WHERE id = ? AND sn = ?");
        q.bind(1, id).bind(2, serial);
        if (!q.nextRow()) return q.failed() ? fail() : status::kUnknownEntry;
        if (flag == "1") {  // 1: the version is now installed
            SqliteStatement u(db_, "UPDATE catalogue SET installed = ?, reported_ms = ? WHERE id = ?");
            u.bind(1, version).bind(2, nowMs()).bind(3, id);
            if (!u.run()) return fail();
        }
        if (!tx.commit()) return fail();
        return status::kOk;
    });
}

int SandboxStore::owner(const std::string& serial, OwnerInfo& out) {
    std::lock_guard lock(mutex_);
    SqliteStatement q(
        db_,
        "SELECT d.model, COALESCE(a.email, '') FROM devices d LEFT JOIN accounts a ON a.id = d.owner_id "
        "WHERE d.sn = ?");
    q.bind(1, serial);
    if (!q.nextRow()) return q.failed() ? fail() : status::kUnknownSerial;
    out.model = q.text(0);
    out.ownerEmail = q.text(1);
    return status::kOk;
}

int SandboxStore::devicesOf(std::int64_t accountId, std::vector<DeviceEntry>& out) {
    out.clear();
    std::lock_guard lock(mutex_);
    SqliteStatement q(
        db_, "SELECT sn, name, model, created_ms FROM devices WHERE owner_id = ? ORDER BY created_ms, sn");
    q.bind(1, accountId);
    while (q.nextRow()) {
        DeviceEntry d;
        d.serial = q.text(0);
        d.name = q.text(1);
        d.model = q.text(2);
        d.createdMs = q.integer(3);
        out.push_back(std::move(d));
    }
    if (q.failed()) {
        out.clear();
        return fail();
    }
    return status::kOk;
}

int SandboxStore::content(const std::string& serial, std::string& bytes) {
    std::lock_guard lock(mutex_);
    SqliteStatement q(db_, "SELECT content FROM devices WHERE sn = ?");
    q.bind(1, serial);
    if (!q.nextRow()) return q.failed() ? fail() : status::kUnknownSerial;
    bytes = q.text(0);
    return status::kOk;
}

int SandboxStore::suite(const std::string& phoneType, SuitePackage& out) {
    std::lock_guard lock(mutex_);
    SqliteStatement q(db_, "SELECT version, package FROM suite WHERE phone_type = ?");
    q.bind(1, phoneType);
    if (!q.nextRow()) return q.failed() ? fail() : status::kNoSuitePackage;
    out = SuitePackage{phoneType, q.text(0), q.text(1)};
    return status::kOk;
}

int SandboxStore::recordUpload(const std::string& serial, const std::string& fileName,
                               const std::string& storedPath, std::int64_t size) {
    std::lock_guard lock(mutex_);
    SqliteStatement s(
        db_, "INSERT INTO uploads(sn, file_name, stored_path, size, received_ms) VALUES(?, ?, ?, ?, ?)");
    s.bind(1, serial).bind(2, fileName).bind(3, storedPath).bind(4, size).bind(5, nowMs());
    if (!s.run()) return fail();
    return status::kOk;
}

std::int64_t SandboxStore::uploadCount(const std::string& serial) {
    std::lock_guard lock(mutex_);
    SqliteStatement q(db_, "SELECT COUNT(*) FROM uploads WHERE sn = ?");
    q.bind(1, serial);
    return q.nextRow() ? q.integer(0) : -1;
}

}  // namespace krevol::sandbox
