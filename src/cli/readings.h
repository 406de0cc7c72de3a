#pragma once
// `read`: the poll of a list of devices, each with records of its own, and the outputs each
// poll goes to (text, CSV, JSON, MQTT) behind one small interface. A new output is a class of
// its own file and one line in read.cpp.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/value.h"
#include "device/device.h"
#include "ops/polling.h"

namespace varnok::cli {

class Session;
struct MqttOut;

// One device of a read: its number and records of its own, so that its percentages are of
// its own scales.
struct PolledDevice {
    PolledDevice(Link& link, DeviceNotices& notices, uint8_t number) : address(number), dev(link, notices) {}
    uint8_t address;
    Device dev;
    bool scaled = false;   // its three scales are read: its units can be named
    bool settled = false;  // its scales and setpoints are read: no more full polls
    // Read once before the first poll when an output shows them; none when not read.
    std::optional<std::string> name, version;
};

// One poll of one device.
struct Reading {
    const PolledDevice& device;
    size_t index;  // the device's place in the list
    std::chrono::system_clock::time_point when;
    long poll;  // 1, 2, ...
    bool full;  // this poll read the scales and setpoints too
    PollResult result;
    bool answered;  // the device gave at least one value in this poll
    // The last failure of this poll: the exchange's error code (none for a line of the
    // operation's own) and the reason in words.
    struct Failure {
        std::optional<int> code;
        std::string text;
    };
    std::optional<Failure> error;
};

class ReadingsOutput {
public:
    virtual ~ReadingsOutput() = default;
    // Whether it shows the devices' names and versions.
    virtual bool wants_names() const { return false; }
    virtual void reading(const Reading& r) = 0;
    // A write of it failed (told): the run ends after the reading in hand.
    virtual bool failed() const { return false; }
    // At the end of the run: kExitOk, or the exit code of what could not be finished.
    virtual int finish() { return 0; }
};

// A reading as text, CSV and JSON show it: time, address, value and percentage of each
// channel, frequency; null where a read failed.
Value reading_row(const Reading& r);
// A reading as a message for programs (read --json, MQTT): time, address, poll, then per
// channel its value, unit (also as an ASCII SI symbol) and percentage, flat, frequency, and
// the poll's error as {"code", "text"} or null.
Value reading_message(const Reading& r);

// A line of aligned values on standard output per reading.
std::unique_ptr<ReadingsOutput> text_output();
// A JSON object per reading on a line of standard output, written at once (JSON Lines).
std::unique_ptr<ReadingsOutput> json_output();
// The CSV for scripts (`,`, a decimal point, ISO times) or for a spreadsheet of the user's
// regional settings.
enum class CsvDialect { kStandard, kSheet };
// A CSV field as RFC 4180 has it: quoted when it holds the separator, a quote or a line end.
std::string csv_field(const std::string& text, char sep);
// A CSV file (standard output for "-"), a line per reading, each written at once, after what the
// file holds; a write that fails is told once, and ends the run; the header
// only in a new or empty file (a spreadsheet's once each of the `devices` has been polled, as it
// names their units). nullptr with the reason on standard error when the file cannot be made;
// UsageError when it holds something other than these readings.
std::unique_ptr<ReadingsOutput> csv_output(const std::string& path, CsvDialect dialect, size_t devices);
// Throws UsageError when csv_output would refuse the file for what it holds.
void check_csv_file(const std::string& path, CsvDialect dialect);
// Each device's readings to its broker connection, in the order of the devices.
std::unique_ptr<ReadingsOutput> mqtt_output(MqttOut& mqtt);

class DevicePoll {
public:
    DevicePoll(Session& s, const std::vector<uint8_t>& addresses);
    // Each device's name and version, once (until Ctrl-C).
    void read_names();
    // Polls the devices in turn `count` times (0: until Ctrl-C), `every` apart, the first
    // poll of a device with its scales and setpoints until they are read; each reading goes
    // to every output, and the run ends after one an output failed to write. After read_names(), a name or version not read then is asked again
    // once the device answers a poll. Ctrl-C ends the run, and a poll it cut short is dropped
    // whole. True when every read succeeded and, after Ctrl-C, some reading was delivered.
    bool run(long count, std::chrono::milliseconds every, const std::vector<ReadingsOutput*>& outputs);
    // Whether the last run() delivered any reading.
    bool delivered() const { return delivered_; }

private:
    // The name and version the device has not given yet.
    void read_missing_names(PolledDevice& d);

    Session& s_;
    std::vector<std::unique_ptr<PolledDevice>> devices_;
    bool names_ = false;
    bool delivered_ = false;  // a reading went to the outputs in this run
};

}  // namespace varnok::cli
