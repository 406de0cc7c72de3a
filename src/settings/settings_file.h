#pragma once
// The console's settings file: line settings, network number, poll period and serial
// time-outs in an INI file, read once at start-up and written at first start and on exit.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "link/link.h"
#include "link/port_map.h"
#include "settings/file_io.h"

namespace varnok {

// Poll periods in seconds, by the index the file stores.
inline constexpr std::array<int32_t, 8> var_time_opros = {1, 2, 5, 10, 30, 60, 120, 300};

// The console's defaults besides the line's (kDefaultLinkSettings): the poll period of a
// first start, and the two values a file without their key gives that differ from a first
// start's (the network number and the poll period).
inline constexpr uint8_t kDefaultPollPeriod = 1;  // index into var_time_opros
inline constexpr uint8_t kFileDefaultSysNum = 1;
inline constexpr uint8_t kFileDefaultPollPeriod = 2;

class SettingsFile {
public:
    // The settings of `link`, with the poll period they keep themselves: the pages read and
    // change it here.
    SettingsFile(Link& link, std::string path);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // $XDG_CONFIG_HOME/varnok.ini when that variable holds an absolute path, else
    // $HOME/.config/varnok.ini; on Windows %APPDATA%\varnok\varnok.ini.
    static std::string default_path();

    const std::string& path() const { return path_; }
    bool exists() const;

    // Start-up: loads the file when it exists, otherwise creates it from the current values
    // with ToIni(true). True when an existing file was loaded, so that read_port() and
    // From_Ini() should follow; after false, usable() and problem() tell whether all is well.
    bool open_or_create();

    // Writes "связь" and, when `Always`, "таймауты" from the stored time-outs, which are then
    // put in force. On exit (not `Always`) the fast exchange's switch goes to "быстрый обмен"
    // when it is on or the file already holds it. Everything else in the file is kept. False, with problem() set, when the
    // file could not be written, or when it exists but could not be read: overwriting it
    // would destroy what is there.
    bool ToIni(bool Always);

    // Port number into num_name_comport and name_comport (1 when missing or outside 1..16).
    void read_port();
    // Network number, line, poll period, the time-outs in force and the fast exchange, each
    // falling back to its default when missing, not an integer or out of range.
    // Both leave every value untouched when no file content was loaded or created.
    void From_Ini();

    // The switch of the frame log to a file, section "журнал": off when missing or not 0/1.
    bool frame_log() const;
    // How many days of frame log files to keep, today's included; 0 keeps them all. 30 when
    // missing or outside 0..kMaxFrameLogDays. Read, never written.
    int frame_log_days() const;
    static constexpr int kMaxFrameLogDays = 3650;
    // Stores the switch and writes the file at once; false, with problem() set, when the
    // file could not be written (as for ToIni).
    bool set_frame_log(bool on);

    // What the accuracy check remembers between runs, section "проверка": who checks and the
    // reference instrument. Empty texts where the file has none.
    struct CheckDefaults {
        std::string engineer;
        std::string reference_name;
        std::string reference_number;
        std::string reference_due;  // YYYY-MM-DD
        bool operator==(const CheckDefaults&) const = default;
    };
    CheckDefaults check_defaults() const;
    // Stores them and writes the file at once (line breaks and other control characters
    // become blanks, so that a value stays one line); false, with problem() set, as for ToIni.
    bool set_check_defaults(const CheckDefaults& values);

    // Where the unit's history is kept, section "история", key "файл"; empty where the file
    // names none. Read, never written.
    std::string history_file() const;

    // Explicit device paths of the port names from the section "порты".
    void read_ports(PortMap& map) const;

    // The poll period: its index into var_time_opros (what the file stores), and seconds.
    uint8_t poll_period_index() const { return n_time_opros_; }
    int32_t poll_period() const { return time_opros_; }
    // Takes the period of that index; an index outside var_time_opros changes nothing.
    void set_poll_period(int index);

    // The file was read at start-up or created by us, and may be written.
    bool usable() const { return state_ == State::loaded || state_ == State::created; }
    // The file is there but could not be read (not UTF-8, unreadable, not parsed): the values
    // in force are the defaults, not the file's. unread_reason() says why.
    bool unreadable() const { return state_ == State::unreadable; }
    const std::string& unread_reason() const { return unread_reason_; }
    // One line of text about the latest failure; empty when the latest operation went well.
    const std::string& problem() const { return problem_; }

private:
    enum class State { fresh, loaded, created, unreadable, not_created };
    struct Ini;

    bool load();
    bool refresh_before_write();
    bool save();
    std::string refusal() const;  // why an unreadable file is not written
    long get_int(const char* section, const char* key, long def, long lo, long hi) const;
    std::string render() const;

    Link& link_;
    uint8_t n_time_opros_ = kDefaultPollPeriod;
    int32_t time_opros_ = var_time_opros[kDefaultPollPeriod];
    std::string path_;
    std::unique_ptr<Ini> ini_;  // lives as long as this object, i.e. the whole run
    std::string trailer_;       // comment lines after the last entry, which the parser drops
    file_io::Stamp stamp_;      // the file as last loaded or written
    State state_ = State::fresh;
    std::string unread_reason_;  // why the file could not be read, while it stays unreadable
    std::string problem_;
};

}  // namespace varnok
