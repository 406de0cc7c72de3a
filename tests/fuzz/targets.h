#pragma once
// Fuzz targets: each takes arbitrary bytes and must neither crash, hang nor break the
// property it checks. libFuzzer drives them in the fuzz build; the normal tests replay the
// kept corpus through the same functions.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>

namespace varnok::fuzz {

// The answer checks and the decoding, for every request the console makes.
int answer_check(const uint8_t* data, size_t size);
// The settings file's reader, and a write of what it read reading back the same.
int settings_file(const uint8_t* data, size_t size);
// The simulator's framing of a byte stream into requests, and its answers to them.
int sim_request(const uint8_t* data, size_t size);
// The simulator's control commands, one per line.
int sim_control(const uint8_t* data, size_t size);
// The link's receive of an answer and the search probe's, of bytes arriving in pieces.
int link_receive(const uint8_t* data, size_t size);
// The broker address of `read --mqtt`, with and without a password in it.
int mqtt_url(const uint8_t* data, size_t size);
// The spool's reading of the files an earlier run (or anyone) left in its folder.
int spool_files(const uint8_t* data, size_t size);
// A commissioning sheet's bytes: its encodings, separators and quoting.
int commission_sheet(const uint8_t* data, size_t size);
// A configuration profile's text: taken or refused, and what is taken written back the same.
int profile_file(const uint8_t* data, size_t size);

// Where a broken property is told: aborts in the fuzz build, a test failure in the replay.
using FailureHandler = std::function<void(const char* what)>;
void set_failure_handler(FailureHandler handler);
void expect(bool holds, const char* what);

// Where a target makes the folder of its files: TMPDIR where it is set (a test's own), else
// memory where the system has it (the writes sync), else /tmp.
inline std::string temp_root()
{
    if (const char* t = std::getenv("TMPDIR"); t && *t)
        return t;
    return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace varnok::fuzz
