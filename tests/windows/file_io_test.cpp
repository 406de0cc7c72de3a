// The settings file's operations on Windows paths that the other tests do not reach.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "settings/file_io.h"

namespace varnok::file_io {
namespace {

namespace fs = std::filesystem;

// A path with the \\?\ prefix: its folders are made below "\\?\C:", never that itself.
TEST(WindowsFiles, ReplacingUnderALongPathPrefixMakesTheFolders)
{
    const fs::path top = fs::temp_directory_path() / ("varnok-long-" + std::to_string(std::random_device()()));
    const std::string path = R"(\\?\)" + (top / "a" / "varnok.ini").make_preferred().string();
    Stamp stamp;
    std::string reason, data;
    ASSERT_TRUE(replace(path, "[связь]\r\n", stamp, reason)) << path << ": " << reason;
    ASSERT_TRUE(read_whole(path, 100, data, stamp, reason)) << reason;
    EXPECT_EQ(data, "[связь]\r\n");
    fs::remove_all(top);
}

}  // namespace
}  // namespace varnok::file_io
