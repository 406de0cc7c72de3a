// Which folders of a Windows path are created: never its root (a drive, a network path's
// server and share, the part after \\?\ or \\.\). Plain text, so it runs on every platform.
#include <gtest/gtest.h>

#include "settings/windows_path.h"

namespace varnok {
namespace {

using Folders = std::vector<std::string>;

TEST(WindowsPath, FoldersBelowTheRootAreCreatedAndTheRootNever)
{
    EXPECT_EQ(folders_to_create(R"(C:\Users\ivan\AppData\Roaming\varnok)"),
              (Folders{R"(C:\Users)", R"(C:\Users\ivan)", R"(C:\Users\ivan\AppData)",
                       R"(C:\Users\ivan\AppData\Roaming)", R"(C:\Users\ivan\AppData\Roaming\varnok)"}));
    EXPECT_EQ(folders_to_create("d:/data//varnok/"), (Folders{"d:/data", "d:/data//varnok"}));
    EXPECT_EQ(folders_to_create("C:"), Folders{});
    EXPECT_EQ(folders_to_create("C:varnok"), Folders{"C:varnok"});
    EXPECT_EQ(folders_to_create(R"(\\server\share\bench 4\varnok)"),
              (Folders{R"(\\server\share\bench 4)", R"(\\server\share\bench 4\varnok)"}));
    EXPECT_EQ(folders_to_create("//server/share/varnok"), Folders{"//server/share/varnok"});
    EXPECT_EQ(folders_to_create(R"(\\server\share)"), Folders{});
    EXPECT_EQ(folders_to_create(R"(\\server)"), Folders{});
    EXPECT_EQ(folders_to_create(R"(\\?\C:\varnok\a)"), (Folders{R"(\\?\C:\varnok)", R"(\\?\C:\varnok\a)"}));
    EXPECT_EQ(folders_to_create(R"(\\?\UNC\server\share\varnok)"), Folders{R"(\\?\UNC\server\share\varnok)"});
    EXPECT_EQ(folders_to_create(R"(\\?\unc\server\share)"), Folders{});
    EXPECT_EQ(folders_to_create(R"(\\.\Volume{26a21bda}\varnok)"), Folders{R"(\\.\Volume{26a21bda}\varnok)"});
    EXPECT_EQ(folders_to_create(R"(\varnok\a)"), (Folders{R"(\varnok)", R"(\varnok\a)"}));
    EXPECT_EQ(folders_to_create(R"(varnok\a)"), (Folders{"varnok", R"(varnok\a)"}));
}

}  // namespace
}  // namespace varnok
