#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "cli/command_table.h"
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

std::string maybe_meant(const std::string& typed, const std::vector<std::string>& known)
{
    // Edit distance, a swap of neighbours counting one: "raed" and "reda" are a slip from "read".
    auto distance = [](const std::string& a, const std::string& b) {
        std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
        for (size_t i = 0; i <= a.size(); ++i)
            d[i][0] = i;
        for (size_t j = 0; j <= b.size(); ++j)
            d[0][j] = j;
        for (size_t i = 1; i <= a.size(); ++i)
            for (size_t j = 1; j <= b.size(); ++j) {
                d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
                if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                    d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        return d[a.size()][b.size()];
    };
    const std::string* best = nullptr;
    size_t best_distance = 0;
    for (const std::string& k : known) {
        const size_t n = distance(typed, k);
        if (n <= std::max<size_t>(1, std::min<size_t>(2, k.size() / 3)) && (!best || n < best_distance)) {
            best = &k;
            best_distance = n;
        }
    }
    return best ? "; может быть, " + *best + "?" : std::string();
}

Options parse_options(const std::vector<std::string>& argv)
{
    Options o;
    const CommandRow* command = nullptr;
    // The option `row` at argv[i], with its value: attached, or the next word.
    auto take = [&](const OptionRow& row, size_t& i) -> std::optional<std::string> {
        const std::string& a = argv[i];
        if (row.named(a)) {
            if (row.value.empty())
                return std::string();
            if (i + 1 >= argv.size())
                throw UsageError("у параметра " + a + " нет значения");
            return argv[++i];
        }
        return row.attached_value(a);
    };
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        bool taken = false;
        if (command)
            for (const OptionRow& own : command->options)
                if (const auto v = take(own, i)) {
                    o.args.push_back(own.name);
                    if (!own.value.empty())
                        o.args.push_back(*v);
                    taken = true;
                    break;
                }
        for (const OptionRow& c : connection_options())
            if (!taken)
                if (const auto v = take(c, i)) {
                    c.apply(o, *v);
                    taken = true;
                }
        if (taken)
            continue;
        if (a == "-h" || a == "--help") {
            (o.command.empty() ? o.help : o.command_help) = true;
        } else if (a == "--version" && o.command.empty()) {
            o.version = true;
        } else if (!o.command.empty() && a.rfind("--", 0) != 0) {
            o.args.push_back(a);  // an operand
        } else if (a.size() > 1 && a[0] == '-') {
            std::vector<std::string> known = {"--help"};
            if (command)
                for (const OptionRow& own : command->options)
                    known.push_back(own.name);
            else
                known.push_back("--version");
            for (const OptionRow& c : connection_options()) {
                known.push_back(c.name);
                if (!c.long_name.empty())
                    known.push_back(c.long_name);
            }
            throw UsageError("неизвестный параметр " + a + maybe_meant(a, known));
        } else {
            o.command = a;
            command = command_named(a);
            if (!command) {
                std::vector<std::string> names;
                for (const CommandRow& c : command_rows())
                    names.push_back(c.name);
                throw UsageError("неизвестная команда " + a + maybe_meant(a, names));
            }
        }
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
            std::vector<std::string> known = valued;
            known.insert(known.end(), flags.begin(), flags.end());
            throw UsageError("неизвестный параметр " + a + maybe_meant(a, known));
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
