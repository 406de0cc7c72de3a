// The settings file's operations on Windows: UTF-8 paths through the wide API, the
// replacement by a temporary file written through and moved over the old one.
#include "settings/file_io.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

#include "settings/utf16.h"
#include "settings/windows_path.h"

namespace varnok::file_io {
namespace {

std::string os_reason(DWORD err) { return windows_reason(err); }

std::string parent_of(const std::string& path)
{
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

Stamp stamp_from(const BY_HANDLE_FILE_INFORMATION& info)
{
    Stamp s;
    s.present = true;
    s.dev = info.dwVolumeSerialNumber;
    s.ino = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.size = int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // 100-nanosecond ticks.
    s.mtime_ns =
        int64_t((uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime) * 100;
    return s;
}

bool is_folder(const std::string& path)
{
    const DWORD a = GetFileAttributesW(utf16_of(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// mkdir -p below the path's root: a drive, or the server and share of a network path, is
// there or not, and asking to create it fails.
bool make_dirs(const std::string& dir, std::string& reason)
{
    if (is_folder(dir))
        return true;
    for (const std::string& part : folders_to_create(dir)) {
        if (CreateDirectoryW(utf16_of(part).c_str(), nullptr))
            continue;
        const DWORD e = GetLastError();
        // A folder one may not create in says "access denied" even when it is there.
        if (e != ERROR_ALREADY_EXISTS && !is_folder(part)) {
            reason = "папка " + part + " не создана: " + os_reason(e);
            return false;
        }
    }
    if (!is_folder(dir)) {
        reason = dir + " не является папкой";
        return false;
    }
    return true;
}

// The temporary file a writer uses for `base` in its folder: ".<base>.<pid>-<n>.tmp".
std::string temp_prefix(const std::string& base) { return "." + base + "."; }

// Removes the temporary files that writers killed before their move left behind: those whose
// process is gone.
void remove_stale_temps(const std::string& dir, const std::string& base)
{
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(utf16_of(dir + "\\" + temp_prefix(base) + "*.tmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    const size_t prefix = temp_prefix(base).size();
    do {
        const std::string name = utf8_of(found.cFileName);
        char* end = nullptr;
        const unsigned long pid = std::strtoul(name.c_str() + std::min(prefix, name.size()), &end, 10);
        if (pid == 0 || *end != '-' || pid == GetCurrentProcessId())
            continue;
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
        if (process)
            CloseHandle(process);
        else if (GetLastError() == ERROR_INVALID_PARAMETER)  // no such process
            DeleteFileW(utf16_of(dir + "\\" + name).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// A name the system takes as a device (NUL, COM1, CON.txt, \\.\pipe\x): GetFullPathNameW turns
// each into a \\.\ path.
bool names_device(const std::string& path)
{
    const std::wstring w = utf16_of(path);
    if (w.size() >= 4 && (w[0] == L'\\' || w[0] == L'/') && (w[1] == L'\\' || w[1] == L'/') && w[2] == L'.' &&
        (w[3] == L'\\' || w[3] == L'/'))
        return true;
    wchar_t full[4096];
    const DWORD n = GetFullPathNameW(w.c_str(), DWORD(std::size(full)), full, nullptr);
    return n > 0 && n < std::size(full) && std::wcsncmp(full, L"\\\\.\\", 4) == 0;
}

}  // namespace

bool check_target(const std::string& path, std::string& reason)
{
    if (names_device(path)) {
        reason = "это устройство, а не обычный файл";
        return false;
    }
    const DWORD a = GetFileAttributesW(utf16_of(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return true;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        reason = "это папка, а не обычный файл";
        return false;
    }
    const HANDLE h = CreateFileW(utf16_of(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return true;  // the writer tells why it cannot open it
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    if (!disk)
        reason = "это устройство, а не обычный файл";
    return disk;
}

std::string default_settings_path()
{
    const wchar_t* appdata = _wgetenv(L"APPDATA");
    if (appdata && *appdata)
        return utf8_of(appdata) + "\\varnok\\varnok.ini";
    return "varnok.ini";
}

Stamp stamp_of(const std::string& path)
{
    const HANDLE h = CreateFileW(utf16_of(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok ? stamp_from(info) : Stamp{};
}

bool read_whole(const std::string& path, size_t limit, std::string& data, Stamp& stamp, std::string& reason)
{
    const HANDLE h = CreateFileW(utf16_of(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        const DWORD a = GetFileAttributesW(utf16_of(path).c_str());
        reason = a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? "на месте файла папка" : os_reason(e);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok = false;
    if (!GetFileInformationByHandle(h, &info))
        reason = os_reason(GetLastError());
    else if (GetFileType(h) != FILE_TYPE_DISK)
        reason = "это не обычный файл";
    else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > limit)
        reason = "файл длиннее " + std::to_string(limit) + " байт";
    else
        ok = true;
    data.clear();
    char chunk[4096];
    while (ok) {
        DWORD n = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &n, nullptr)) {
            reason = os_reason(GetLastError());
            ok = false;
        } else if (n == 0) {
            break;
        } else if (data.size() + n > limit) {  // grew while being read
            reason = "файл длиннее " + std::to_string(limit) + " байт";
            ok = false;
        } else {
            data.append(chunk, n);
        }
    }
    if (ok)
        stamp = stamp_from(info);
    CloseHandle(h);
    return ok;
}

bool replace(const std::string& path, const std::string& data, Stamp& stamp, std::string& reason)
{
    if (!check_target(path, reason))
        return false;
    const std::string dir = parent_of(path);
    if (!make_dirs(dir, reason))
        return false;
    const std::string base = path.substr(path.find_last_of("\\/") + 1);
    remove_stale_temps(dir, base);
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        temp = dir + "\\" + temp_prefix(base) + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) +
               ".tmp";
        h = CreateFileW(utf16_of(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        reason = os_reason(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, data.data(), DWORD(data.size()), &written, nullptr) && written == data.size() &&
              FlushFileBuffers(h);
    if (!ok)
        reason = os_reason(GetLastError());
    CloseHandle(h);
    if (ok && !MoveFileExW(utf16_of(temp).c_str(), utf16_of(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = os_reason(GetLastError());
        ok = false;
    }
    if (!ok) {
        DeleteFileW(utf16_of(temp).c_str());
        return false;
    }
    stamp = stamp_of(path);
    return true;
}

bool read_ends(const std::string& path, size_t count, std::string& head, std::string& tail, std::string& reason)
{
    head.clear();
    tail.clear();
    if (is_folder(path))
        return true;
    const HANDLE h = CreateFileW(utf16_of(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = os_reason(GetLastError());
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return true;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size);
    if (!ok)
        reason = os_reason(GetLastError());
    const auto read_at = [&](int64_t at, size_t n, std::string& out) {
        out.assign(n, '\0');
        LARGE_INTEGER where{};
        where.QuadPart = at;
        DWORD got = 0;
        if (ok && (!SetFilePointerEx(h, where, nullptr, FILE_BEGIN) || !ReadFile(h, out.data(), DWORD(n), &got, nullptr))) {
            reason = os_reason(GetLastError());
            ok = false;
        }
        out.resize(got);
    };
    const size_t n = ok ? size_t(std::min<int64_t>(int64_t(count), size.QuadPart)) : 0;
    read_at(0, n, head);
    read_at(size.QuadPart - int64_t(n), n, tail);
    CloseHandle(h);
    return ok;
}

std::FILE* open_for_writing(const std::string& path, bool append, std::string& reason)
{
    if (!check_target(path, reason))
        return nullptr;
    // Binary: the writer's line ends reach the file as written, CRLF where it writes CRLF.
    std::FILE* file = _wfopen(utf16_of(path).c_str(), append ? L"ab" : L"wb");
    if (!file)
        reason = std::strerror(errno);
    else if (GetFileType(HANDLE(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        reason = "это устройство, а не обычный файл";
        return nullptr;
    }
    return file;
}

bool append_record(std::FILE* file, const std::string& data, std::string& reason)
{
    if (std::fflush(file) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    const int fd = _fileno(file);
    // The old end, and where the record is written (for a file opened to append, the runtime
    // moves to the end only at the write).
    const bool regular = GetFileType(HANDLE(_get_osfhandle(fd))) == FILE_TYPE_DISK;
    const int64_t end = regular ? _filelengthi64(fd) : -1, at = regular ? _lseeki64(fd, 0, SEEK_CUR) : -1;
    size_t done = 0;
    while (done < data.size()) {
        const int n = _write(fd, data.data() + done, unsigned(std::min<size_t>(data.size() - done, 1u << 20)));
        if (n <= 0) {
            reason = std::strerror(n == 0 ? ENOSPC : errno);
            // What the record added past the old end goes.
            if (end >= 0 && done > 0 && _chsize_s(fd, std::max(end, at)) == 0)
                (void)_lseeki64(fd, std::max(end, at), SEEK_SET);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool sync(std::FILE* file, std::string& reason)
{
    if (std::fflush(file) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    const HANDLE h = HANDLE(_get_osfhandle(_fileno(file)));
    if (GetFileType(h) == FILE_TYPE_DISK && !FlushFileBuffers(h)) {
        reason = os_reason(GetLastError());
        return false;
    }
    return true;
}

bool make_folder(const std::string& dir, std::string& reason) { return make_dirs(dir, reason); }

}  // namespace varnok::file_io
