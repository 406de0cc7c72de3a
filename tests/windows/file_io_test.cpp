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

// A device's name and a folder are no files to write: refused by what they are, untouched.
TEST(WindowsFiles, DevicesAndFoldersAreNoFilesToWrite)
{
    const fs::path folder = fs::temp_directory_path() / ("varnok-folder-" + std::to_string(std::random_device()()));
    fs::create_directory(folder);
    Stamp stamp;
    std::string reason;
    for (const std::string device : {"NUL", "COM7", "con.txt", R"(\\.\COM1)"}) {
        EXPECT_FALSE(replace(device, "x", stamp, reason)) << device;
        EXPECT_EQ(reason, "это устройство, а не обычный файл") << device;
        EXPECT_EQ(open_for_writing(device, true, reason), nullptr) << device;
        EXPECT_EQ(reason, "это устройство, а не обычный файл") << device;
    }
    EXPECT_FALSE(replace(folder.string(), "x", stamp, reason));
    EXPECT_EQ(reason, "это папка, а не обычный файл");
    EXPECT_EQ(open_for_writing(folder.string(), true, reason), nullptr);
    EXPECT_TRUE(fs::is_directory(folder));
    fs::remove_all(folder);
}

}  // namespace
}  // namespace varnok::file_io
