// The spool's folder on Windows: made with an ACL that lets in the user alone (the counterpart
// of 0700), held by a lock file no other run can open, every message flushed to the disk with
// FlushFileBuffers before it is renamed into place; links are never followed.
#include "cli/spool_files.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "settings/utf16.h"
#include "settings/windows_path.h"

namespace varnok::cli {

std::string path_text(const std::filesystem::path& p) { return utf8_of(p.wstring()); }

namespace spool_files {

namespace fs = std::filesystem;

struct Folder {
    std::wstring dir;
    HANDLE lock;
};

void FolderClose::operator()(Folder* f) const
{
    CloseHandle(f->lock);
    delete f;
}

namespace {

std::string os_reason() { return windows_reason(GetLastError()); }

bool ends_with(const std::wstring& s, const wchar_t* tail)
{
    const size_t n = std::wcslen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// What a file takes on the disk: whole clusters of 4 KiB, NTFS's own size for them.
uint64_t disk_use(uint64_t size) { return (size + 4095) / 4096 * 4096; }

// The ACL of the user alone, full access, inherited by what is made below: a protected DACL,
// so that nothing from the folders above is added to it.
struct PrivateAcl {
    PSECURITY_DESCRIPTOR sd = nullptr;
    PACL dacl = nullptr;
    PrivateAcl()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD n = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &n);
        std::string buf(n, '\0');
        wchar_t* sid = nullptr;
        if (GetTokenInformation(token, TokenUser, buf.data(), n, &n) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &sid)) {
            const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
            LocalFree(sid);
            if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
                BOOL present = FALSE, defaulted = FALSE;
                GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
            }
        }
        CloseHandle(token);
    }
    ~PrivateAcl() { LocalFree(sd); }
    PrivateAcl(const PrivateAcl&) = delete;
    PrivateAcl& operator=(const PrivateAcl&) = delete;
};

// Whether the folder `h` holds lets in the user alone already, by a protected ACL: nothing
// to change then.
bool already_private(HANDLE h, const PrivateAcl& acl)
{
    void* mine = nullptr;
    if (!GetAce(acl.dacl, 0, &mine))
        return false;
    const PSID user = &static_cast<ACCESS_ALLOWED_ACE*>(mine)->SidStart;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
        ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool only = dacl && GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED) &&
                dacl->AceCount > 0;
    for (DWORD i = 0; only && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        only = GetAce(dacl, i, &ace) && static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
               EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, user);
    }
    LocalFree(sd);
    return only;
}

}  // namespace

FolderPtr open(const fs::path& dir)
{
    const std::string name = path_text(dir);
    const PrivateAcl acl;
    if (!acl.dacl)
        throw std::runtime_error("очередь " + name + " не создаётся: нет учётной записи пользователя: " + os_reason());
    // The folders still missing are made private as they are made; those there already above
    // the spool are left as they are.
    SECURITY_ATTRIBUTES sa{sizeof sa, acl.sd, FALSE};
    for (const std::string& part : folders_to_create(name)) {
        const std::wstring w = utf16_of(part);
        if (!CreateDirectoryW(w.c_str(), &sa) && GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD a = GetFileAttributesW(w.c_str());
            if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
                throw std::runtime_error("очередь " + name + " не создаётся: папка " + part + ": " + os_reason());
        }
    }
    // The folder itself, never what a link there names; a folder an earlier run or someone else
    // made is made the user's alone too: one whose ACL cannot be set is not this user's to keep
    // readings in.
    const std::wstring w = dir.wstring();
    const HANDLE h = CreateFileW(w.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("очередь " + name + " не открывается: " + os_reason());
    BY_HANDLE_FILE_INFORMATION info;
    std::string problem;
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        problem = "очередь " + name + " не открывается: это не папка";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        problem = "папка очереди " + name + " — ссылка на другую: очередь в ней не ведём";
    else if (already_private(h, acl))
        ;
    else if (const DWORD set = SetSecurityInfo(h, SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, acl.dacl, nullptr);
             set != ERROR_SUCCESS)
        problem = "папка очереди " + name + " не делается личной: " + windows_reason(set) + ": очередь в ней не ведём";
    CloseHandle(h);
    if (!problem.empty())
        throw std::runtime_error(problem);
    const HANDLE lock = CreateFileW((w + L"\\lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION)
            throw std::runtime_error("очередь " + name + " занята другим запуском");
        throw std::runtime_error("очередь " + name + " не открывается: " + os_reason());
    }
    return FolderPtr(new Folder{w, lock});
}

std::vector<Listed> list(Folder& f)
{
    std::vector<Listed> found;
    WIN32_FIND_DATAW e;
    const HANDLE find = FindFirstFileW((f.dir + L"\\*").c_str(), &e);
    if (find == INVALID_HANDLE_VALUE)
        return found;
    do {
        const std::wstring name = e.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (ends_with(name, L".tmp")) {
            DeleteFileW((f.dir + L"\\" + name).c_str());  // a write cut short
            continue;
        }
        const bool regular = !(e.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                                     FILE_ATTRIBUTE_DEVICE));
        const uint64_t size = (uint64_t(e.nFileSizeHigh) << 32) | e.nFileSizeLow;
        found.push_back({utf8_of(name), regular, regular ? disk_use(size) : 0});
    } while (FindNextFileW(find, &e));
    FindClose(find);
    return found;
}

bool write(Folder& f, const std::string& name, const std::string& data, uint64_t& use, std::string& reason)
{
    const std::wstring path = f.dir + L"\\" + utf16_of(name);
    const std::wstring tmp = path + L".tmp";
    DeleteFileW(tmp.c_str());  // a link there goes itself, never what it names
    const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = os_reason();
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, data.data(), DWORD(data.size()), &written, nullptr) && written == data.size() &&
              FlushFileBuffers(h);
    if (!ok)
        reason = os_reason();
    CloseHandle(h);
    if (ok && !MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = os_reason();
        ok = false;
    }
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    use = disk_use(data.size());
    return true;
}

Read read(Folder& f, const std::string& name, size_t limit, std::string& text, std::string& why)
{
    // The link itself is opened, never what it names; it is then refused below.
    const HANDLE h = CreateFileW((f.dir + L"\\" + utf16_of(name)).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)
            return Read::kGone;
        why = windows_reason(e);
        return Read::kBad;
    }
    const std::string too_long = "длиннее " + std::to_string(limit) + " байт";
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        why = "не обычный файл";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        why = "ссылка";
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        why = "не обычный файл";
    else if (((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) > limit)
        why = too_long;
    char buf[4096];
    while (why.empty()) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr))
            why = os_reason();
        else if (n == 0)
            break;
        else if (text.size() + n > limit)
            why = too_long;
        else
            text.append(buf, n);
    }
    CloseHandle(h);
    return why.empty() ? Read::kOk : Read::kBad;
}

void remove(Folder& f, const std::string& name) { DeleteFileW((f.dir + L"\\" + utf16_of(name)).c_str()); }

std::string rename(Folder& f, const std::string& from, const std::string& to)
{
    const std::wstring a = f.dir + L"\\" + utf16_of(from), b = f.dir + L"\\" + utf16_of(to);
    return MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING) ? "" : os_reason();
}

fs::path state_dir()
{
    // Never the folder the tool happens to run in: without its local application data the
    // user has no place for the spool.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local || fs::path(local).is_relative())
        throw std::runtime_error("нет папки LOCALAPPDATA для очереди показаний: задайте LOCALAPPDATA");
    return fs::path(local) / L"varnok";
}

}  // namespace spool_files
}  // namespace varnok::cli
