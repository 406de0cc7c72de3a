// The private log file on both platforms (the Windows test set runs this too): lines appended
// across openings, names listed and removed, UTF-8 paths.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "settings/file_io.h"
#include "settings/log_file.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& p)
{
    const std::u8string s = p.u8string();
    return {s.begin(), s.end()};
}

TEST(LogFile, AppendsAcrossOpeningsAndListsAndRemovesByName)
{
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const fs::path base = fs::temp_directory_path() / ("varnok-log-" + std::to_string(stamp));
    const fs::path dir = base / fs::path(u8"журнал") / fs::path(u8"дни");
    std::string reason;
    ASSERT_TRUE(file_io::make_folder(utf8(dir), reason)) << reason;

    const std::string file = utf8(dir / "frames-2026-12-10.log");
    for (const char* line : {"ЗАПРОС 05 03\n", "ОТВЕТ нет ответа\n"}) {
        log_file::Appender log;
        ASSERT_TRUE(log.open(file, reason)) << reason;
        EXPECT_TRUE(log.is_open());
        ASSERT_TRUE(log.append(line, reason)) << reason;
    }
    std::ifstream in(dir / "frames-2026-12-10.log", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "ЗАПРОС 05 03\nОТВЕТ нет ответа\n");
    in.close();

    // A folder where the file should be is no file to append to, nor a name to list.
    fs::create_directory(dir / "frames-2026-12-11.log");
    log_file::Appender other;
    EXPECT_FALSE(other.open(utf8(dir / "frames-2026-12-11.log"), reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(other.is_open());
#ifndef _WIN32
    // One anyone may write to may hold lines someone else put there.
    std::ofstream(dir / "frames-2026-12-12.log") << "planted\n";
    fs::permissions(dir / "frames-2026-12-12.log", fs::perms::others_write, fs::perm_options::add);
    EXPECT_FALSE(other.open(utf8(dir / "frames-2026-12-12.log"), reason));
    EXPECT_EQ(reason.rfind("в файл могут писать все: владелец ", 0), 0u) << reason;
    fs::remove(dir / "frames-2026-12-12.log");
#endif

    EXPECT_EQ(log_file::file_names(utf8(dir)), std::vector<std::string>{"frames-2026-12-10.log"});
    log_file::remove(utf8(dir), "frames-2026-12-10.log");
    EXPECT_TRUE(log_file::file_names(utf8(dir)).empty());
    EXPECT_EQ(fs::path(log_file::state_folder()).filename(), "varnok");
    fs::remove_all(base);
}

}  // namespace
}  // namespace varnok
