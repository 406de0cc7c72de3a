// Arbitrary bytes as what an earlier run (or anyone) left in a spool folder: names, kinds
// (regular file, FIFO, link, folder) and contents. Properties: the spool opens unless its lock
// is not a regular file; it hands out, in the order of their numbers and each once, exactly the
// contents of the regular, non-empty files named as messages are; it waits on nothing; what it
// cannot send it sets aside, so that a spool opened again finds only what was queued since.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/spool.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

namespace fs = std::filesystem;

// A folder of this process's own (temp_root()), removed at its end.
struct Folder {
    fs::path dir;
    Folder()
    {
        std::string pattern =
            temp_root() + std::string("/varnok-fuzz-spool-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            std::abort();
        dir = pattern;
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

const fs::path& folder()
{
    static const Folder f;
    return f.dir;
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool empty() const { return p_ == end_; }
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    std::string bytes(size_t n)
    {
        n = std::min(n, size_t(end_ - p_));
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

constexpr uint64_t kLastNumber = 9'999'999'999'999'999'999ull;

// A message's number when `name` is one, as the spool writes them: twenty digits and ".json",
// from 1 to 10^19 - 1; 0 otherwise.
uint64_t message_number(const std::string& name)
{
    if (name.size() != 25 || name.substr(20) != ".json" || name[0] != '0' || name.find_first_not_of("0123456789") != 20)
        return 0;
    return std::strtoull(name.substr(0, 20).c_str(), nullptr, 10);
}

}  // namespace

int spool_files(const uint8_t* data, size_t size)
{
    const fs::path dir = folder() / "q";
    const fs::path outside = folder() / "outside";
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directory(dir);
    std::ofstream(outside) << "outside the spool";

    // Up to eight entries: a kind, a name (a message's number, or free text with an ending) and
    // a content.
    Input in(data, size);
    std::map<uint64_t, std::string> expected;  // what a regular file with a message's name holds
    uint64_t last = 0;                         // the highest such name, empty or not
    bool lock_usable = true;
    for (int n = 0; n < 8 && !in.empty(); ++n) {
        const uint8_t kind = in.byte() % 4;
        const uint8_t how = in.byte();
        std::string name;
        if (how < 128) {
            uint64_t seq = 0;
            for (int i = 0; i < 8; ++i)
                seq = seq << 8 | in.byte();
            char text[40];
            std::snprintf(text, sizeof text, "%020llu.json", static_cast<unsigned long long>(seq >> (how % 64)));
            name = text;
        } else {
            for (char c : in.bytes(how % 32))
                name += c == '/' || c == '\0' ? '_' : c;
            static const char* const endings[] = {".json", ".tmp", "", ".json.tmp"};
            name += endings[(how >> 5) & 3];
        }
        const std::string content = in.bytes(in.byte());
        if (name.empty() || name == "." || name == ".." || fs::exists(fs::symlink_status(dir / name)))
            continue;
        const fs::path path = dir / name;
        if (kind == 0)
            std::ofstream(path, std::ios::binary) << content;
        else if (kind == 1)
            ::mkfifo(path.c_str(), 0600);
        else if (kind == 2)
            fs::create_symlink(outside, path, ec);
        else
            fs::create_directory(path, ec);
        if (name == "lock")
            lock_usable = kind == 0;
        if (const uint64_t seq = message_number(name); kind == 0 && seq != 0) {
            last = std::max(last, seq);
            if (!content.empty())
                expected[seq] = content;
        }
    }

    std::vector<std::pair<uint64_t, std::string>> want(expected.begin(), expected.end());
    std::vector<std::pair<uint64_t, std::string>> got;
    uint64_t next = 0;
    try {
        cli::Spool s(dir, 1ull << 40);
        while (const auto e = s.front()) {
            got.emplace_back(e->seq, e->text);
            s.pop(e->seq);
            expect(got.size() <= want.size(), "the spool hands out more than it holds");
            if (got.size() > want.size())
                return 0;
        }
        expect(lock_usable, "a spool opened whose lock is not a regular file");
        expect(got == want, "the spool hands out other messages than its regular files hold");
        try {
            s.push("next");
        } catch (const std::runtime_error&) {
            // Only past the last number a name can have.
            expect(last == kLastNumber, "a message that could not be queued");
            return 0;
        }
        next = s.front()->seq;
    } catch (const std::runtime_error&) {
        expect(!lock_usable, "a spool that would not open");
        return 0;
    }
    expect(next > last, "a message queued after the others comes before them");

    cli::Spool again(dir, 1ull << 40);
    const auto first = again.front();
    expect(again.size() == 1 && first && first->seq == next && first->text == "next",
           "a message set aside or sent is there again");
    return 0;
}

}  // namespace varnok::fuzz
