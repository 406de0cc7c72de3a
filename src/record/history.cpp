#include "record/history.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <vector>

#include "record/sha256.h"
#include "settings/file_io.h"

#ifdef _WIN32
#include <windows.h>
#include "settings/utf16.h"
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnok::record {

const bool kHistoryBuilt = true;

namespace {

// The reason SQLite gave, as one Russian line.
std::string reason_of(sqlite3* db, int rc)
{
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "база занята другой программой";
    case SQLITE_CORRUPT: return "база повреждена";
    case SQLITE_NOTADB: return "это не база данных";
    case SQLITE_CANTOPEN: return "файл не открывается";
    case SQLITE_READONLY: return "база только для чтения";
    case SQLITE_PERM: return "нет доступа";
    case SQLITE_FULL: return "диск заполнен";
    case SQLITE_IOERR: return "ошибка ввода-вывода";
    case SQLITE_CONSTRAINT: return std::string("запись отвергнута: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    default: return std::string("ошибка SQLite: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    }
}

bool exec(sqlite3* db, const char* sql, std::string& reason)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        reason = reason_of(db, rc);
    return rc == SQLITE_OK;
}

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) { rc_ = sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
    ~Statement() { sqlite3_finalize(st_); }
    bool ok() const { return rc_ == SQLITE_OK; }
    int rc() const { return rc_; }
    sqlite3_stmt* get() { return st_; }
    void text(int i, const std::string& s) { sqlite3_bind_text(st_, i, s.data(), int(s.size()), SQLITE_TRANSIENT); }
    void integer(int i, int64_t v) { sqlite3_bind_int64(st_, i, v); }
    int step() { return rc_ = sqlite3_step(st_); }
    std::string column_text(int i)
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, i));
        return p ? std::string(p, size_t(sqlite3_column_bytes(st_, i))) : std::string();
    }
    int64_t column_int(int i) { return sqlite3_column_int64(st_, i); }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
    int rc_;
};

constexpr const char* kColumns =
    "id, time, user, factory_number, unit_name, unit_version, network_number, line, kind, what, "
    "old_value, new_value, protocol_number, document, refers_to, prev_hash, hash";

HistoryRecord read_row(Statement& s)
{
    HistoryRecord r;
    r.id = s.column_int(0);
    r.time = s.column_text(1);
    r.user = s.column_text(2);
    r.unit.factory_number = s.column_text(3);
    r.unit.name = s.column_text(4);
    r.unit.version = s.column_text(5);
    r.unit.network_number = int(s.column_int(6));
    r.unit.line = s.column_text(7);
    r.kind = s.column_text(8);
    r.what = s.column_text(9);
    r.old_value = s.column_text(10);
    r.new_value = s.column_text(11);
    r.protocol_number = s.column_text(12);
    r.document = s.column_text(13);
    r.refers_to = s.column_int(14);
    r.prev_hash = s.column_text(15);
    r.hash = s.column_text(16);
    return r;
}

// Brings the schema from `from` up to kHistorySchemaVersion, in the caller's transaction. Each
// step takes one version to the next; a database made by a first version is read by every later.
bool migrate(sqlite3* db, int from, std::string& reason)
{
    if (from < 1) {
        // Records are only ever inserted: the triggers refuse a change or a removal made through
        // SQLite, so that only a deliberate tamperer gets past them (and the hashes find him).
        if (!exec(db,
                  "CREATE TABLE records ("
                  " id INTEGER PRIMARY KEY,"
                  " time TEXT NOT NULL, user TEXT NOT NULL,"
                  " factory_number TEXT NOT NULL, unit_name TEXT NOT NULL, unit_version TEXT NOT NULL,"
                  " network_number INTEGER NOT NULL, line TEXT NOT NULL,"
                  " kind TEXT NOT NULL, what TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL,"
                  " protocol_number TEXT NOT NULL, document TEXT NOT NULL, refers_to INTEGER NOT NULL,"
                  " prev_hash TEXT NOT NULL, hash TEXT NOT NULL);"
                  "CREATE INDEX records_factory ON records(factory_number);"
                  "CREATE INDEX records_network ON records(network_number);"
                  "CREATE INDEX records_protocol ON records(protocol_number);"
                  "CREATE TRIGGER records_keep_update BEFORE UPDATE ON records"
                  " BEGIN SELECT RAISE(ABORT, 'history records are never changed'); END;"
                  "CREATE TRIGGER records_keep_delete BEFORE DELETE ON records"
                  " BEGIN SELECT RAISE(ABORT, 'history records are never removed'); END;",
                  reason))
            return false;
    }
    // Later versions add their steps here: if (from < 2) { ... }
    return exec(db, "PRAGMA user_version = 1", reason);
}

// One length-prefixed field of the hashed content, so that no two records hash the same text.
void field(std::string& out, const std::string& v)
{
    out += std::to_string(v.size());
    out += ':';
    out += v;
    out += '\n';
}

std::string name_of(const HistoryRecord& r)
{
    std::string s = "запись " + std::to_string(r.id) + " (" + r.time + ", " + r.kind;
    if (!r.what.empty())
        s += ", " + r.what;
    return s + ")";
}

#ifndef _WIN32
// Creates the folders of `dir` that are missing, 0700 each.
bool make_folders(const std::string& dir, std::string& reason)
{
    if (dir.empty())
        return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        reason = "«" + dir + "» не папка";
        return false;
    }
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_folders(dir.substr(0, slash), reason))
        return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = "папка " + dir + " не создаётся: " + std::strerror(errno);
        return false;
    }
    return true;
}
#endif

#ifndef _WIN32
// Whether this process runs with group `gid`, as its own or as a supplementary one.
bool in_group(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(n > 0 ? n : 0));
    if (n > 0 && ::getgroups(n, groups.data()) == n)
        return std::find(groups.begin(), groups.end(), gid) != groups.end();
    return false;
}

// A group's store: another user's regular file, not a link, that its group (ours) may write to
// and nobody outside it may.
bool group_store(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWGRP) &&
           !(st.st_mode & S_IWOTH) && in_group(st.st_gid);
}
#endif

// Whether the store at `path` may be used: what the safe writers accept, or a group's store.
bool fit_store(const std::string& path, StoreSharing sharing, std::string& reason)
{
#ifdef _WIN32
    (void)sharing;
#else
    if (sharing == StoreSharing::Group && group_store(path))
        return true;
#endif
    return file_io::check_target(path, reason);
}

// The folder made and, where the system has modes, the file created before SQLite opens it: 0600,
// or 0660 for a group's store, whatever the umask.
bool prepare_file(const std::string& path, StoreSharing sharing, std::string& reason)
{
#ifdef _WIN32
    (void)sharing;  // the folder's permissions are the file's
    std::error_code ec;
    const std::filesystem::path p(utf16_of(path));
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path(), ec);
    if (ec) {
        reason = "папка не создаётся: " + ec.message();
        return false;
    }
    return true;
#else
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !make_folders(path.substr(0, slash), reason))
        return false;
    const mode_t mode = sharing == StoreSharing::Group ? 0660 : 0600;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        ::close(fd);
    }
    else if (errno != EEXIST) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
#endif
}


// The newest record the store is known to have held, kept beside it as its id and hash: taking
// the newest records away leaves no gap in the chain, but leaves this mark ahead of it.
std::string anchor_path(const std::string& path) { return path + ".anchor"; }

bool read_anchor(const std::string& path, int64_t& id, std::string& hash)
{
    std::string data, reason;
    file_io::Stamp stamp;
    if (!file_io::read_whole(anchor_path(path), 256, data, stamp, reason))
        return false;
    std::istringstream in(data);
    return bool(in >> id >> hash) && id > 0 && hash.size() == 64;
}

// Moves the mark to record `id`, under the store's write lock so that two writers never move it
// back. A mark that cannot be written only weakens verify(): the record is stored already.
void advance_anchor(sqlite3* db, const std::string& path, int64_t id, const std::string& hash)
{
    std::string ignored;
    if (!exec(db, "BEGIN IMMEDIATE", ignored))
        return;
    int64_t held = 0;
    std::string held_hash;
    if (!read_anchor(path, held, held_hash) || held < id) {
        file_io::Stamp stamp;
        file_io::replace(anchor_path(path), std::to_string(id) + " " + hash + "\n", stamp, ignored);
    }
    exec(db, "COMMIT", ignored);
}

}  // namespace

std::string record_hash(const HistoryRecord& r)
{
    std::string s;
    field(s, std::to_string(r.id));
    field(s, r.time);
    field(s, r.user);
    field(s, r.unit.factory_number);
    field(s, r.unit.name);
    field(s, r.unit.version);
    field(s, std::to_string(r.unit.network_number));
    field(s, r.unit.line);
    field(s, r.kind);
    field(s, r.what);
    field(s, r.old_value);
    field(s, r.new_value);
    field(s, r.protocol_number);
    field(s, r.document);
    field(s, std::to_string(r.refers_to));
    field(s, r.prev_hash);
    return sha256_hex(s);
}

namespace {

// The schema version the file says; -1 with the reason when it cannot be read.
int user_version(sqlite3* db, std::string& reason)
{
    Statement s(db, "PRAGMA user_version");
    if (!s.ok() || s.step() != SQLITE_ROW) {
        reason = reason_of(db, s.rc());
        return -1;
    }
    return int(s.column_int(0));
}

// Under the write lock, as another program may have made the schema meanwhile: a new file gets
// ours, an older one is migrated. False with the reason, and nothing changed.
bool bring_schema_up_to_date(sqlite3* db, std::string& reason)
{
    if (!exec(db, "BEGIN IMMEDIATE", reason))
        return false;
    const auto refuse = [&](const std::string& why) {
        reason = why;
        std::string ignored;
        exec(db, "ROLLBACK", ignored);
        return false;
    };
    const int now = user_version(db, reason);
    if (now < 0)
        return refuse(reason);
    if (now > kHistorySchemaVersion)
        return refuse("её схема версии " + std::to_string(now) + " новее этой программы, файл оставлен как есть");
    if (now == 0) {
        Statement s(db, "SELECT count(*) FROM sqlite_schema");
        if (!s.ok() || s.step() != SQLITE_ROW)
            return refuse(reason_of(db, s.rc()));
        if (s.column_int(0) != 0)
            return refuse("это база данных другой программы");
    }
    if (now < kHistorySchemaVersion && !migrate(db, now, reason))
        return refuse(reason);
    if (!exec(db, "COMMIT", reason))
        return refuse(reason);
    return true;
}

}  // namespace

History::History(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

History::~History() { sqlite3_close_v2(db_); }

std::unique_ptr<History> History::open(const std::string& path, std::string& error, int busy_ms,
                                       StoreSharing sharing)
{
    const auto fail = [&](const std::string& reason) {
        error = "история " + path + " не открывается: " + reason;
        return nullptr;
    };
    if (path.empty())
        return fail("путь не задан");
    std::string reason;
    if (!fit_store(path, sharing, reason))
        return fail(reason);
    if (!prepare_file(path, sharing, reason))
        return fail(reason);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        reason = reason_of(db, rc);
        sqlite3_close_v2(db);
        return fail(reason);
    }
    std::unique_ptr<History> h(new History(db, path));
    sqlite3_busy_timeout(db, busy_ms);
    sqlite3_extended_result_codes(db, 1);

    // The version is read before anything is written, so that a newer database stays as it is.
    const int version = user_version(db, reason);
    if (version < 0)
        return fail(reason);
    if (version > kHistorySchemaVersion)
        return fail("её схема версии " + std::to_string(version) + " новее этой программы (версия " +
                    std::to_string(kHistorySchemaVersion) + "), файл оставлен как есть");
    if (version < kHistorySchemaVersion && !bring_schema_up_to_date(db, reason))
        return fail(reason);
    // WAL: readers never wait for the writer, and a killed writer leaves every committed record.
    if (!exec(db, "PRAGMA journal_mode = WAL", reason) || !exec(db, "PRAGMA synchronous = FULL", reason))
        return fail(reason);
    return h;
}

bool History::append(HistoryRecord& r, std::string& error)
{
    std::string reason;
    const auto fail = [&](const std::string& why) {
        std::string ignored;
        exec(db_, "ROLLBACK", ignored);
        error = "запись в историю " + path_ + " не удалась: " + why;
        return false;
    };
    if (r.time.empty())
        r.time = local_time_now();
    if (r.user.empty())
        r.user = current_user();
    // IMMEDIATE: the write lock is taken before the last hash is read, so that two writers
    // never chain onto the same record.
    if (!exec(db_, "BEGIN IMMEDIATE", reason)) {
        error = "запись в историю " + path_ + " не удалась: " + reason;
        return false;
    }
    HistoryRecord next = r;
    {
        Statement s(db_, "SELECT id, hash FROM records ORDER BY id DESC LIMIT 1");
        if (!s.ok())
            return fail(reason_of(db_, s.rc()));
        const int rc = s.step();
        if (rc == SQLITE_ROW) {
            next.id = s.column_int(0) + 1;
            next.prev_hash = s.column_text(1);
        } else if (rc == SQLITE_DONE) {
            next.id = 1;
            next.prev_hash.clear();
        } else
            return fail(reason_of(db_, rc));
    }
    if (next.refers_to != 0) {
        Statement s(db_, "SELECT 1 FROM records WHERE id = ?1");
        s.integer(1, next.refers_to);
        if (s.step() != SQLITE_ROW)
            return fail("записи " + std::to_string(next.refers_to) + ", которую она поправляет, нет");
    }
    next.hash = record_hash(next);
    Statement s(db_,
                "INSERT INTO records (id, time, user, factory_number, unit_name, unit_version, network_number, "
                "line, kind, what, old_value, new_value, protocol_number, document, refers_to, prev_hash, hash) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)");
    if (!s.ok())
        return fail(reason_of(db_, s.rc()));
    s.integer(1, next.id);
    s.text(2, next.time);
    s.text(3, next.user);
    s.text(4, next.unit.factory_number);
    s.text(5, next.unit.name);
    s.text(6, next.unit.version);
    s.integer(7, next.unit.network_number);
    s.text(8, next.unit.line);
    s.text(9, next.kind);
    s.text(10, next.what);
    s.text(11, next.old_value);
    s.text(12, next.new_value);
    s.text(13, next.protocol_number);
    s.text(14, next.document);
    s.integer(15, next.refers_to);
    s.text(16, next.prev_hash);
    s.text(17, next.hash);
    if (const int rc = s.step(); rc != SQLITE_DONE)
        return fail(reason_of(db_, rc));
    if (const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); rc != SQLITE_OK)
        return fail(reason_of(db_, rc));
    advance_anchor(db_, path_, next.id, next.hash);
    r = std::move(next);
    return true;
}

bool History::list(const HistoryQuery& q, std::vector<HistoryRecord>& out, std::string& error)
{
    out.clear();
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM records WHERE (?1 = '' OR factory_number = ?1) AND (?2 IS NULL OR network_number = ?2)"
                            " AND (?3 = '' OR time >= ?3) ORDER BY id DESC";
    Statement s(db_, sql.c_str());
    if (!s.ok()) {
        error = "история " + path_ + " не читается: " + reason_of(db_, s.rc());
        return false;
    }
    s.text(1, q.factory_number);
    if (q.network_number)
        s.integer(2, *q.network_number);
    s.text(3, q.since);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        out.push_back(read_row(s));
    if (rc != SQLITE_DONE) {
        error = "история " + path_ + " не читается: " + reason_of(db_, rc);
        out.clear();
        return false;
    }
    return true;
}

std::optional<HistoryRecord> History::find_protocol(const std::string& number, std::string& error)
{
    const std::string sql = std::string("SELECT ") + kColumns +
                            " FROM records WHERE protocol_number = ?1 AND document <> '' ORDER BY id DESC LIMIT 1";
    Statement s(db_, sql.c_str());
    if (!s.ok()) {
        error = "история " + path_ + " не читается: " + reason_of(db_, s.rc());
        return std::nullopt;
    }
    s.text(1, number);
    const int rc = s.step();
    if (rc == SQLITE_ROW)
        return read_row(s);
    error = rc == SQLITE_DONE ? "протокола " + number + " в истории " + path_ + " нет"
                              : "история " + path_ + " не читается: " + reason_of(db_, rc);
    return std::nullopt;
}

std::string History::verify()
{
    {
        Statement s(db_, "PRAGMA quick_check");
        if (!s.ok() || s.step() != SQLITE_ROW)
            return "история " + path_ + " не читается: " + reason_of(db_, s.rc());
        if (s.column_text(0) != "ok")
            return "история " + path_ + " повреждена: " + s.column_text(0);
    }
    const std::string sql = std::string("SELECT ") + kColumns + " FROM records ORDER BY id";
    Statement s(db_, sql.c_str());
    if (!s.ok())
        return "история " + path_ + " не читается: " + reason_of(db_, s.rc());
    int64_t anchor_id = 0;
    std::string anchor_hash;
    const bool anchored = read_anchor(path_, anchor_id, anchor_hash);
    int64_t last_id = 0;
    std::string last_hash;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        const HistoryRecord r = read_row(s);
        if (r.hash != record_hash(r))
            return name_of(r) + " изменена: её содержимое не сходится с её хешем";
        if (r.id != last_id + 1 || r.prev_hash != last_hash)
            return name_of(r) + ": цепочка прервана, запись перед ней изменена или удалена";
        if (anchored && r.id == anchor_id && r.hash != anchor_hash)
            return name_of(r) + " не та, что была записана: записи с неё заменены";
        last_id = r.id;
        last_hash = r.hash;
    }
    if (rc != SQLITE_DONE)
        return "история " + path_ + " не читается: " + reason_of(db_, rc);
    if (anchored && anchor_id > last_id)
        return "история " + path_ + ": записи после № " + std::to_string(last_id) +
               " удалены (последняя записанная — № " + std::to_string(anchor_id) + ")";
    return {};
}

std::string default_history_path()
{
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local && *local)
        return utf8_of(local) + "\\varnok\\history.sqlite";
    return {};
#else
    // A relative XDG_DATA_HOME is invalid and ignored, as for every other XDG program.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg) + "/varnok/history.sqlite";
    const std::string home = file_io::home_folder();
    return home.empty() ? std::string() : home + "/.local/share/varnok/history.sqlite";
#endif
}

std::string current_user()
{
#ifdef _WIN32
    wchar_t name[257];
    DWORD size = 257;
    if (GetUserNameW(name, &size))
        return utf8_of(name);
    const wchar_t* env = _wgetenv(L"USERNAME");
    return env ? utf8_of(env) : std::string();
#else
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    const char* env = std::getenv("USER");
    return env ? env : "";
#endif
}

std::string local_time_now(const char* format)
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

RecordKeeper::RecordKeeper(std::string path, Notice notice, int busy_ms, StoreSharing sharing)
    : path_(std::move(path)), notice_(std::move(notice)), busy_ms_(busy_ms), sharing_(sharing)
{
}

RecordKeeper::~RecordKeeper() = default;

void RecordKeeper::fail(const std::string& line)
{
    last_error_ = line;
    // A store that failed once is opened afresh next time (it may have been replaced or unlocked).
    history_.reset();
    if (!told_ && notice_)
        notice_(line);
    told_ = true;
}

History* RecordKeeper::history()
{
    if (history_)
        return history_.get();
    std::string error;
    history_ = History::open(path_, error, busy_ms_, sharing_);
    if (!history_)
        fail(error);
    return history_.get();
}

bool RecordKeeper::flush()
{
    if (pending_.empty())
        return true;
    History* h = history();
    if (!h)
        return false;
    size_t done = 0;
    std::string error;
    for (; done < pending_.size(); ++done)
        if (!h->append(pending_[done], error))
            break;
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(done));
    if (!pending_.empty()) {
        fail(error);
        return false;
    }
    return true;
}

bool RecordKeeper::append(HistoryRecord& r)
{
    // The time and the user are those of the work, not of the moment the store comes back.
    if (r.time.empty())
        r.time = local_time_now();
    if (r.user.empty())
        r.user = current_user();
    if (!flush() || !history()) {
        pending_.push_back(r);
        return false;
    }
    std::string error;
    if (!history_->append(r, error)) {
        pending_.push_back(r);
        fail(error);
        return false;
    }
    // Stored again: a later outage is told again.
    told_ = false;
    last_error_.clear();
    return true;
}

}  // namespace varnok::record
