#pragma once
// The unit's history: every check and every write made to a unit, kept in a SQLite database
// that the program only ever adds to. Each record carries a SHA-256 over its content and the
// previous record's hash, so a record changed or removed behind the program's back breaks the
// chain and verify() names it. Qt-free: the tool and the window hold a RecordKeeper.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/protocol.h"

struct sqlite3;

namespace varnok::record {

// What a record is about.
inline constexpr const char* kKindCheck = "проверка";
inline constexpr const char* kKindWrite = "запись";
inline constexpr const char* kKindProfile = "профиль";
inline constexpr const char* kKindCommissioning = "ввод в работу";
inline constexpr const char* kKindCorrection = "поправка";

// The schema version this build writes and reads (PRAGMA user_version).
inline constexpr int kHistorySchemaVersion = 1;

// Whether this build has the store at all (every build does now); a front end that finds it false
// says kHistoryUnavailable where the history would be used.
extern const bool kHistoryBuilt;
inline constexpr const char* kHistoryUnavailable = "история недоступна в этой сборке";

struct HistoryRecord {
    int64_t id = 0;          // filled by append()
    std::string time;        // local, YYYY-MM-DD HH:MM:SS; append() fills it when empty
    std::string user;        // the operating-system user; append() fills it when empty
    Unit unit;               // factory number where known, name, version, network number, line
    std::string kind;        // one of kKind*
    std::string what;        // what was written, e.g. "канал 1: ноль"
    std::string old_value;   // as text, empty when unknown
    std::string new_value;
    std::string protocol_number;  // a check's
    std::string document;         // a check's JSON document with all its points
    int64_t refers_to = 0;        // a correction: the id of the record it corrects; 0: none
    std::string hash;             // hex SHA-256 over the content and prev_hash; filled by append()
    std::string prev_hash;        // the previous record's hash ("" for the first)
};

// Which records list() returns. Empty / unset fields match everything.
struct HistoryQuery {
    std::string factory_number;
    std::optional<int> network_number;
    std::string since;  // YYYY-MM-DD or YYYY-MM-DD HH:MM:SS: records at or after it
};

// The hex SHA-256 a record must carry: over its content (id included) and its prev_hash.
std::string record_hash(const HistoryRecord& r);

// Whose the store is. The default one in the user's folder is private: only a file of this
// user's is used. A store the user named (an option, the settings file) may be a service's,
// shared by a group: another user's file is used too when it is a regular file that its group,
// which this user belongs to, may write and nobody else may; a new one is made 0660.
enum class StoreSharing { Private, Group };

// One connection to the store at one path.
class History {
public:
    // Opens the database at `path`, creating it (0600, its folder 0700) and its schema when
    // missing. nullptr with `error` as one Russian line naming the path and the reason: not a
    // regular file, cannot be opened, not a database, a newer schema (the file left untouched).
    // Waits up to `busy_ms` for a lock another writer holds.
    static std::unique_ptr<History> open(const std::string& path, std::string& error, int busy_ms = 5000,
                                         StoreSharing sharing = StoreSharing::Private);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Adds `r` in one transaction, filling its id, time and user when empty, prev_hash and hash.
    bool append(HistoryRecord& r, std::string& error);
    // The matching records, newest first.
    bool list(const HistoryQuery& q, std::vector<HistoryRecord>& out, std::string& error);
    // The newest record with a document for protocol `number`: the check, or the correction
    // that replaced its document.
    std::optional<HistoryRecord> find_protocol(const std::string& number, std::string& error);
    // "" when every record matches its hash and chain and the store still holds the newest record
    // written to it (a mark beside it, <path>.anchor, keeps that record's id and hash); else one
    // line that names the first record that does not (or the reason it could not be read).
    std::string verify();

    const std::string& path() const { return path_; }

private:
    History(sqlite3* db, std::string path);
    sqlite3* db_;
    std::string path_;
};

// $XDG_DATA_HOME/varnok/history.sqlite (or ~/.local/share/...), %LOCALAPPDATA%\varnok\history.sqlite
// on Windows. "" when none of these is set.
std::string default_history_path();
// The operating-system user this process runs as ("" when unknown).
std::string current_user();
// Now, local, as strftime writes it in `format`.
std::string local_time_now(const char* format = "%Y-%m-%d %H:%M:%S");

// What the front ends hold: opens the store at its first use, tells a store that cannot be
// opened, is locked or is corrupt once through the notice (once per outage: a store that came
// back and failed again is told again), keeps records in memory meanwhile and writes them,
// oldest first, at the next append once the store can be used again.
class RecordKeeper {
public:
    using Notice = std::function<void(const std::string& line)>;
    explicit RecordKeeper(std::string path, Notice notice = {}, int busy_ms = 5000,
                          StoreSharing sharing = StoreSharing::Private);
    ~RecordKeeper();

    // Keeps `r`; true when it (and everything kept before it) is now stored, with r.id and
    // r.hash filled. False: it waits in memory.
    bool append(HistoryRecord& r);
    // Tries to write what waits in memory; true when nothing waits any more.
    bool flush();
    // Records waiting in memory.
    size_t pending() const { return pending_.size(); }
    // The open store, opening it when needed; nullptr (told once) when it cannot be opened.
    History* history();
    const std::string& path() const { return path_; }
    // The last reason the store could not be used ("" when it could).
    const std::string& last_error() const { return last_error_; }

private:
    void fail(const std::string& line);
    std::string path_;
    Notice notice_;
    int busy_ms_;
    StoreSharing sharing_;
    std::unique_ptr<History> history_;
    std::vector<HistoryRecord> pending_;
    std::string last_error_;
    bool told_ = false;
};

}  // namespace varnok::record
