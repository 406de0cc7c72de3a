// Arbitrary bytes as the settings file. Properties: what is read is always within range; a
// file that cannot be read is never written over; a file that was read, written back with
// the values read from it, reads back the same, and writing it again changes nothing.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "settings/settings_file.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

// A folder of this process's own (temp_root()),
// removed when the process ends.
struct Folder {
    std::string dir;
    Folder()
    {
        std::string pattern =
            temp_root() + std::string("/varnok-fuzz-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            std::abort();
        dir = pattern;
    }
    ~Folder()
    {
        std::remove((dir + "/varnok.ini").c_str());
        ::rmdir(dir.c_str());
    }
};

const std::string& folder()
{
    static const Folder f;
    return f.dir;
}

struct Quiet : Notices, Sleeper {
    void message_box(const std::string&, const std::string&) override {}
    void sleep_ms(unsigned) override {}
};

struct State {
    Quiet quiet;
    PortMap ports;
    Link link{quiet, quiet, ports};
    std::string read_back;  // every value read, on one line

    bool load(SettingsFile& f)
    {
        if (!f.open_or_create())
            return false;
        f.read_port();
        f.From_Ini();
        f.read_ports(ports);
        const LinkSettings& l = link.settings();
        std::ostringstream s;
        s << l.name_comport << ' ' << int(l.num_name_comport) << ' ' << int(l.sys_num) << ' ' << l.scor_obmena << ' '
          << int(l.num_scor) << ' ' << int(l.parity) << ' ' << int(l.stopbit) << ' ' << int(f.poll_period_index())
          << ' ' << f.poll_period() << ' ' << l.timeouts.R_IntervalTimeout << ' ' << l.timeouts.R_TotalTimeoutMultiplier
          << ' ' << l.timeouts.R_TotalTimeoutConstant << ' ' << l.timeouts.W_TotalTimeoutMultiplier << ' '
          << l.timeouts.W_TotalTimeoutConstant;
        for (const auto& [n, path] : ports.entries())
            s << " COM" << n << '=' << path;
        read_back = s.str();
        return true;
    }
};

std::string text_of(const std::string& path)
{
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// The text without its blank lines: where the parser puts a blank line around a comment may
// settle on the first write; no line of content may.
std::string content_of(const std::string& text)
{
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out += line + '\n';
    return out;
}

}  // namespace

int settings_file(const uint8_t* data, size_t size)
{
    const std::string path = folder() + "/varnok.ini";
    const std::string content(reinterpret_cast<const char*>(data), size);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;

    State a;
    SettingsFile file(a.link, path);
    if (!a.load(file)) {
        expect(!file.usable() && !file.problem().empty(), "an unread file was not reported");
        expect(!file.ToIni(false), "an unread file was written over");
        expect(text_of(path) == content, "an unread file was changed");
        return 0;
    }
    const LinkSettings& l = a.link.settings();
    expect(l.num_name_comport >= 1 && l.num_name_comport <= kPortCount && l.sys_num >= 1 && l.sys_num <= 247 &&
               l.parity <= 2 && (l.stopbit == 1 || l.stopbit == 2) && file.poll_period_index() < var_time_opros.size() &&
               l.num_scor == number_scor(l.scor_obmena) && l.scor_obmena >= 0,
           "a value read is out of its range");

    expect(file.ToIni(false), "a file that was read could not be written");
    const std::string written = text_of(path);
    State b;
    SettingsFile again(b.link, path);
    expect(b.load(again), "a written file does not read");
    expect(b.read_back == a.read_back, "a written file reads back other values");
    expect(again.ToIni(false) && content_of(text_of(path)) == content_of(written), "writing the file again changed it");
    return 0;
}

}  // namespace varnok::fuzz
