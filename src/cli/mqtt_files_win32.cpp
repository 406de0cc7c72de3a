// The files the command line names for the broker, read on Windows: a file on a disk only (a
// pipe or a device could hold the run for ever), through the wide API.
#include "cli/mqtt_files.h"

#include <windows.h>

#include "cli/options.h"
#include "settings/utf16.h"

namespace varnok::cli {

std::string read_without_waiting(const std::string& path, const std::string& head, const Reading& how)
{
    const std::wstring w = utf16_of(path);
    const DWORD a = GetFileAttributesW(w.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        throw UsageError(head + "на месте файла папка");
    const HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw UsageError(head + windows_reason(GetLastError()));
    std::string why = GetFileType(h) == FILE_TYPE_DISK ? "" : "не файл";
    std::string text, buf(how.chunk, '\0');
    while (why.empty() && !(how.one_line && text.find_first_of("\r\n") != std::string::npos)) {
        DWORD n = 0;
        if (!ReadFile(h, buf.data(), DWORD(buf.size()), &n, nullptr))
            why = windows_reason(GetLastError());
        else if (n == 0)
            break;
        else if ((text.append(buf.data(), n)).size() > how.limit)
            why = how.too_long;
    }
    CloseHandle(h);
    if (!why.empty())
        throw UsageError(head + why);
    return text;
}

std::string held_copy(const std::string& text, const std::string& /*head*/)
{
    // The TLS setup takes the certificates from memory, once for the whole run.
    return text;
}

}  // namespace varnok::cli
