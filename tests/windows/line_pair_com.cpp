// COM1 and COM2 are the two ends of one line: the Wine prefix maps them to a pair of
// pseudo-terminals that a relay joins (tests/windows/run.sh).
#include <windows.h>

#include <stdexcept>
#include <thread>

#include "link/line_pair.h"

namespace varnok::test {

struct LinePair::Far {
    HANDLE h = INVALID_HANDLE_VALUE;
    std::vector<std::thread> feeders;
};

LinePair::LinePair() : far_(std::make_unique<Far>())
{
    far_->h = CreateFileA("\\\\.\\COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (far_->h == INVALID_HANDLE_VALUE)
        throw std::runtime_error("COM2, the far end, does not open");
    // Raw bytes both ways: nothing added to what the test writes.
    DCB d{};
    d.DCBlength = sizeof d;
    GetCommState(far_->h, &d);
    d.fBinary = TRUE;
    d.fParity = FALSE;
    d.fOutX = d.fInX = FALSE;
    d.fOutxCtsFlow = d.fOutxDsrFlow = FALSE;
    SetCommState(far_->h, &d);
}

LinePair::~LinePair()
{
    for (auto& t : far_->feeders)
        t.join();
    CloseHandle(far_->h);
}

std::string LinePair::near_path() const { return "\\\\.\\COM1"; }

void LinePair::feed(const std::vector<uint8_t>& bytes)
{
    DWORD done = 0;
    WriteFile(far_->h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
}

void LinePair::feed_after(std::chrono::milliseconds delay, std::vector<uint8_t> bytes)
{
    far_->feeders.emplace_back([this, delay, bytes = std::move(bytes)] {
        std::this_thread::sleep_for(delay);
        feed(bytes);
    });
}

}  // namespace varnok::test
