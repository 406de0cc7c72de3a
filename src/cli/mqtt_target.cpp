#include "cli/mqtt_target.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "cli/mqtt_files.h"
#include "cli/options.h"
#include "cli/publisher.h"
#include "cli/session.h"
#include "settings/utf8.h"

namespace varnok::cli {

namespace {

// A topic prefix is a few levels of names; a longer one would make the spool's path too long.
constexpr size_t kLongestPrefix = 256;

// %XX as the byte XX; `where` names the part of the address for the message, which never
// quotes the text.
std::string percent_decoded(const std::string& s, const char* where)
{
    utf8::PercentFault fault;
    std::string out = utf8::percent_decoded(s, &fault);
    if (fault == utf8::PercentFault::kMalformed)
        throw UsageError(std::string("--mqtt: неверная запись %XX ") + where);
    // The library takes the user and the password as C strings: a zero byte would cut them
    // there and log in with what comes before it.
    if (fault == utf8::PercentFault::kZero)
        throw UsageError(std::string("--mqtt: %00 (нулевой байт) ") + where + " недопустим");
    return out;
}

// The user and the password before the last '@' of `rest`, which loses them; none of it is
// ever quoted in a message.
void take_userinfo(std::string& rest, MqttTarget& t)
{
    const size_t at = rest.rfind('@');
    if (at == std::string::npos)
        return;
    const std::string userinfo = rest.substr(0, at);
    rest = rest.substr(at + 1);
    const size_t colon = userinfo.find(':');
    t.user = percent_decoded(userinfo.substr(0, colon), "в имени или пароле");
    if (colon != std::string::npos)
        t.password = percent_decoded(userinfo.substr(colon + 1), "в имени или пароле");
    if (t.user.empty())
        throw UsageError("--mqtt: пустое имя пользователя");
}

void take_prefix(const std::string& text, MqttTarget& t)
{
    t.prefix = percent_decoded(text, "в префиксе");
    while (!t.prefix.empty() && t.prefix.back() == '/')
        t.prefix.pop_back();
    if (t.prefix.empty() || t.prefix.front() == '/' || t.prefix.find_first_of("+#") != std::string::npos)
        throw UsageError("--mqtt: префикс темы не пуст и без символов + и #");
    if (!topic_text(t.prefix))
        throw UsageError("--mqtt: префикс темы не в UTF-8 или с управляющими символами: брокер его не примет");
    if (t.prefix.size() > kLongestPrefix)
        throw UsageError("--mqtt: префикс темы длиннее " + std::to_string(kLongestPrefix) + " байт");
}

// HOST[:PORT] or [IPv6][:PORT]; `form` is the message for anything else.
void take_authority(const std::string& authority, MqttTarget& t, const std::string& form)
{
    std::string port;
    bool has_port = false;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string::npos)
            throw UsageError(form);
        t.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                throw UsageError(form);
            port = authority.substr(close + 2);
            has_port = true;
        }
    } else {
        const size_t colon = authority.find(':');
        t.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
            has_port = true;
        }
    }
    if (t.host.empty())
        throw UsageError(form);
    if (has_port)
        t.port = int(parse_number(port, 1, 65535, "порт брокера"));
}

}  // namespace

bool topic_text(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        const int32_t c = utf8::next_code_point(s, i);
        if (c < 0 || c <= 0x1F || (c >= 0x7F && c <= 0x9F) || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE)
            return false;
    }
    return true;
}

std::string topic_level(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_'))
            c = '_';
    return out.empty() ? "_" : out;
}

std::string MqttTarget::where() const
{
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MqttTarget parse_mqtt_url(const std::string& url)
{
    const std::string form = "--mqtt: нужно mqtt://[ИМЯ[:ПАРОЛЬ]@]УЗЕЛ[:ПОРТ]/ПРЕФИКС или mqtts://...";
    MqttTarget t;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        t.tls = true;
        t.port = 8883;
    } else {
        throw UsageError(form);
    }
    // To the last '@', so that a password may hold '/', ':' and '@' as they are.
    take_userinfo(rest, t);
    const size_t slash = rest.find('/');
    if (slash == std::string::npos)
        throw UsageError(form);
    take_prefix(rest.substr(slash + 1), t);
    take_authority(rest.substr(0, slash), t, form);
    return t;
}

std::string read_password_file(const std::string& path)
{
    // A pipe (--password-file <(...)) or a FIFO is read as it comes, with a time limit.
    const std::string head = "файл пароля " + path + " не прочитан: ";
    std::string text =
        read_without_waiting(path, head, {512, 4096, "длиннее 4096 байт", "пароль не пришёл за 10 с", true});
    text = text.substr(0, text.find_first_of("\r\n"));
    if (text.find('\0') != std::string::npos)
        throw UsageError(head + "в пароле нулевой байт");
    return text;
}

std::string hold_cafile(const std::string& path)
{
    const std::string head = "--cafile " + path + " не прочитан: ";
    const std::string text =
        read_without_waiting(path, head, {4096, 1u << 20, "длиннее 1 МиБ", "сертификаты не пришли за 10 с", false});
    return held_copy(text, head);
}

void check_line_name(const std::string& name)
{
    if (name.empty() || name.find_first_of("/+#") != std::string::npos || !topic_text(name))
        throw UsageError(
            "--line: имя линии — одно звено темы MQTT, непустое, UTF-8 без /, +, # и управляющих символов");
    if (name.size() > 64)
        throw UsageError("--line: имя линии длиннее 64 байт");
}

}  // namespace varnok::cli
