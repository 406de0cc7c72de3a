// Writes the sample protocol's PDF to the file named, with the fonts beside this program, so
// that the Windows test can read it back on Linux. Exit 0, or 1 with the renderer's line.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "record/sample_protocol.h"
#include "settings/utf16.h"

int main()
{
    // The file's name in UTF-8, as the tool takes its arguments: from the wide command line.
    int n = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!words || n != 2) {
        std::fprintf(stderr, "write_protocol FILE.pdf\n");
        return 2;
    }
    const std::string path = varnok::utf8_of(words[1]);
    LocalFree(words);
    SetConsoleOutputCP(CP_UTF8);
    const std::string failure = varnok::record::write_protocol_pdf(varnok::test::sample(), path);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return 1;
    }
    return 0;
}
