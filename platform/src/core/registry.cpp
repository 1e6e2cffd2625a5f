#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/fold.h"
#include "platform/paths.h"
#include "platform/text.h"

// The registry is one SQLite database in WAL mode so that every process of the device
// root can read while one writes. Keys form a tree (parent id, display name, folded name
// for the case-insensitive lookup); values hang off their key. Ids only grow
// (AUTOINCREMENT), which gives the creation order for enumeration and makes sure that a
// handle to a deleted key can never reach a newer key that reused its id.
//
// Every call is one transaction: writes take the write lock up front (BEGIN IMMEDIATE)
// so that two processes never deadlock upgrading a read, and a crash at any point leaves
// either the whole change or none of it.

struct HKEY__ {
  sqlite3_int64 keyId = 0;
  std::uint64_t generation = 0;
};

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr int kBusyTimeoutMs = 15000;
// Keys nest at most this many levels below their root, so that every key can be exported
// and walked without unbounded recursion.
constexpr sqlite3_int64 kMaxKeyDepth = 512;
// The log is copied into the database every 128 pages and cut back to 256 KB whenever
// it starts over, so that a long series of short-lived writers cannot grow it without end.
constexpr const char* kLogPragmas = "PRAGMA wal_autocheckpoint=128; PRAGMA journal_size_limit=262144";
// Beside the database, the marker that the database holds too. A database without its
// marker beside a marker file was lost (deleted or emptied) after the device was set up.
constexpr const char* kMarkerFileName = "/registry.marker";

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  fold TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "CREATE TABLE IF NOT EXISTS meta("
    "  name TEXT PRIMARY KEY,"
    "  value TEXT NOT NULL);";

struct Registry {
  std::mutex lock;
  sqlite3* db = nullptr;
  std::string path;
  pid_t pid = 0;
  std::uint64_t generation = 0;
  std::unordered_set<HKEY__*> handles;
  std::unordered_map<std::string, sqlite3_stmt*> statements;  // of `db`, by SQL text
};

Registry& R() {
  static Registry* r = new Registry;
  return *r;
}

// Test hook: the Nth write from now (statement or commit) fails as an I/O error would.
std::atomic<int> gFailWriteAfter{-1};

bool InjectedWriteFailure() {
  int n = gFailWriteAfter.load();
  while (n >= 0) {
    if (gFailWriteAfter.compare_exchange_weak(n, n - 1)) return n == 0;
  }
  return false;
}

LONG MapSqlite(int rc, LONG fallback) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_IOERR:
      return ERROR_REGISTRY_IO_FAILED;
    default:
      return fallback;
  }
}

// Statements are prepared once per connection and kept: parsing SQL would otherwise be
// most of the cost of a registry read.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) {
    auto& cache = R().statements;
    if (db == R().db) {
      auto it = cache.find(sql);
      if (it != cache.end() && !sqlite3_stmt_busy(it->second)) {
        st_ = it->second;
        cached_ = true;
        return;
      }
      if (it == cache.end()) {
        rc_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
        if (rc_ == SQLITE_OK) {
          cache.emplace(sql, st_);
          cached_ = true;
        }
        return;
      }
    }
    rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr);
  }
  ~Stmt() {
    if (cached_) {
      sqlite3_reset(st_);
      sqlite3_clear_bindings(st_);
    } else {
      sqlite3_finalize(st_);
    }
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  bool ok() const { return rc_ == SQLITE_OK; }
  int rc() const { return rc_; }
  Stmt& Bind(int i, sqlite3_int64 v) {
    if (ok()) rc_ = sqlite3_bind_int64(st_, i, v);
    return *this;
  }
  Stmt& Bind(int i, const std::string& v) {
    if (ok()) rc_ = sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& BindBlob(int i, const void* data, std::size_t size) {
    // A zero-length blob still needs a non-null pointer to be a blob and not NULL.
    static const char kEmpty = 0;
    if (ok()) rc_ = sqlite3_bind_blob64(st_, i, data ? data : &kEmpty, size, SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() {
    if (!ok()) return rc_;
    if (!sqlite3_stmt_readonly(st_) && InjectedWriteFailure()) return rc_ = SQLITE_IOERR_WRITE;
    int rc = sqlite3_step(st_);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) rc_ = rc;
    return rc;
  }
  sqlite3_int64 Int(int col) const { return sqlite3_column_int64(st_, col); }
  std::string Text(int col) const {
    const unsigned char* t = sqlite3_column_text(st_, col);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
             : std::string();
  }
  std::string Blob(int col) const {
    const void* b = sqlite3_column_blob(st_, col);
    int n = sqlite3_column_bytes(st_, col);
    return b ? std::string(static_cast<const char*>(b), static_cast<std::size_t>(n)) : std::string();
  }

 private:
  sqlite3_stmt* st_ = nullptr;
  int rc_ = SQLITE_OK;
  bool cached_ = false;
};

int Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

int Run(sqlite3* db, const char* sql) {
  Stmt st(db, sql);
  int rc = st.Step();
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// One transaction; rolled back unless committed.
class Txn {
 public:
  Txn(sqlite3* db, bool write) : db_(db) {
    rc_ = Run(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
    open_ = rc_ == SQLITE_OK;
  }
  ~Txn() {
    if (open_) Run(db_, "ROLLBACK");
  }
  int rc() const { return rc_; }
  int Commit() {
    if (InjectedWriteFailure()) return SQLITE_IOERR_WRITE;
    int rc = Run(db_, "COMMIT");
    if (rc == SQLITE_OK) open_ = false;
    return rc;
  }

 private:
  sqlite3* db_;
  int rc_;
  bool open_ = false;
};

bool IsPredefined(HKEY key) {
  auto v = reinterpret_cast<std::uintptr_t>(key);
  return v >= 0x80000000u && v <= 0x80000003u;
}

const char* RootName(HKEY key) {
  switch (reinterpret_cast<std::uintptr_t>(key)) {
    case 0x80000000u:
      return "HKEY_CLASSES_ROOT";
    case 0x80000001u:
      return "HKEY_CURRENT_USER";
    case 0x80000002u:
      return "HKEY_LOCAL_MACHINE";
    default:
      return "HKEY_USERS";
  }
}

std::string FoldUtf8(const std::u16string& s) {
  return platform::Utf16ToUtf8(platform::core::Fold(s));
}

std::string ReadSmallFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[128];
    std::size_t n = std::fread(buf, 1, sizeof buf, f);
    out.assign(buf, n);
    std::fclose(f);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// Written beside and then renamed, so that a reader never sees half a marker.
void WriteMarkerFile(const std::string& path, const std::string& marker) {
  std::string temp = path + "." + std::to_string(::getpid());
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return;
  bool ok = std::fwrite(marker.data(), 1, marker.size(), f) == marker.size() && std::fputc('\n', f) != EOF;
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) std::remove(temp.c_str());
}

std::string NewMarker() {
  unsigned char bytes[8] = {};
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  bool random = fd >= 0 && ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes);
  if (fd >= 0) ::close(fd);
  if (!random) {
    auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    now ^= static_cast<std::uint64_t>(::getpid()) << 40;
    std::memcpy(bytes, &now, sizeof bytes);
  }
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return text;
}

// Inside the set-up transaction: the database's marker, made now when it has none
// (`made` tells which).
int EnsureMarker(sqlite3* db, std::string& marker, bool& made);

// Opens the database of the current device root, reopening when the root changed (tests
// switch roots) or when this is a forked child (an inherited connection must not be
// used, nor closed, in the child).
LONG Db(sqlite3*& out) {
  auto& r = R();
  std::string path = platform::NativePath(platform::DeviceRoot()) + "/registry.db";
  pid_t pid = ::getpid();
  if (r.db && r.pid == pid && r.path == path) {
    out = r.db;
    return ERROR_SUCCESS;
  }
  if (r.db && r.pid == pid) {
    for (auto& [sql, st] : r.statements) sqlite3_finalize(st);
    sqlite3_close_v2(r.db);
  }
  // A forked child drops the parent's connection and statements without touching them.
  r.statements.clear();
  r.db = nullptr;
  ++r.generation;  // handles of the old database are stale from now on

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return MapSqlite(rc, ERROR_CANTOPEN);
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  rc = Exec(db, "PRAGMA journal_mode=WAL");
  if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA synchronous=NORMAL");
  if (rc == SQLITE_OK) rc = Exec(db, kLogPragmas);
  std::string marker;
  bool madeMarker = false;
  if (rc == SQLITE_OK) {
    Txn t(db, true);
    rc = t.rc();
    if (rc == SQLITE_OK) rc = Exec(db, kSchema);
    if (rc == SQLITE_OK) rc = EnsureMarker(db, marker, madeMarker);
    if (rc == SQLITE_OK) rc = t.Commit();
  }
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    return MapSqlite(rc, ERROR_CANTOPEN);
  }
  const std::string markerPath = platform::NativePath(platform::DeviceRoot()) + kMarkerFileName;
  const std::string previous = ReadSmallFile(markerPath);
  if (madeMarker && !previous.empty()) {
    // Said once: the new marker is recorded at once, so the next program is quiet.
    std::fprintf(stderr,
                 "%s: the registry of this device (%s) was missing or empty and has been set up anew; "
                 "every setting is back to its default and push registrations are gone\n",
                 program_invocation_short_name, path.c_str());
  }
  if (previous != marker) WriteMarkerFile(markerPath, marker);
  r.db = db;
  r.path = path;
  r.pid = pid;
  out = db;
  return ERROR_SUCCESS;
}

int EnsureMarker(sqlite3* db, std::string& marker, bool& made) {
  made = false;
  {
    Stmt q(db, "SELECT value FROM meta WHERE name='marker'");
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      marker = q.Text(0);
      return SQLITE_OK;
    }
    if (rc != SQLITE_DONE) return rc;
  }
  marker = NewMarker();
  Stmt ins(db, "INSERT INTO meta(name, value) VALUES('marker', ?)");
  ins.Bind(1, marker);
  int rc = ins.Step();
  if (rc != SQLITE_DONE) return rc;
  made = true;
  return SQLITE_OK;
}

// Levels between `id` and its root (a root's direct child has depth 1).
int KeyDepth(sqlite3* db, sqlite3_int64 id, sqlite3_int64& depth) {
  Stmt q(db,
         "WITH RECURSIVE up(id, d) AS (SELECT ?, 0 UNION ALL "
         "SELECT k.parent, up.d + 1 FROM keys k JOIN up ON k.id = up.id WHERE k.parent <> 0 AND up.d < 100000) "
         "SELECT max(d) FROM up");
  q.Bind(1, id);
  int rc = q.Step();
  if (rc != SQLITE_ROW) return rc;
  depth = q.Int(0);
  return SQLITE_OK;
}

// Id of a root key, made on first use (inside the caller's transaction when writing).
LONG RootId(sqlite3* db, HKEY key, bool create, sqlite3_int64& id) {
  std::string name = RootName(key);
  {
    Stmt q(db, "SELECT id FROM keys WHERE parent=0 AND fold=?");
    q.Bind(1, name);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      id = q.Int(0);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTREAD);
  }
  if (!create) {
    id = 0;  // an empty root: nothing below it yet
    return ERROR_SUCCESS;
  }
  Stmt ins(db, "INSERT INTO keys(parent, name, fold) VALUES(0, ?, ?)");
  ins.Bind(1, name).Bind(2, name);
  int rc = ins.Step();
  if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTWRITE);
  id = sqlite3_last_insert_rowid(db);
  return ERROR_SUCCESS;
}

bool KeyExists(sqlite3* db, sqlite3_int64 id, int& rc) {
  Stmt q(db, "SELECT 1 FROM keys WHERE id=?");
  q.Bind(1, id);
  rc = q.Step();
  bool found = rc == SQLITE_ROW;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
  return found;
}

// Resolves a handle to its key id inside the current transaction. A root that was never
// written has id 0 when `create` is false.
LONG Resolve(sqlite3* db, HKEY key, bool create, sqlite3_int64& id) {
  if (IsPredefined(key)) return RootId(db, key, create, id);
  if (!key || !R().handles.count(key) || key->generation != R().generation) return ERROR_INVALID_HANDLE;
  int rc;
  if (!KeyExists(db, key->keyId, rc))
    return rc != SQLITE_OK ? MapSqlite(rc, ERROR_CANTREAD) : ERROR_KEY_DELETED;
  id = key->keyId;
  return ERROR_SUCCESS;
}

// Splits a '\'-separated key path; empty levels (a leading '\', doubled separators)
// are skipped.
LONG SplitPath(LPCWSTR subKey, std::vector<std::u16string>& parts) {
  parts.clear();
  if (!subKey) return ERROR_SUCCESS;
  std::u16string_view s(subKey);
  std::size_t pos = 0;
  while (pos <= s.size()) {
    std::size_t next = s.find(u'\\', pos);
    if (next == std::u16string_view::npos) next = s.size();
    if (next > pos) {
      if (next - pos > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
      parts.emplace_back(s.substr(pos, next - pos));
    }
    pos = next + 1;
  }
  return ERROR_SUCCESS;
}

LONG FindChild(sqlite3* db, sqlite3_int64 parent, const std::u16string& name, sqlite3_int64& child) {
  Stmt q(db, "SELECT id FROM keys WHERE parent=? AND fold=?");
  q.Bind(1, parent).Bind(2, FoldUtf8(name));
  int rc = q.Step();
  if (rc == SQLITE_ROW) {
    child = q.Int(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : MapSqlite(rc, ERROR_CANTREAD);
}

LONG Walk(sqlite3* db, sqlite3_int64 start, const std::vector<std::u16string>& parts, sqlite3_int64& id) {
  id = start;
  for (const auto& p : parts) {
    if (id == 0) return ERROR_FILE_NOT_FOUND;
    LONG e = FindChild(db, id, p, id);
    if (e != ERROR_SUCCESS) return e;
  }
  return ERROR_SUCCESS;
}

HKEY NewHandle(sqlite3_int64 id) {
  auto* h = new HKEY__;
  h->keyId = id;
  h->generation = R().generation;
  R().handles.insert(h);
  return h;
}

std::string ValueFold(LPCWSTR valueName) {
  return valueName ? FoldUtf8(std::u16string(valueName)) : std::string();
}

// Copies `bytes` out following the size protocol of the query calls.
// A string stored without its terminating zero (possible through REG_BINARY-style
// writes or hex(1) imports) would leave the caller reading past its data. When the
// buffer has room, a zero is put after the data; the reported size stays the stored one.
bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG CopyData(const std::string& bytes, LPBYTE data, LPDWORD dataSize, bool terminate) {
  if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD need = static_cast<DWORD>(bytes.size());
  if (!data) {
    *dataSize = need;
    return ERROR_SUCCESS;
  }
  if (*dataSize < need) {
    *dataSize = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(data, bytes.data(), need);
  if (terminate) {
    bool ends = need >= 2 && need % 2 == 0 && bytes[need - 1] == 0 && bytes[need - 2] == 0;
    DWORD zeroAt = need + (need % 2);  // keep 16-bit units aligned
    if (!ends && *dataSize >= zeroAt + 2) {
      if (need % 2) data[need] = 0;
      data[zeroAt] = 0;
      data[zeroAt + 1] = 0;
    }
  }
  *dataSize = need;
  return ERROR_SUCCESS;
}

// Copies a name into a caller buffer of `*length` characters (including the zero).
LONG CopyName(const std::string& utf8, LPWSTR name, LPDWORD length) {
  if (!name || !length) return ERROR_INVALID_PARAMETER;
  std::u16string n = platform::Utf8ToUtf16(utf8);
  if (n.size() + 1 > *length) return ERROR_MORE_DATA;
  n.copy(name, n.size());
  name[n.size()] = 0;
  *length = static_cast<DWORD>(n.size());
  return ERROR_SUCCESS;
}

// Runs `body(db, id)` under the registry lock inside one transaction, `id` being the row of
// `key` (0 for a root that has no row yet; one is made when `makeRoot`). A write transaction
// is committed when the body succeeds; anything else rolls back.
template <class Body>
LONG InKey(HKEY key, bool write, bool makeRoot, Body&& body) {
  std::lock_guard lk(R().lock);
  sqlite3* db;
  if (LONG e = Db(db)) return e;
  Txn t(db, write);
  if (t.rc() != SQLITE_OK) return MapSqlite(t.rc(), write ? ERROR_CANTWRITE : ERROR_CANTREAD);
  sqlite3_int64 id;
  if (LONG e = Resolve(db, key, makeRoot, id)) return e;
  if (LONG e = body(db, id)) return e;
  if (!write) return ERROR_SUCCESS;
  if (int rc = t.Commit(); rc != SQLITE_OK) return MapSqlite(rc, ERROR_CANTWRITE);
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY result,
                    LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::u16string> parts;
  if (LONG e = SplitPath(subKey, parts)) return e;
  bool created = false;
  sqlite3_int64 target = 0;
  LONG e = InKey(key, true, true, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (!parts.empty()) {
      sqlite3_int64 depth = 0;
      if (static_cast<sqlite3_int64>(parts.size()) > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
      if (int rc = KeyDepth(db, id, depth); rc != SQLITE_OK) return MapSqlite(rc, ERROR_CANTREAD);
      // Opening an existing deep key is fine; only a new level past the limit is refused.
      if (depth + static_cast<sqlite3_int64>(parts.size()) > kMaxKeyDepth) {
        sqlite3_int64 walked = id;
        std::size_t existing = 0;
        while (existing < parts.size() && FindChild(db, walked, parts[existing], walked) == ERROR_SUCCESS) ++existing;
        if (existing < parts.size()) return ERROR_INVALID_PARAMETER;
      }
    }
    for (const auto& p : parts) {
      sqlite3_int64 child;
      LONG found = FindChild(db, id, p, child);
      created = found == ERROR_FILE_NOT_FOUND;
      if (created) {
        Stmt ins(db, "INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)");
        ins.Bind(1, id).Bind(2, platform::Utf16ToUtf8(p)).Bind(3, FoldUtf8(p));
        int rc = ins.Step();
        if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTWRITE);
        child = sqlite3_last_insert_rowid(db);
      } else if (found != ERROR_SUCCESS) {
        return found;
      }
      id = child;
    }
    target = id;
    return ERROR_SUCCESS;
  });
  if (e != ERROR_SUCCESS) return e;
  *result = NewHandle(target);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<std::u16string> parts;
  if (LONG e = SplitPath(subKey, parts)) return e;
  std::lock_guard lk(R().lock);
  sqlite3* db;
  if (LONG e = Db(db)) return e;
  sqlite3_int64 id;
  if (IsPredefined(key) && parts.empty()) {
    // Opening a root itself always works; its row is made when first written.
    Txn t(db, true);
    if (t.rc() != SQLITE_OK) return MapSqlite(t.rc(), ERROR_CANTREAD);
    if (LONG e = Resolve(db, key, true, id)) return e;
    if (int rc = t.Commit(); rc != SQLITE_OK) return MapSqlite(rc, ERROR_CANTWRITE);
  } else {
    Txn t(db, false);
    if (t.rc() != SQLITE_OK) return MapSqlite(t.rc(), ERROR_CANTREAD);
    sqlite3_int64 start;
    if (LONG e = Resolve(db, key, false, start)) return e;
    if (LONG e = Walk(db, start, parts, id)) return e;
    if (id == 0) return ERROR_FILE_NOT_FOUND;
  }
  *result = NewHandle(id);
  return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  return InKey(key, false, false, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (id == 0) return ERROR_FILE_NOT_FOUND;
    Stmt q(db, "SELECT type, data FROM vals WHERE key=? AND fold=?");
    q.Bind(1, id).Bind(2, ValueFold(valueName));
    int rc = q.Step();
    if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (rc != SQLITE_ROW) return MapSqlite(rc, ERROR_CANTREAD);
    DWORD stored = static_cast<DWORD>(q.Int(0));
    if (type) *type = stored;
    return CopyData(q.Blob(1), data, dataSize, IsStringType(stored));
  });
}

LONG RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (!data && dataSize != 0) return ERROR_INVALID_PARAMETER;
  std::u16string name = valueName ? std::u16string(valueName) : std::u16string();
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  return InKey(key, true, true, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    // An existing value is updated in place so that it keeps its enumeration position.
    Stmt up(db,
            "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?) "
            "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    up.Bind(1, id).Bind(2, platform::Utf16ToUtf8(name)).Bind(3, FoldUtf8(name)).Bind(4, type);
    up.BindBlob(5, data, dataSize);
    int rc = up.Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapSqlite(rc, ERROR_CANTWRITE);
  });
}

LONG RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type, LPBYTE data,
                  LPDWORD dataSize) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  return InKey(key, false, false, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (id == 0) return ERROR_NO_MORE_ITEMS;
    Stmt q(db, "SELECT name, type, data FROM vals WHERE key=? ORDER BY id LIMIT 1 OFFSET ?");
    q.Bind(1, id).Bind(2, static_cast<sqlite3_int64>(index));
    int rc = q.Step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return MapSqlite(rc, ERROR_CANTREAD);
    if (LONG e = CopyName(q.Text(0), name, nameLength)) return e;
    DWORD stored = static_cast<DWORD>(q.Int(1));
    if (type) *type = stored;
    return CopyData(q.Blob(2), data, dataSize, IsStringType(stored));
  });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPWSTR keyClass,
                  LPDWORD classLength, PFILETIME lastWriteTime) {
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  LONG e = InKey(key, false, false, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (id == 0) return ERROR_NO_MORE_ITEMS;
    Stmt q(db, "SELECT name FROM keys WHERE parent=? ORDER BY id LIMIT 1 OFFSET ?");
    q.Bind(1, id).Bind(2, static_cast<sqlite3_int64>(index));
    int rc = q.Step();
    if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW) return MapSqlite(rc, ERROR_CANTREAD);
    return CopyName(q.Text(0), name, nameLength);
  });
  if (e != ERROR_SUCCESS) return e;
  if (keyClass && classLength && *classLength > 0) keyClass[0] = 0;
  if (classLength) *classLength = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                     LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                     LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                     PFILETIME lastWriteTime) {
  DWORD nKeys = 0, maxKey = 0, nVals = 0, maxName = 0, maxData = 0;
  LONG e = InKey(key, false, false, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (id == 0) return ERROR_SUCCESS;
    Stmt keys(db, "SELECT name FROM keys WHERE parent=?");
    keys.Bind(1, id);
    int rc;
    while ((rc = keys.Step()) == SQLITE_ROW) {
      ++nKeys;
      maxKey = std::max<DWORD>(maxKey, static_cast<DWORD>(platform::Utf8ToUtf16(keys.Text(0)).size()));
    }
    if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTREAD);
    Stmt vals(db, "SELECT name, length(data) FROM vals WHERE key=?");
    vals.Bind(1, id);
    while ((rc = vals.Step()) == SQLITE_ROW) {
      ++nVals;
      maxName = std::max<DWORD>(maxName, static_cast<DWORD>(platform::Utf8ToUtf16(vals.Text(0)).size()));
      maxData = std::max<DWORD>(maxData, static_cast<DWORD>(vals.Int(1)));
    }
    return rc == SQLITE_DONE ? ERROR_SUCCESS : MapSqlite(rc, ERROR_CANTREAD);
  });
  if (e != ERROR_SUCCESS) return e;
  if (keyClass && classLength && *classLength > 0) keyClass[0] = 0;
  if (classLength) *classLength = 0;
  if (subKeys) *subKeys = nKeys;
  if (maxSubKeyLength) *maxSubKeyLength = maxKey;
  if (maxClassLength) *maxClassLength = 0;
  if (values) *values = nVals;
  if (maxValueNameLength) *maxValueNameLength = maxName;
  if (maxValueLength) *maxValueLength = maxData;
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegDeleteValue(HKEY key, LPCWSTR valueName) {
  return InKey(key, true, false, [&](sqlite3* db, sqlite3_int64 id) -> LONG {
    if (id == 0) return ERROR_FILE_NOT_FOUND;
    Stmt del(db, "DELETE FROM vals WHERE key=? AND fold=?");
    del.Bind(1, id).Bind(2, ValueFold(valueName));
    int rc = del.Step();
    if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTWRITE);
    return sqlite3_changes(db) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  });
}

LONG RegDeleteKey(HKEY key, LPCWSTR subKey) {
  std::vector<std::u16string> parts;
  if (LONG e = SplitPath(subKey, parts)) return e;
  return InKey(key, true, false, [&](sqlite3* db, sqlite3_int64 start) -> LONG {
    if (parts.empty() && IsPredefined(key)) return ERROR_ACCESS_DENIED;
    sqlite3_int64 id;
    if (LONG e = Walk(db, start, parts, id)) return e;
    if (id == 0) return ERROR_FILE_NOT_FOUND;
    // The key and its whole subtree go in one transaction.
    static const char* const kSubtree =
        "WITH RECURSIVE t(id) AS (SELECT ? UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id) ";
    for (const char* what : {"DELETE FROM vals WHERE key IN t", "DELETE FROM keys WHERE id IN t"}) {
      Stmt del(db, (std::string(kSubtree) + what).c_str());
      del.Bind(1, id);
      int rc = del.Step();
      if (rc != SQLITE_DONE) return MapSqlite(rc, ERROR_CANTWRITE);
    }
    return ERROR_SUCCESS;
  });
}

LONG RegFlushKey(HKEY key) {
  std::lock_guard lk(R().lock);
  sqlite3* db;
  if (LONG e = Db(db)) return e;
  {
    Txn t(db, false);
    if (t.rc() != SQLITE_OK) return MapSqlite(t.rc(), ERROR_CANTREAD);
    sqlite3_int64 id;
    if (LONG e = Resolve(db, key, false, id)) return e;
  }
  // A passive checkpoint syncs the log and copies what it can into the database file
  // without waiting for readers of other processes.
  int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY) return MapSqlite(rc, ERROR_REGISTRY_IO_FAILED);
  return ERROR_SUCCESS;
}

namespace platform::core {

void FailRegistryWriteAfter(int n) {
  gFailWriteAfter.store(n);
}

}  // namespace platform::core

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  std::lock_guard lk(R().lock);
  auto& handles = R().handles;
  auto it = handles.find(key);
  if (it == handles.end()) return ERROR_INVALID_HANDLE;
  handles.erase(it);
  delete key;
  return ERROR_SUCCESS;
}
