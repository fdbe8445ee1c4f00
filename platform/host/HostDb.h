// The simulated host's state in one SQLite database (host.db): profile,
// registry, security descriptors, accounts, services, automatic updates and
// later the firewall. Every change runs in one transaction; WAL mode and a busy
// timeout let two processes share one host.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace host {

// Thrown only inside the host when the database itself fails (disk full,
// corruption); the service layers turn it into Win32 codes.
struct DbError {
  std::string message;
};

// Runs a service operation, turning a database failure into
// ERROR_CANTWRITE, as the service layers report it.
template <typename F>
uint32_t Guarded(F&& operation) {
  try {
    return operation();
  } catch (const DbError&) {
    return winerr::kCantWrite;
  }
}

class HostDb;

// A prepared statement of one connection. When it goes, it is reset and
// kept for the next Statement of the same connection and SQL text; it must
// not outlive its HostDb.
class Statement {
 public:
  Statement(HostDb& db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view textValue);
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& BindNull(int index);
  // Steps once: true while a row is available.
  bool Step();
  void Run();  // steps to completion
  void Reset();
  int64_t Int(int column);
  std::string Text(int column);
  std::string Blob(int column);
  bool IsNull(int column);

 private:
  sqlite3* db_;
  std::vector<sqlite3_stmt*>* idle_;  // where it goes back to
  sqlite3_stmt* stmt_ = nullptr;
};

class HostDb {
 public:
  static constexpr int kSchemaVersion = 1;

  // Opens an existing database; with `create`, makes a new empty one.
  // Returns an empty message on success.
  std::string Open(const std::string& path, bool create);
  ~HostDb();

  void Exec(std::string_view sql);
  int64_t LastInsertId();
  int Changes();

  // The meta values a host is made with (its user, domains, profile) never
  // change afterwards: they are read once per connection.
  std::string Meta(std::string_view key, std::string_view fallback = "");
  void SetMeta(std::string_view key, std::string_view value);

  // Changes whenever rows this connection read may be out of date: another
  // connection committed, this one rolled back, or Invalidate was called
  // (the drive changed under the rows that describe it). Costs one query.
  uint64_t Generation();
  void Invalidate() { ++generation_; }

  // Changes whenever anything this connection could read may have changed:
  // what Generation covers, and every row this connection wrote itself.
  // Values derived from many rows (a service's state) are kept under it.
  struct Stamp {
    uint64_t generation = 0;
    int64_t ownChanges = -1;
    bool operator==(const Stamp&) const = default;
  };
  Stamp CurrentStamp();

  // Nested scopes join the outermost transaction.
  void Begin();
  void Commit();
  void Rollback();
  bool InTransaction() const { return depth_ > 0; }

  sqlite3* Handle() { return db_; }
  // Prepared statements of this SQL text not in use (see Statement). A run
  // asks the host the same few questions thousands of times (the clock,
  // accounts, registry keys); preparing is most of what a simple query costs.
  std::vector<sqlite3_stmt*>& IdleStatements(std::string_view sql);

 private:
  void CreateSchema();
  sqlite3* db_ = nullptr;
  std::map<std::string, std::vector<sqlite3_stmt*>, std::less<>> idleStatements_;
  std::map<std::string, std::string, std::less<>> fixedMeta_;
  int64_t dataVersion_ = -1;
  uint64_t generation_ = 0;
  int depth_ = 0;
  bool failed_ = false;
};

// Runs a block in one transaction, rolled back when it throws.
class Transaction {
 public:
  explicit Transaction(HostDb& db) : db_(db) { db_.Begin(); }
  ~Transaction() {
    if (done_) return;
    try {
      db_.Rollback();
    } catch (const DbError&) {
      // A failed rollback leaves SQLite to discard the transaction when the connection closes.
    }
  }
  void Commit() {
    db_.Commit();
    done_ = true;
  }

 private:
  HostDb& db_;
  bool done_ = false;
};

}  // namespace host
