// The tool's help and its bash completion, made from the command table.
#include <algorithm>
#include <string>
#include <vector>

#include "cli/command_table.h"
#include "cli/host.h"

namespace varnok::cli {

namespace {

// Characters, not bytes, of UTF-8 text: the columns it takes.
size_t columns(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

// A name and its help in two columns, the help from column `at` + 2 unless the name is longer.
std::string help_line(const std::string& name, const std::string& help, size_t at = 15)
{
    const size_t width = columns(name);
    return "  " + name + std::string(width + 2 <= at ? at - width : 2, ' ') + help + "\n";
}

// "varnok-cli [параметры связи] read [--every СЕКУНД] ...": items wrapped at 90 columns, each
// further line indented under the command.
std::string synopsis(const CommandRow& c)
{
    constexpr size_t kWidth = 90;
    const std::string indent(16, ' ');
    std::string text = "varnok-cli [параметры связи] " + c.name;
    std::string line = text;
    auto add = [&](const std::string& item) {
        if (columns(line) + 1 + columns(item) > kWidth) {
            text += "\n" + indent + item;
            line = indent + item;
        } else {
            text += " " + item;
            line += " " + item;
        }
    };
    if (!c.operands.empty())
        add(c.operands);
    for (const OptionRow& o : c.options)
        if (o.shown)
            add("[" + o.name + (o.value.empty() ? "" : " " + o.value) + "]");
    return text + "\n";
}

std::string tool_help()
{
    std::string text =
        "varnok-cli [параметры связи] КОМАНДА [аргументы]\n"
        "\n"
        "Прибор Varnok из терминала и из сценариев.\n"
        "\n"
        "Параметры связи (по умолчанию из файла настроек консоли), до или после команды;\n"
        "значение можно писать слитно: -a5, --speed=19200:\n";
    std::vector<std::string> names;
    size_t at = 0;
    for (const OptionRow& o : connection_options()) {
        names.push_back(o.name + (o.long_name.empty() ? "" : ", " + o.long_name) +
                        (o.value.empty() ? "" : " " + o.value));
        at = std::max(at, columns(names.back()) + 2);
    }
    for (size_t i = 0; i < names.size(); ++i)
        text += help_line(names[i], connection_options()[i].help, at);
    text +=
        "\n"
        "Если файл настроек есть, но не читается, set, load и commission ничего не\n"
        "посылают (код 2), пока связь не задана полностью: -p путь к устройству или\n"
        "tcp://УЗЕЛ:ПОРТ (имя COMn берётся из файла) и -a; остальные команды работают,\n"
        "сказав, с какой связью.\n"
        "\n"
        "Команды:\n";
    for (const CommandRow& c : command_rows())
        text += help_line(c.name + (c.operands.empty() ? "" : " " + c.operands), c.summary);
    return text +
           "\n"
           "varnok-cli КОМАНДА --help: о команде; varnok-cli --version: версия.\n"
           "Коды выхода: 0 выполнено, 1 ошибка прибора или проверки, 2 ошибка в командной строке,\n"
           "3 порт не открывается или брокер MQTT отказал в имени или пароле.\n";
}

// The shell words that fill COMPREPLY with what `c` offers for the word being typed.
std::string offer(const Completion& c, const std::string& extra = "")
{
    const std::string words = extra + (extra.empty() || c.words.empty() ? "" : " ") + c.words;
    std::string out;
    if (c.no_space)
        out += "compopt -o nospace; ";
    out += "COMPREPLY=($(compgen -W \"" + words + "\" -- \"$cur\"))";
    if (c.files)
        out += "; _filedir" + (c.extension.empty() ? "" : " " + c.extension);
    return out;
}

// A case arm for each option that takes a value, for the word after it.
std::string value_arms(const std::string& command, const std::vector<OptionRow>& options)
{
    std::string out;
    for (const OptionRow& o : options) {
        if (o.value.empty())
            continue;
        const Completion& c = o.values;
        out += "        " + command + ":" + o.name + (o.long_name.empty() ? "" : "|" + command + ":" + o.long_name) + ") ";
        if (!c.words.empty())
            out += offer(c) + "; ";
        else if (c.files)
            out += "_filedir" + (c.extension.empty() ? "" : " " + c.extension) + "; ";
        out += "return ;;\n";
    }
    return out;
}

}  // namespace

std::string help_text(const std::string& command)
{
    if (command.empty())
        return tool_help();
    const CommandRow* c = command_named(command);
    return c ? synopsis(*c) + "\n" + c->help : std::string();
}

std::string bash_completion()
{
    std::string names, first;
    for (const CommandRow& c : command_rows())
        names += (names.empty() ? "" : "|") + c.name;
    for (const CommandRow& c : command_rows())
        first += c.name + " ";
    for (const OptionRow& o : connection_options())
        first += o.name + " " + (o.long_name.empty() ? "" : o.long_name + " ");
    first += "--help --version";

    std::string s =
        "# bash completion of varnok-cli, made from its command table (varnok-cli --bash-completion)\n"
        "_varnok_cli()\n"
        "{\n"
        "    local cur prev words cword\n"
        "    _init_completion || return\n"
        "    local command=\"\" w\n"
        "    for w in \"${words[@]:1:cword-1}\"; do\n"
        "        case \"$w\" in " + names + ") command=$w ;; esac\n"
        "    done\n"
        "    case \"$command:$prev\" in\n";
    // A command's own option first: scan's --speed offers "all" too.
    for (const CommandRow& c : command_rows())
        s += value_arms(c.name, c.options);
    s += value_arms("*", connection_options());
    s += "    esac\n"
         "    case \"$command\" in\n"
         "        \"\") COMPREPLY=($(compgen -W \"" + first + "\" -- \"$cur\")) ;;\n";
    for (const CommandRow& c : command_rows()) {
        std::string opts;
        for (const OptionRow& o : c.options)
            opts += o.name + " ";
        // The connection options after the command too, but for a name the command has itself.
        for (const OptionRow& o : connection_options())
            for (const std::string& name : {o.name, o.long_name})
                if (!name.empty() && std::none_of(c.options.begin(), c.options.end(),
                                                  [&](const OptionRow& own) { return own.name == name; }))
                    opts += name + " ";
        s += "        " + c.name + ") " + offer(c.operand_values, opts + "--help") + " ;;\n";
    }
    return s + "    esac\n"
               "} && complete -F _varnok_cli varnok-cli\n";
}

}  // namespace varnok::cli
