#include "cli/spool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "settings/utf8.h"

namespace varnok::cli {

namespace fs = std::filesystem;

namespace {

// Names run from 00000000000000000001.json; ten nines of headroom below 2^64 keep the next
// number from ever wrapping.
constexpr uint64_t kLastSeq = 9'999'999'999'999'999'999ull;
// A reading is a few hundred bytes: a longer file is none of ours.
constexpr size_t kLongestMessage = 1 << 20;

std::string name_of(uint64_t seq)
{
    char name[32];
    std::snprintf(name, sizeof name, "%020llu.json", static_cast<unsigned long long>(seq));
    return name;
}

// The number of a message's name as name_of() writes it; 0 for any other name.
uint64_t seq_of(const std::string& name)
{
    if (name.size() != 25 || name.compare(20, 5, ".json") != 0)
        return 0;
    uint64_t seq = 0;
    for (size_t i = 0; i < 20; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        const uint64_t digit = uint64_t(name[i] - '0');
        if (seq > (kLastSeq - digit) / 10)
            return 0;
        seq = seq * 10 + digit;
    }
    return seq;
}

bool ends_with(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

Spool::Spool(fs::path dir, uint64_t limit_bytes)
    : dir_(std::move(dir)), limit_(limit_bytes), folder_(spool_files::open(dir_))
{
    pick_up();
}

Spool::~Spool() = default;

void Spool::pick_up()
{
    std::vector<std::pair<uint64_t, uint64_t>> found;
    std::vector<std::pair<std::string, std::string>> bad;
    for (const auto& e : spool_files::list(*folder_)) {
        if (!ends_with(e.name, ".json"))
            continue;
        const uint64_t seq = seq_of(e.name);
        if (seq == 0)
            bad.emplace_back(e.name, "имя не номер очереди");
        else if (!e.regular)
            bad.emplace_back(e.name, "не обычный файл");
        else
            found.emplace_back(seq, e.use);
    }
    for (const auto& [name, why] : bad)
        set_aside_locked(name, why);
    std::sort(found.begin(), found.end());
    for (const auto& [seq, use] : found) {
        entries_.emplace_back(seq, use);
        bytes_ += use;
        next_ = seq + 1;
    }
}

size_t Spool::push(const std::string& message)
{
    std::lock_guard lock(mutex_);
    if (next_ > kLastSeq)
        throw std::runtime_error("очередь " + path_text(dir_) + ": номера сообщений исчерпаны");
    const uint64_t seq = next_++;
    // Written aside, synced and renamed: a run cut short or a power cut leaves the whole
    // message or none.
    uint64_t use = 0;
    std::string reason;
    if (!spool_files::write(*folder_, name_of(seq), message, use, reason))
        throw std::runtime_error("очередь " + path_text(dir_) + ": показание не записано: " + reason);
    entries_.emplace_back(seq, use);
    bytes_ += use;
    size_t dropped = 0;
    while (bytes_ > limit_ && entries_.size() > 1) {
        spool_files::remove(*folder_, name_of(entries_.front().first));
        bytes_ -= entries_.front().second;
        entries_.pop_front();
        ++dropped;
    }
    return dropped;
}

std::optional<Spool::Entry> Spool::front()
{
    for (;;) {
        uint64_t seq = 0;
        {
            std::lock_guard lock(mutex_);
            if (entries_.empty())
                return std::nullopt;
            seq = entries_.front().first;
        }
        // The file is not changed once named; a drop may remove it meanwhile.
        std::string text, why;
        const auto got = spool_files::read(*folder_, name_of(seq), kLongestMessage, text, why);
        if (got == spool_files::Read::kGone) {
            pop(seq);
            continue;
        }
        if (got == spool_files::Read::kOk && text.empty())
            why = "пустой файл";
        if (why.empty())
            return Entry{seq, std::move(text)};
        set_aside(seq, why);
    }
}

void Spool::pop(uint64_t seq)
{
    std::lock_guard lock(mutex_);
    if (entries_.empty() || entries_.front().first != seq)
        return;
    spool_files::remove(*folder_, name_of(seq));
    bytes_ -= entries_.front().second;
    entries_.pop_front();
}

void Spool::set_aside(uint64_t seq, const std::string& why)
{
    std::lock_guard lock(mutex_);
    if (entries_.empty() || entries_.front().first != seq)
        return;
    bytes_ -= entries_.front().second;
    entries_.pop_front();
    set_aside_locked(name_of(seq), why);
}

void Spool::set_aside_locked(const std::string& name, const std::string& why)
{
    // Out of the queue whatever becomes of the rename: it is not tried again in this run.
    const std::string aside = name + ".bad";
    const std::string failed = spool_files::rename(*folder_, name, aside);
    if (aside_++ == 0)
        aside_first_ = name + ": " + why + (failed.empty() ? ", отложен как " + aside : ", не переименован: " + failed);
}

size_t Spool::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

uint64_t Spool::bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t Spool::set_aside_count() const
{
    std::lock_guard lock(mutex_);
    return aside_;
}

std::string Spool::set_aside_first() const
{
    std::lock_guard lock(mutex_);
    return aside_first_;
}

fs::path spool_folder(const std::string& topic)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const char ch : topic) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_')
            name += ch;
        else
            name += {'%', hex[c >> 4], hex[c & 15]};
    }
    fs::path out;
    for (size_t at = 0; at < name.size(); at += 200)
        out /= name.substr(at, 200);
    return out;
}

std::string spool_topic(const fs::path& relative)
{
    std::string name;
    for (const auto& part : relative)
        name += part.string();
    return utf8::percent_decoded(name);
}

fs::path state_dir() { return spool_files::state_dir(); }

}  // namespace varnok::cli
