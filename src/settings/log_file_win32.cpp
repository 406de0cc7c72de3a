// The private log file on Windows: UTF-8 paths through the wide API, the folder under the
// user's local application data, the file appended through a handle that never follows a
// link.
#include "settings/log_file.h"

#include <windows.h>

#include <algorithm>

#include "settings/utf16.h"

namespace varnok::log_file {

namespace {

std::string os_reason(DWORD err) { return windows_reason(err); }

HANDLE handle_of(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

std::string state_folder()
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    return (local && *local ? utf8_of(local) : std::string(".")) + "\\varnok";
}

std::vector<std::string> file_names(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(utf16_of(dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            names.push_back(utf8_of(found.cFileName));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

void remove(const std::string& dir, const std::string& name) { DeleteFileW(utf16_of(dir + "\\" + name).c_str()); }

bool Appender::open(const std::string& path, std::string& reason)
{
    close();
    // The link itself is opened, not what it names; it is then refused below.
    const HANDLE h = CreateFileW(utf16_of(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = os_reason(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        reason = "это не обычный файл";
        CloseHandle(h);
        return false;
    }
    h_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool Appender::is_open() const { return h_ != -1; }

bool Appender::append(const std::string& data, std::string& reason)
{
    size_t done = 0;
    while (done < data.size()) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<size_t>(data.size() - done, 1u << 20));
        if (!WriteFile(handle_of(h_), data.data() + done, chunk, &n, nullptr) || n == 0) {
            reason = os_reason(GetLastError());
            return false;
        }
        done += n;
    }
    return true;
}

void Appender::close()
{
    if (h_ != -1)
        CloseHandle(handle_of(h_));
    h_ = -1;
}

}  // namespace varnok::log_file
