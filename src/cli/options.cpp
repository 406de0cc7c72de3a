#include "cli/options.h"

#include <algorithm>
#include <charconv>

#include "device/device.h"
#include "link/link_settings.h"

namespace varnok::cli {

long parse_number(const std::string& text, long lo, long hi, const std::string& what)
{
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v < lo || v > hi)
        throw UsageError(what + " \"" + text + "\": нужно целое число от " + std::to_string(lo) + " до " +
                         std::to_string(hi));
    return v;
}

int32_t parse_speed(const std::string& text)
{
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || number_scor(int32_t(v)) == 0 ||
        v != long(int32_t(v)))
        throw UsageError("скорость \"" + text + "\": допустимы 4800, 9600, 19200, 38400, 57600, 115200");
    return int32_t(v);
}

namespace {

constexpr const char* kParityNames[] = {"none", "odd", "even"};

}  // namespace

const char* parity_name(uint8_t parity) { return parity < 3 ? kParityNames[parity] : "?"; }

uint8_t parse_parity(const std::string& text)
{
    for (uint8_t i = 0; i < 3; ++i)
        if (text == kParityNames[i])
            return i;
    throw UsageError("паритет \"" + text + "\": допустимы none, odd, even");
}

uint8_t parse_stopbit(const std::string& text)
{
    if (text == "1" || text == "2")
        return uint8_t(text[0] - '0');
    throw UsageError("стоповые биты \"" + text + "\": допустимы 1 и 2");
}

std::vector<uint8_t> parse_addresses(const std::string& text)
{
    std::vector<uint8_t> out;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(',', from), text.size());
        out.push_back(uint8_t(parse_number(text.substr(from, comma - from), kMinSysNum, kMaxSysNum, "номер прибора")));
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

}  // namespace varnok::cli
