// A thin owner of one SQLite connection and its prepared statements.
// Errors are reported as false/empty results with the text in lastError(); nothing throws.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace krevol::sandbox {

class SqliteDb;

class SqliteStatement {
  public:
    SqliteStatement(SqliteDb& db, std::string_view sql);
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    ~SqliteStatement();

    bool ok() const { return stmt_ != nullptr; }
    // Parameters are numbered from 1 as in SQLite.
    SqliteStatement& bind(int index, std::string_view text);
    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bindBlob(int index, std::string_view bytes);
    SqliteStatement& bindNull(int index);

    // One step: true while a row is there. A failure sets failed() and ends the rows.
    bool nextRow();
    // Runs a statement that yields no rows; false on failure.
    bool run();
    bool failed() const { return failed_; }

    std::string text(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;

  private:
    SqliteDb& db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool failed_ = false;
};

class SqliteDb {
  public:
    SqliteDb() = default;
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;
    ~SqliteDb();

    bool open(const std::string& path);
    bool exec(std::string_view sql);  // one or more statements without results
    std::int64_t lastInsertId() const;
    int changes() const;
    const std::string& lastError() const { return lastError_; }
    sqlite3* handle() { return db_; }
    void noteError(const std::string& what);

  private:
    sqlite3* db_ = nullptr;
    std::string lastError_;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless commit() succeeded.
class SqliteTransaction {
  public:
    explicit SqliteTransaction(SqliteDb& db);
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    ~SqliteTransaction();

    bool begun() const { return begun_; }
    bool commit();

  private:
    SqliteDb& db_;
    bool begun_ = false;
    bool done_ = false;
};

}  // namespace krevol::sandbox
