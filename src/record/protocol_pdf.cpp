// The protocol as a PDF: A4 pages drawn with libharu, the text in UTF-8 with DejaVu Sans
// embedded, so that the Cyrillic prints the same on any computer. The document is made in
// memory and then put in place by file_io::replace(), which writes a temporary file beside the
// target and renames it: a failure at any step leaves nothing at the path.
#include <hpdf.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "record/protocol_files.h"
#include "record/protocol_text.h"
#include "settings/file_io.h"
#include "settings/utf8.h"

#ifdef _WIN32
#include <windows.h>

#include "settings/utf16.h"
#endif

namespace varnok::record {

namespace {

constexpr const char* kRegularFont = "DejaVuSans.ttf";
constexpr const char* kBoldFont = "DejaVuSans-Bold.ttf";

// Where the fonts are: VARNOK_FONT_DIR when set; else the system's DejaVu folder, and on
// Windows the program's own folder, where the package puts them.
std::string font_dir()
{
#ifdef _WIN32
    if (const wchar_t* dir = _wgetenv(L"VARNOK_FONT_DIR"); dir && *dir)
        return utf8_of(dir);
    std::wstring exe(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, exe.data(), DWORD(exe.size()));
        if (n == 0)
            return ".";
        if (n < exe.size()) {
            exe.resize(n);
            break;
        }
        exe.resize(exe.size() * 2);
    }
    const size_t slash = exe.find_last_of(L"\\/");
    return slash == std::wstring::npos ? "." : utf8_of(exe.substr(0, slash));
#else
    if (const char* dir = std::getenv("VARNOK_FONT_DIR"); dir && *dir)
        return dir;
    return "/usr/share/fonts/truetype/dejavu";
#endif
}

std::string joined(const std::string& dir, const char* name)
{
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        return dir + name;
#ifdef _WIN32
    return dir + "\\" + name;
#else
    return dir + "/" + name;
#endif
}

// The path as libharu opens it (fopen with a narrow name). On Windows that is the ANSI code page:
// the short form of the path keeps a folder with other letters in its name reachable.
std::string native_path(const std::string& utf8_path)
{
#ifdef _WIN32
    const std::wstring wide = utf16_of(utf8_path);
    std::wstring shortened(wide.size() + 1, L'\0');
    const DWORD n = GetShortPathNameW(wide.c_str(), shortened.data(), DWORD(shortened.size()));
    const std::wstring use = n > 0 && n < shortened.size() ? shortened.substr(0, n) : wide;
    const int len = WideCharToMultiByte(CP_ACP, 0, use.c_str(), int(use.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(std::max(len, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, use.c_str(), int(use.size()), narrow.data(), len, nullptr, nullptr);
    return narrow;
#else
    return utf8_path;
#endif
}

// libharu reports through this handler and goes on returning errors; the first one is kept and
// told as the document's failure.
struct Failure {
    HPDF_STATUS error = HPDF_OK;
    HPDF_STATUS detail = 0;
};

void HPDF_STDCALL on_error(HPDF_STATUS error, HPDF_STATUS detail, void* data)
{
    Failure* f = static_cast<Failure*>(data);
    if (f->error == HPDF_OK) {
        f->error = error;
        f->detail = detail;
    }
}

std::string error_text(const Failure& f)
{
    const char* what = "ошибка библиотеки PDF";
    switch (f.error) {
    case HPDF_FAILD_TO_ALLOC_MEM:
        what = "не хватило памяти";
        break;
    case HPDF_FILE_IO_ERROR:
    case HPDF_FILE_OPEN_ERROR:
        what = "шрифт не открылся";
        break;
    case HPDF_TTF_CANNOT_EMBEDDING_FONT:
        what = "шрифт не разрешает встраивание";
        break;
    case HPDF_TTF_INVALID_CMAP:
    case HPDF_TTF_INVALID_FOMAT:
    case HPDF_TTF_MISSING_TABLE:
    case HPDF_INVALID_FONTDEF_DATA:
        what = "файл шрифта повреждён";
        break;
    default:
        break;
    }
    char code[64];
    std::snprintf(code, sizeof code, " (код 0x%04X, %u)", unsigned(f.error), unsigned(f.detail));
    return what + std::string(code);
}

// Text as the embedded font's UTF-8 encoder takes it: well formed, no control characters, and
// only the characters of the basic plane.
std::string pdf_text(const std::string& s)
{
    const std::string p = text::printable(s);
    std::string out;
    for (size_t i = 0; i < p.size();) {
        const size_t at = i;
        const int32_t c = utf8::next_code_point(p, i);
        if (c > 0xFFFF)
            out += '?';
        else
            out.append(p, at, i - at);
    }
    return out;
}

// A4 in points, and the margins.
constexpr float kWidth = 595.28f, kHeight = 841.89f;
constexpr float kLeft = 50, kRight = kWidth - 50, kTop = kHeight - 50, kBottom = 60;

enum class Align { kLeft, kRight, kCenter };

struct Column {
    std::string title;
    float width;
    Align align;
};

// Draws the protocol from the top of the first page down, starting a new page where the next
// line does not fit.
class Drawing {
public:
    Drawing(HPDF_Doc pdf, HPDF_Font regular, HPDF_Font bold) : pdf_(pdf), regular_(regular), bold_(bold) {}

    const std::vector<HPDF_Page>& pages() const { return pages_; }

    void new_page()
    {
        page_ = HPDF_AddPage(pdf_);
        HPDF_Page_SetSize(page_, HPDF_PAGE_SIZE_A4, HPDF_PAGE_PORTRAIT);
        pages_.push_back(page_);
        y_ = kTop;
        if (on_new_page_)
            on_new_page_();
    }

    // Room for `height` more points on this page, else a new one.
    void need(float height)
    {
        if (!page_ || y_ - height < kBottom)
            new_page();
    }

    void skip(float height) { y_ -= height; }

    float width_of(const std::string& s, bool strong, float size)
    {
        HPDF_Page_SetFontAndSize(page_, strong ? bold_ : regular_, size);
        return HPDF_Page_TextWidth(page_, s.c_str());
    }

    void put(float x, float baseline, const std::string& raw, bool strong, float size)
    {
        const std::string s = pdf_text(raw);
        HPDF_Page_BeginText(page_);
        HPDF_Page_SetFontAndSize(page_, strong ? bold_ : regular_, size);
        HPDF_Page_TextOut(page_, x, baseline, s.c_str());
        HPDF_Page_EndText(page_);
    }

    void put_aligned(float x, float width, float baseline, const std::string& raw, bool strong, float size, Align a)
    {
        const float w = width_of(pdf_text(raw), strong, size);
        const float at = a == Align::kLeft ? x : a == Align::kRight ? x + width - w : x + (width - w) / 2;
        put(at, baseline, raw, strong, size);
    }

    // `raw` broken into lines no wider than `width`, at spaces where it can be.
    std::vector<std::string> wrapped(const std::string& raw, float width, bool strong, float size)
    {
        need(size * 1.5f);
        const std::string s = pdf_text(raw);
        std::vector<std::string> lines;
        std::string line;
        size_t i = 0;
        while (i < s.size()) {
            size_t end = s.find(' ', i);
            if (end == std::string::npos)
                end = s.size();
            std::string word = s.substr(i, end - i);
            // A word wider than the line (a long path, a number without blanks) is cut.
            while (width_of(word, strong, size) > width) {
                if (!line.empty()) {
                    lines.push_back(line);
                    line.clear();
                }
                size_t cut = 0;
                for (size_t k = 0; k < word.size();) {
                    size_t next = k;
                    utf8::next_code_point(word, next);
                    if (cut > 0 && width_of(word.substr(0, next), strong, size) > width)
                        break;
                    cut = k = next;
                }
                lines.push_back(word.substr(0, cut));
                word.erase(0, cut);
            }
            const std::string tried = line.empty() ? word : line + " " + word;
            if (line.empty() || width_of(tried, strong, size) <= width)
                line = tried;
            else {
                lines.push_back(line);
                line = word;
            }
            i = end + 1;
        }
        if (!line.empty() || lines.empty())
            lines.push_back(line);
        return lines;
    }

    // A paragraph at `x`, as many lines as it takes.
    void paragraph(float x, const std::string& s, bool strong, float size, float width = kRight)
    {
        for (const std::string& line : wrapped(s, width - x, strong, size)) {
            need(size * 1.4f);
            y_ -= size * 1.4f;
            put(x, y_, line, strong, size);
        }
    }

    // A label and its value, the value wrapped in its own column.
    void field(const std::string& label, const std::string& value)
    {
        constexpr float size = 10, value_x = kLeft + 150;
        const std::vector<std::string> lines = wrapped(value, kRight - value_x, false, size);
        need(size * 1.5f);
        y_ -= size * 1.5f;
        put(kLeft, y_, label, false, size);
        for (size_t k = 0; k < lines.size(); ++k) {
            if (k > 0) {
                need(size * 1.3f);
                y_ -= size * 1.3f;
            }
            put(value_x, y_, lines[k], false, size);
        }
    }

    void centered(const std::string& s, bool strong, float size)
    {
        need(size * 1.6f);
        y_ -= size * 1.6f;
        put_aligned(kLeft, kRight - kLeft, y_, s, strong, size, Align::kCenter);
    }

    // One row of a table, each cell aligned as its column says, and a rule under it.
    void row(const std::vector<Column>& columns, const std::vector<std::string>& cells, bool strong, float size)
    {
        const float h = size * 1.6f;
        need(h);
        y_ -= h;
        float x = kLeft;
        for (size_t k = 0; k < columns.size() && k < cells.size(); ++k) {
            put_aligned(x + 3, columns[k].width - 6, y_ + size * 0.45f, cells[k], strong, size, columns[k].align);
            x += columns[k].width;
        }
        rule(y_);
    }

    void rule(float at)
    {
        HPDF_Page_SetLineWidth(page_, 0.5f);
        HPDF_Page_MoveTo(page_, kLeft, at);
        HPDF_Page_LineTo(page_, kRight, at);
        HPDF_Page_Stroke(page_);
    }

    void footer(HPDF_Page page, const std::string& left, const std::string& right)
    {
        page_ = page;
        put(kLeft, kBottom - 28, left, false, 8);
        put_aligned(kLeft, kRight - kLeft, kBottom - 28, right, false, 8, Align::kRight);
    }

    float y() const { return y_; }

    // Run on each new page from now on (a table's header again), until cleared.
    void repeat_on_new_page(std::function<void()> f) { on_new_page_ = std::move(f); }

private:
    HPDF_Doc pdf_;
    HPDF_Font regular_, bold_;
    HPDF_Page page_ = nullptr;
    std::vector<HPDF_Page> pages_;
    float y_ = kTop;
    std::function<void()> on_new_page_;
};

constexpr float kTableSize = 9;

std::vector<Column> point_columns(const std::string& unit)
{
    return {{"Точка, %", 48, Align::kRight},
            {text::with_unit("Эталон", unit), 76, Align::kRight},
            {text::with_unit("Среднее", unit), 76, Align::kRight},
            {text::with_unit("Погрешность", unit), 98, Align::kRight},
            {"Приведённая, %", 92, Align::kRight},
            {"Заключение", kRight - kLeft - 390, Align::kCenter}};
}

void header_row(Drawing& d, const std::vector<Column>& columns)
{
    std::vector<std::string> titles;
    for (const Column& c : columns)
        titles.push_back(c.title);
    d.need(kTableSize * 3.2f);
    d.rule(d.y() - 2);
    d.skip(2);
    d.row(columns, titles, true, kTableSize);
}

void run_table(Drawing& d, const ChannelCheck& c, const CheckRun& run, double protocol_tolerance)
{
    std::string title = std::string("Проверка ") + text::kind_name(run.kind);
    if (!run.started.empty())
        title += ", " + text::russian_date(run.started);
    if (run.tolerance != protocol_tolerance)
        title += ", допуск " + text::trimmed(run.tolerance, 3) + " %";
    // The title, the header and a row stay together.
    d.need(10 * 1.6f + kTableSize * 6.5f);
    d.paragraph(kLeft, title, true, 10);

    const std::vector<Column> columns = point_columns(c.unit);
    header_row(d, columns);
    d.repeat_on_new_page([&] {
        d.paragraph(kLeft, "Канал " + std::to_string(c.channel) + ", " + title + " (продолжение)", true, 10);
        header_row(d, columns);
    });
    for (const CheckPoint& p : c.points) {
        const char* verdict = p.fit ? kFit : kUnfit;
        if (p.measured())
            d.row(columns,
                  {text::trimmed(p.percent, 2), text::fixed(p.reference, 4), text::fixed(p.mean, 4),
                   text::fixed(p.error, 4), text::fixed(p.reduced_error, 3), verdict},
                  false, kTableSize);
        else {
            const std::string why = p.failure.empty() ? "измерение не выполнено" : p.failure;
            d.row(columns, {text::trimmed(p.percent, 2), text::fixed(p.reference, 4), "", "", "", verdict}, false,
                  kTableSize);
            // The failure under the point, across the measured columns.
            const float x = kLeft + columns[0].width + columns[1].width + 3;
            for (const std::string& line : d.wrapped("отказ: " + why, kRight - x - 3, false, kTableSize - 1)) {
                d.need(kTableSize * 1.4f);
                d.skip(kTableSize * 1.4f);
                d.put(x, d.y() + 2, line, false, kTableSize - 1);
            }
            d.rule(d.y() - 2);
            d.skip(2);
        }
    }
    d.repeat_on_new_page(nullptr);
    d.paragraph(kLeft, std::string("Заключение по каналу: ") + c.verdict(), false, 10);
}

std::string constants_text(const std::optional<CheckRun>& run, int channel, bool zero)
{
    if (!run)
        return "—";
    for (const ChannelCheck& c : run->channels)
        if (c.channel == channel) {
            if (!c.constants.read)
                return "не прочитан";
            return zero ? std::to_string(c.constants.zero) : text::shortest(c.constants.coefficient);
        }
    return "—";
}

void draw(Drawing& d, const Protocol& p)
{
    d.new_page();
    d.skip(6);
    d.centered("Протокол проверки", true, 16);
    d.centered("№ " + p.number, false, 11);
    d.skip(8);

    d.field("Дата и время:", text::russian_date(p.issued));
    std::string unit = p.unit.name.empty() ? "не известен" : p.unit.name;
    if (!p.unit.version.empty())
        unit += ", версия " + p.unit.version;
    d.field("Прибор:", unit);
    d.field("Заводской номер:", p.unit.factory_number.empty() ? "не указан" : p.unit.factory_number);
    d.field("Сетевой номер:", std::to_string(p.unit.network_number));
    d.field("Линия:", p.unit.line.empty() ? "—" : p.unit.line);
    d.field("Поверитель:", p.engineer.empty() ? "не указан" : p.engineer);
    std::string reference = p.reference.name.empty() ? "не указан" : p.reference.name;
    if (!p.reference.number.empty())
        reference += ", № " + p.reference.number;
    d.field("Эталон:", reference);
    d.field("Эталон поверен до:", p.reference.due_date.empty() ? "—" : text::russian_date(p.reference.due_date));
    d.field("Допуск:", text::trimmed(p.tolerance, 3) + " % от диапазона");

    // Each channel of either run, in order, with its as-found and as-left tables.
    std::map<int, std::vector<std::pair<const ChannelCheck*, const CheckRun*>>> channels;
    for (const std::optional<CheckRun>* run : {&p.as_found, &p.as_left})
        if (*run)
            for (const ChannelCheck& c : (*run)->channels)
                channels[c.channel].push_back({&c, &**run});
    for (const auto& [channel, runs] : channels) {
        const ChannelCheck& first = *runs.front().first;
        d.skip(8);
        d.need(12 * 1.6f + 10 * 1.6f + kTableSize * 6.5f);
        d.paragraph(kLeft,
                    "Канал " + std::to_string(channel) + " (шкала " +
                        text::trimmed(first.full_scale, 4) + (first.unit.empty() ? "" : " " + first.unit) + ")",
                    true, 12);
        for (const auto& [c, run] : runs) {
            d.skip(4);
            run_table(d, *c, *run, p.tolerance);
        }
    }

    // The calibration constants before (as found) and after (as left).
    d.skip(10);
    d.need(12 * 1.6f + kTableSize * 8);
    d.paragraph(kLeft, "Калибровочные константы", true, 12);
    const std::vector<Column> columns = {{"Канал", 55, Align::kCenter},
                                         {"Ноль до", 105, Align::kRight},
                                         {"Коэффициент до", 115, Align::kRight},
                                         {"Ноль после", 105, Align::kRight},
                                         {"Коэффициент после", kRight - kLeft - 380, Align::kRight}};
    header_row(d, columns);
    for (const auto& [channel, runs] : channels)
        d.row(columns,
              {std::to_string(channel), constants_text(p.as_found, channel, true),
               constants_text(p.as_found, channel, false), constants_text(p.as_left, channel, true),
               constants_text(p.as_left, channel, false)},
              false, kTableSize);

    d.skip(14);
    d.need(14 * 1.6f + 10 * 1.5f * 4);
    d.paragraph(kLeft, std::string("Заключение: ") + p.verdict(), true, 14);
    d.skip(24);
    d.paragraph(kLeft, "Поверитель  ______________________   " + (p.engineer.empty() ? "" : p.engineer), false, 10);
    d.skip(18);
    d.paragraph(kLeft, "Подпись  ______________________      Дата  «____» ______________ 20____ г.", false, 10);
}

// The protocol's number and the sheet numbers at the foot of every page, once the count is known.
void footers(Drawing& d, const Protocol& p)
{
    const size_t n = d.pages().size();
    for (size_t k = 0; k < n; ++k)
        d.footer(d.pages()[k], "Протокол № " + p.number, "лист " + std::to_string(k + 1) + " из " + std::to_string(n));
}

}  // namespace

std::string write_protocol_pdf(const Protocol& protocol, const std::string& path)
{
    const auto failed = [&](const std::string& why) { return "файл " + path + " не записан: " + why; };
    std::string reason;
    if (!file_io::check_target(path, reason))
        return failed(reason);

    const std::string dir = font_dir();
    const std::string regular_path = joined(dir, kRegularFont), bold_path = joined(dir, kBoldFont);
    for (const std::string& font : {regular_path, bold_path})
        if (!file_io::stamp_of(font).present)
            return failed("нет шрифта " + font);

    Failure failure;
    HPDF_Doc pdf = HPDF_New(on_error, &failure);
    if (!pdf)
        return failed("не хватило памяти");
    std::string bytes;
    const auto ok = [&] { return failure.error == HPDF_OK; };
    HPDF_SetCompressionMode(pdf, HPDF_COMP_ALL);
    HPDF_UseUTFEncodings(pdf);
    HPDF_SetCurrentEncoder(pdf, "UTF-8");
    const char* regular_name = HPDF_LoadTTFontFromFile(pdf, native_path(regular_path).c_str(), HPDF_TRUE);
    const char* bold_name = ok() ? HPDF_LoadTTFontFromFile(pdf, native_path(bold_path).c_str(), HPDF_TRUE) : nullptr;
    if (!ok() || !regular_name || !bold_name) {
        const std::string why = "шрифт " + (regular_name ? bold_path : regular_path) + " не загружен: " +
                                error_text(failure);
        HPDF_Free(pdf);
        return failed(why);
    }
    HPDF_Font regular = HPDF_GetFont(pdf, regular_name, "UTF-8");
    HPDF_Font bold = HPDF_GetFont(pdf, bold_name, "UTF-8");
    if (ok()) {
        HPDF_SetInfoAttr(pdf, HPDF_INFO_TITLE, pdf_text("Протокол проверки № " + protocol.number).c_str());
        HPDF_SetInfoAttr(pdf, HPDF_INFO_CREATOR, "varnok");
        Drawing d(pdf, regular, bold);
        draw(d, protocol);
        footers(d, protocol);
    }
    if (ok() && HPDF_SaveToStream(pdf) == HPDF_OK) {
        bytes.resize(HPDF_GetStreamSize(pdf));
        HPDF_UINT32 size = HPDF_UINT32(bytes.size());
        if (HPDF_ReadFromStream(pdf, reinterpret_cast<HPDF_BYTE*>(bytes.data()), &size) != HPDF_OK &&
            failure.error == HPDF_STREAM_EOF)
            failure = {};
        bytes.resize(size);
    }
    const bool made = ok() && !bytes.empty();
    const std::string why = made ? "" : error_text(failure);
    HPDF_Free(pdf);
    if (!made)
        return failed(why);

    file_io::Stamp stamp;
    if (!file_io::replace(path, bytes, stamp, reason))
        return failed(reason);
    return "";
}

}  // namespace varnok::record
