// The settings file's line ends: written as the platform's own text files have them (CRLF on
// Windows, LF elsewhere), read in either.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "settings/settings_file.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

struct Quiet : Notices {
    void message_box(const std::string&, const std::string&) override {}
};
struct NoPause : Sleeper {
    void sleep_ms(unsigned) override {}
};

#ifdef _WIN32
const std::string kEnd = "\r\n";
#else
const std::string kEnd = "\n";
#endif

std::string ends(std::string text, const std::string& end)
{
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += end.size())
        text.replace(at, 1, end);
    return text;
}

TEST(SettingsLineEnds, WrittenAsThePlatformWritesTextAndReadInEither)
{
    const fs::path dir = fs::temp_directory_path() / ("varnok-line-ends-" + std::to_string(std::random_device()()));
    fs::create_directories(dir);
    const std::string path = (dir / "varnok.ini").string();
    const std::string content = "; bench 4\n[связь]\nПОРТ=3\nСКОРОСТЬ=19200\n\n[порты]\nCOM3=/dev/ttyUSB1\n\n; spare\n";
    const std::string rewritten =
        "; bench 4\n\n[связь]\nПОРТ=3\nСКОРОСТЬ=19200\nНОМЕР=1\nПАРИТЕТ=0\nСТОПБИТ=1\nПЕРИОД ОПРОСА=2\n\n"
        "[порты]\nCOM3=/dev/ttyUSB1\n\n; spare\n";
    for (const std::string end : {"\r\n", "\n"}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << ends(content, end);
        Quiet notices;
        NoPause sleeper;
        PortMap ports;
        Link link(notices, sleeper, ports);
        SettingsFile file(link, path);
        ASSERT_TRUE(file.open_or_create()) << file.problem();
        file.read_port();
        file.From_Ini();
        EXPECT_EQ(link.settings().num_name_comport, 3);
        EXPECT_EQ(link.settings().scor_obmena, 19200);
        file.read_ports(ports);
        EXPECT_EQ(ports.entries(), (std::map<int, std::string>{{3, "/dev/ttyUSB1"}}));

        ASSERT_TRUE(file.ToIni(false)) << file.problem();
        std::ostringstream written;
        written << std::ifstream(path, std::ios::binary).rdbuf();
        EXPECT_EQ(written.str(), ends(rewritten, kEnd));
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace varnok
