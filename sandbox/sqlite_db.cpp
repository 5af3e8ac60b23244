#include "sandbox/sqlite_db.h"

#include <string>

namespace krevol::sandbox {

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
    if (db.handle() == nullptr) {
        failed_ = true;
        return;
    }
    if (sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
        SQLITE_OK) {
        db.noteError("prepare");
        stmt_ = nullptr;
        failed_ = true;
    }
}

SqliteStatement::~SqliteStatement() {
    if (stmt_ != nullptr) sqlite3_finalize(stmt_);
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
    if (stmt_ != nullptr && sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                              SQLITE_TRANSIENT) != SQLITE_OK) {
        db_.noteError("bind");
        failed_ = true;
    }
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
    if (stmt_ != nullptr && sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) {
        db_.noteError("bind");
        failed_ = true;
    }
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, std::string_view bytes) {
    if (stmt_ != nullptr && sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                                              SQLITE_TRANSIENT) != SQLITE_OK) {
        db_.noteError("bind");
        failed_ = true;
    }
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    if (stmt_ != nullptr && sqlite3_bind_null(stmt_, index) != SQLITE_OK) {
        db_.noteError("bind");
        failed_ = true;
    }
    return *this;
}

bool SqliteStatement::nextRow() {
    if (stmt_ == nullptr || failed_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        db_.noteError("step");
        failed_ = true;
    }
    return false;
}

bool SqliteStatement::run() {
    while (nextRow()) {
    }
    return !failed_;
}

std::string SqliteStatement::text(int column) const {
    const auto* p = sqlite3_column_blob(stmt_, column);
    const int n = sqlite3_column_bytes(stmt_, column);
    if (p == nullptr || n <= 0) return {};
    return std::string(static_cast<const char*>(p), static_cast<std::size_t>(n));
}

std::int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

SqliteDb::~SqliteDb() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
}

bool SqliteDb::open(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        noteError("open " + path);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    return exec("PRAGMA foreign_keys = ON;");
}

bool SqliteDb::exec(std::string_view sql) {
    if (db_ == nullptr) return false;
    const std::string copy(sql);
    char* message = nullptr;
    if (sqlite3_exec(db_, copy.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        lastError_ = message != nullptr ? message : "sqlite3_exec failed";
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::int64_t SqliteDb::lastInsertId() const {
    return db_ != nullptr ? sqlite3_last_insert_rowid(db_) : 0;
}

int SqliteDb::changes() const {
    return db_ != nullptr ? sqlite3_changes(db_) : 0;
}

void SqliteDb::noteError(const std::string& what) {
    lastError_ = what + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "no database");
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) {
    begun_ = db_.exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
    if (begun_ && !done_) db_.exec("ROLLBACK");
}

bool SqliteTransaction::commit() {
    if (!begun_ || done_) return false;
    done_ = db_.exec("COMMIT");
    return done_;
}

}  // namespace krevol::sandbox
