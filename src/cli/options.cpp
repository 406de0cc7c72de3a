#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "device/device.h"

namespace varnok::cli {

std::vector<uint8_t> parse_addresses(const std::string& text)
{
    std::vector<uint8_t> out;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        const auto n = uint8_t(parse_number(text.substr(from, comma - from), kMinSysNum, kMaxSysNum, "номер прибора"));
        // A device named twice would be polled twice a round, and its broker spool is held once.
        if (std::find(out.begin(), out.end(), n) != out.end())
            throw UsageError("номер прибора " + std::to_string(n) + " указан дважды");
        out.push_back(n);
        from = comma + 1;
    }
    return out;
}

Options parse_options(const std::vector<std::string>& argv)
{
    Options o;
    size_t i = 0;
    auto value = [&](const std::string& name) -> const std::string& {
        if (i + 1 >= argv.size())
            throw UsageError("у параметра " + name + " нет значения");
        return argv[++i];
    };
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "-p")
            o.port = value(a);
        else if (a == "-b")
            o.speed = parse_speed(value(a));
        else if (a == "-P")
            o.parity = parse_parity(value(a));
        else if (a == "-s")
            o.stopbit = parse_stopbit(value(a));
        else if (a == "-a")
            o.addresses = parse_addresses(value(a));
        else if (a == "--fast")
            o.fast = true;
        else if (a == "--settings")
            o.settings = value(a);
        else if (a == "--json")
            o.json = true;
        else if (a == "-v")
            o.verbose = true;
        else if (a == "-h" || a == "--help")
            o.help = true;
        else if (!a.empty() && a[0] == '-')
            throw UsageError("неизвестный параметр " + a);
        else
            break;
    }
    if (i < argv.size()) {
        o.command = argv[i];
        o.args.assign(argv.begin() + long(i) + 1, argv.end());
    }
    return o;
}

CommandArgs::CommandArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                         const std::vector<std::string>& flags)
{
    auto among = [](const std::vector<std::string>& names, const std::string& a) {
        return std::find(names.begin(), names.end(), a) != names.end();
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (among(valued, a)) {
            if (i + 1 >= args.size())
                throw UsageError("у параметра " + a + " нет значения");
            values_.emplace_back(a, args[++i]);
        } else if (among(flags, a)) {
            flags_.push_back(a);
        } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
            throw UsageError("неизвестный параметр " + a);
        } else {
            positional_.push_back(a);
        }
    }
}

std::optional<std::string> CommandArgs::value(const std::string& name) const
{
    std::optional<std::string> last;
    for (const auto& [n, v] : values_)
        if (n == name)
            last = v;
    return last;
}

bool CommandArgs::flag(const std::string& name) const
{
    return std::find(flags_.begin(), flags_.end(), name) != flags_.end();
}

uint64_t parse_size(const std::string& text, const std::string& what)
{
    const std::string bad = what + " \"" + text + "\": нужно число байт, можно с K, M или G";
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        throw UsageError(bad);
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
    const std::string unit = end;
    uint64_t mul = 1;
    if (unit == "K" || unit == "k")
        mul = 1ull << 10;
    else if (unit == "M")
        mul = 1ull << 20;
    else if (unit == "G")
        mul = 1ull << 30;
    else if (!unit.empty())
        throw UsageError(bad);
    if (errno == ERANGE || n == 0 || n > (1ull << 50) / mul)
        throw UsageError(bad);
    return n * mul;
}

}  // namespace varnok::cli
