// The kept fuzz corpus replayed through its targets, so that every build checks the inputs
// that once found a fault or reached new code, without clang or libFuzzer.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

#include "targets.h"

namespace varnok::fuzz {
namespace {

namespace fs = std::filesystem;

TEST(FuzzCorpus, EveryKeptInputKeepsItsTargetsProperties)
{
    const struct {
        const char* name;
        int (*run)(const uint8_t*, size_t);
    } targets[] = {
        {"answer_check", answer_check}, {"settings_file", settings_file},       {"sim_request", sim_request},
        {"sim_control", sim_control},   {"link_receive", link_receive},         {"mqtt_url", mqtt_url},
        {"spool_files", spool_files},   {"commission_sheet", commission_sheet}, {"profile_file", profile_file},
    };
    for (const auto& t : targets) {
        size_t replayed = 0;
        for (const auto& entry : fs::directory_iterator(fs::path(VARNOK_CORPUS_DIR) / t.name)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            const std::string input = entry.path().filename().string();
            set_failure_handler([&](const char* what) { ADD_FAILURE() << t.name << "/" << input << ": " << what; });
            t.run(data.data(), data.size());
            ++replayed;
        }
        set_failure_handler({});
        EXPECT_GE(replayed, 10u) << t.name << ": the corpus has gone missing";
    }
}

}  // namespace
}  // namespace varnok::fuzz
