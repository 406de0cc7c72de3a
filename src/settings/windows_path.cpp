#include "settings/windows_path.h"

namespace varnok {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Where the part of `p` that starts at `from` ends: at the next separator or the end.
size_t part_end(std::string_view p, size_t from)
{
    while (from < p.size() && !is_separator(p[from]))
        ++from;
    return from;
}

bool is_unc_word(std::string_view s)
{
    return s.size() == 3 && (s[0] | 0x20) == 'u' && (s[1] | 0x20) == 'n' && (s[2] | 0x20) == 'c';
}

// The length of the root of `p`: what no program creates, and the folders start after.
size_t root_length(std::string_view p)
{
    if (p.size() >= 2 && is_separator(p[0]) && is_separator(p[1])) {
        size_t at = 2;
        if (p.size() >= 4 && (p[2] == '?' || p[2] == '.') && is_separator(p[3])) {
            const size_t first = part_end(p, 4);
            if (!is_unc_word(p.substr(4, first - 4)) || first == p.size())
                return first;
            at = first + 1;
        }
        const size_t server = part_end(p, at);
        return server == p.size() ? server : part_end(p, server + 1);
    }
    const bool drive = p.size() >= 2 && p[1] == ':' && ((p[0] | 0x20) >= 'a' && (p[0] | 0x20) <= 'z');
    return drive ? 2 : 0;
}

}  // namespace

std::vector<std::string> folders_to_create(std::string_view dir)
{
    std::vector<std::string> folders;
    for (size_t pos = root_length(dir) + 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && !is_separator(dir[pos]))
            continue;
        if (!is_separator(dir[pos - 1]))  // not an empty part: "\\" inside, or a separator at the end
            folders.emplace_back(dir.substr(0, pos));
    }
    return folders;
}

}  // namespace varnok
