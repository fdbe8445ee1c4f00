#include "platform/host/HostDb.h"

#include <sqlite3.h>

#include <new>

namespace host {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE reg_key(
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  sd BLOB,
  UNIQUE(parent, fold));
CREATE TABLE reg_value(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, fold));
CREATE TABLE file_sd(fold TEXT PRIMARY KEY, path TEXT NOT NULL, sd BLOB NOT NULL, ino INTEGER NOT NULL);
CREATE TABLE account(
  sid TEXT PRIMARY KEY,
  kind TEXT NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  comment TEXT NOT NULL DEFAULT '');
CREATE TABLE member(grp TEXT NOT NULL, sid TEXT NOT NULL, PRIMARY KEY(grp, sid));
)sql";

// Tables added within schema version 1. They are made when missing, so that a
// host created before them opens as it is and gains them on first use.
constexpr const char* kAddedTables = R"sql(
CREATE TABLE IF NOT EXISTS snapshot(name TEXT PRIMARY KEY, taken TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS snapshot_row(
  snapshot TEXT NOT NULL,
  kind TEXT NOT NULL,
  path TEXT NOT NULL,
  name TEXT NOT NULL,
  value TEXT NOT NULL,
  PRIMARY KEY(snapshot, kind, path, name));
CREATE TABLE IF NOT EXISTS service(
  name TEXT PRIMARY KEY COLLATE NOCASE,
  state INTEGER NOT NULL,
  since INTEGER NOT NULL,
  behaviour TEXT NOT NULL,
  exit_code INTEGER NOT NULL,
  process_id INTEGER NOT NULL);
)sql";

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) throw DbError{sqlite3_errmsg(db)};
}

// Written when a host is made and never again.
constexpr std::string_view kFixedMeta[] = {"profile",       "language",   "clock",   "user_name", "user_admin",
                                           "computer_name", "domain_sid", "user_sid"};

bool IsFixedMeta(std::string_view key) {
  for (const std::string_view fixed : kFixedMeta) {
    if (key == fixed) return true;
  }
  return false;
}

}  // namespace

Statement::Statement(HostDb& db, std::string_view sql) : db_(db.Handle()), idle_(&db.IdleStatements(sql)) {
  if (!idle_->empty()) {
    stmt_ = idle_->back();
    idle_->pop_back();
    return;
  }
  Check(db_, sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_,
                                nullptr));
}

Statement::~Statement() {
  if (!stmt_) return;
  // Reset ends the statement's read, so an idle one holds no snapshot.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  try {
    idle_->push_back(stmt_);
  } catch (const std::bad_alloc&) {
    sqlite3_finalize(stmt_);
  }
}

Statement& Statement::Bind(int index, int64_t value) {
  Check(db_, sqlite3_bind_int64(stmt_, index, value));
  return *this;
}

Statement& Statement::Bind(int index, std::string_view textValue) {
  Check(db_, sqlite3_bind_text(stmt_, index, textValue.data(), static_cast<int>(textValue.size()),
                               SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  Check(db_, sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                               SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindNull(int index) {
  Check(db_, sqlite3_bind_null(stmt_, index));
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  Check(db_, rc);
  return rc == SQLITE_ROW;
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Text(int column) {
  const auto* p = sqlite3_column_text(stmt_, column);
  return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(stmt_, column)) : std::string();
}

std::string Statement::Blob(int column) {
  const void* p = sqlite3_column_blob(stmt_, column);
  return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(stmt_, column)) : std::string();
}

bool Statement::IsNull(int column) { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string HostDb::Open(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    return "cannot open " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
  }
  sqlite3_busy_timeout(db_, 10000);
  try {
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    if (create) {
      CreateSchema();
      return {};
    }
    Statement probe(*this, "SELECT value FROM meta WHERE key='schema_version'");
    if (!probe.Step()) return path + " is not a Tarvo host database (no schema version)";
    const std::string version = probe.Text(0);
    if (version != std::to_string(kSchemaVersion)) {
      return path + " has schema version " + version + ", this program knows version " +
             std::to_string(kSchemaVersion);
    }
    Exec(kAddedTables);
  } catch (const DbError& e) {
    return path + " is not a usable host database: " + e.message;
  }
  return {};
}

HostDb::~HostDb() {
  if (!db_) return;
  for (auto& [sql, statements] : idleStatements_) {
    for (sqlite3_stmt* stmt : statements) sqlite3_finalize(stmt);
  }
  sqlite3_close(db_);
}

std::vector<sqlite3_stmt*>& HostDb::IdleStatements(std::string_view sql) {
  const auto found = idleStatements_.find(sql);
  if (found != idleStatements_.end()) return found->second;
  return idleStatements_[std::string(sql)];
}

void HostDb::CreateSchema() {
  Transaction tx(*this);
  Exec(kSchema);
  Exec(kAddedTables);
  SetMeta("schema_version", std::to_string(kSchemaVersion));
  tx.Commit();
}

void HostDb::Exec(std::string_view sql) {
  char* error = nullptr;
  const std::string statement(sql);
  if (sqlite3_exec(db_, statement.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "unknown error";
    sqlite3_free(error);
    throw DbError{message};
  }
}

int64_t HostDb::LastInsertId() { return sqlite3_last_insert_rowid(db_); }
int HostDb::Changes() { return sqlite3_changes(db_); }

std::string HostDb::Meta(std::string_view key, std::string_view fallback) {
  const bool fixed = IsFixedMeta(key);
  if (fixed) {
    const auto known = fixedMeta_.find(key);
    if (known != fixedMeta_.end()) return known->second;
  }
  Statement st(*this, "SELECT value FROM meta WHERE key=?");
  st.Bind(1, key);
  if (!st.Step()) return std::string(fallback);
  std::string value = st.Text(0);
  if (fixed) fixedMeta_.emplace(std::string(key), value);
  return value;
}

void HostDb::SetMeta(std::string_view key, std::string_view value) {
  Statement st(*this, "INSERT INTO meta(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET value=excluded.value");
  st.Bind(1, key).Bind(2, value).Run();
  fixedMeta_.erase(std::string(key));
}

uint64_t HostDb::Generation() {
  Statement st(*this, "PRAGMA data_version");
  const int64_t version = st.Step() ? st.Int(0) : -1;
  if (version != dataVersion_) {
    dataVersion_ = version;
    ++generation_;
  }
  return generation_;
}

HostDb::Stamp HostDb::CurrentStamp() {
  const uint64_t generation = Generation();
  return {generation, sqlite3_total_changes64(db_)};
}

// Transactions are begun and ended thousands of times in a run: through
// prepared statements rather than parsed anew each time.
void HostDb::Begin() {
  if (depth_++ == 0) {
    failed_ = false;
    Statement(*this, "BEGIN IMMEDIATE").Run();
  }
}

void HostDb::Commit() {
  if (--depth_ == 0) {
    if (failed_) {
      ++generation_;
      Statement(*this, "ROLLBACK").Run();
    } else {
      Statement(*this, "COMMIT").Run();
    }
  }
}

// Also called after a COMMIT that failed (its scope had already left the
// depth): the transaction SQLite kept open is then rolled back.
void HostDb::Rollback() {
  failed_ = true;
  ++generation_;
  if (depth_ > 0 && --depth_ > 0) return;
  if (!sqlite3_get_autocommit(db_)) Statement(*this, "ROLLBACK").Run();
}

}  // namespace host
