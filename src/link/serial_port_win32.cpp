// The port on Windows: a communications port (\\.\COMn) through the Win32 API, whose
// time-outs the system keeps itself, or a Winsock connection to a converter, whose read
// time-outs are kept here as on a terminal.
#include "link/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "link/sockets.h"
#include "link/tcp.h"
#include "link/win32_errors.h"
#include "link/write_within.h"

namespace varnok {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStopSlice = std::chrono::milliseconds(50);

HANDLE comm(void* h) { return static_cast<HANDLE>(h); }

int last_error() { return win32::errno_of_open_port(GetLastError()); }

int ms_until(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

namespace win32 {

int errno_of_open(unsigned long error)
{
    // Access denied on opening: another program holds the port.
    return error == ERROR_ACCESS_DENIED ? EBUSY : errno_of_open_port(error);
}

int errno_of_open_port(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_SHARING_VIOLATION: return EBUSY;
    case ERROR_INVALID_PARAMETER: return EINVAL;
    case ERROR_ACCESS_DENIED:  // an open handle's, when its USB adapter was pulled out
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED: return ENODEV;  // an adapter pulled out: the port is lost
    case ERROR_SEM_TIMEOUT: return ETIMEDOUT;
    default: return EIO;
    }
}

}  // namespace win32

int SerialPort::open(const std::string& path, WaitPump* waiting)
{
    close();
    broken_ = 0;
    where_ = path;
    if (fixed_transport_ || is_tcp_address(path)) {
        if (!fixed_transport_)
            transport_ = transport_for(path);
        transport_->set_stop(stop_);
        return transport_->open(path, fd_, waiting);
    }
    if (path.empty())
        return ENOENT;
    // No sharing: Windows gives a communications port to one program at a time.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return win32::errno_of_open(GetLastError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        return ENOTTY;  // not a communications port
    }
    comm_ = h;
    return 0;
}

// A communications port is this file's own handle; the only transport here is the converter's.
std::unique_ptr<Transport> transport_for(const std::string& /*where*/) { return std::make_unique<TcpTransport>(); }

bool SerialPort::is_open() const { return comm_ || fd_ >= 0; }

bool SerialPort::connected() const
{
    if (comm_)
        return true;
    if (fd_ < 0)
        return false;
    // Readable with nothing to peek at: the far end closed.
    pollfd p{sockets::native(fd_), POLLRDNORM, 0};
    if (sockets::poll(&p, 1, 0) <= 0)
        return true;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        return false;
    char c;
    return ::recv(sockets::native(fd_), &c, 1, MSG_PEEK) > 0;
}

void SerialPort::close()
{
    if (comm_) {
        CloseHandle(comm(comm_));
        comm_ = nullptr;
    }
    if (fd_ >= 0) {
        transport_->close(fd_);
        fd_ = -1;
    }
}

int SerialPort::lose(int error)
{
    const bool hung_up = error == EIO || error == ENODEV || error == EPIPE || error == ETIMEDOUT;
    if (comm_ ? !hung_up : !transport_->ends_broken() && !hung_up)
        return error;
    close();
    broken_ = error;
    return error;
}

int SerialPort::get_state(Dcb& dcb) const
{
    if (!comm_)
        return fd_ < 0 ? EBADF : transport_->get_state(fd_, dcb);
    DCB d{};
    d.DCBlength = sizeof d;
    if (!GetCommState(comm(comm_), &d))
        return last_error();
    dcb.BaudRate = d.BaudRate;
    dcb.ByteSize = d.ByteSize;
    dcb.Parity = d.Parity;
    dcb.StopBits = d.StopBits;
    return 0;
}

int SerialPort::set_state(const Dcb& dcb)
{
    if (!comm_)
        return fd_ < 0 ? EBADF : transport_->set_state(fd_, dcb);
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
        return EINVAL;
    DCB d{};
    d.DCBlength = sizeof d;
    if (!GetCommState(comm(comm_), &d))
        return last_error();
    d.BaudRate = dcb.BaudRate;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    // Raw bytes, no flow control of any kind; DTR and RTS up, as a converter powered from them needs.
    d.fBinary = TRUE;
    d.fParity = dcb.Parity != 0;
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.fDsrSensitivity = FALSE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fErrorChar = FALSE;
    d.fNull = FALSE;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fAbortOnError = FALSE;
    if (!SetCommState(comm(comm_), &d))
        return last_error();
    // The driver may quietly keep another speed; read it back.
    DCB back{};
    back.DCBlength = sizeof back;
    if (!GetCommState(comm(comm_), &back))
        return last_error();
    return back.BaudRate == dcb.BaudRate ? 0 : EINVAL;
}

int SerialPort::purge_input()
{
    if (!comm_) {
        if (fd_ < 0)
            return EBADF;
        const int e = transport_->purge_input(fd_);
        return e == 0 ? 0 : lose(e);
    }
    DWORD errors = 0;
    ClearCommError(comm(comm_), &errors, nullptr);
    return PurgeComm(comm(comm_), PURGE_RXCLEAR | PURGE_RXABORT) ? 0 : lose(last_error());
}

int SerialPort::set_timeouts(const CommTimeouts& t)
{
    if (!is_open())
        return EBADF;
    timeouts_ = t;
    if (!comm_)
        return 0;
    COMMTIMEOUTS c{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                   t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    // Windows would wait for the first byte for ever; the read is bounded as on every port.
    if (t.ReadIntervalTimeout != kReadNoWait && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0)
        c.ReadTotalTimeoutConstant = kReadCapMs;
    return SetCommTimeouts(comm(comm_), &c) ? 0 : last_error();
}

int SerialPort::write(const uint8_t* data, size_t n, size_t& written)
{
    written = 0;
    if (comm_) {
        DWORD done = 0;
        const BOOL ok = WriteFile(comm(comm_), data, DWORD(n), &done, nullptr);
        written = done;
        if (!ok) {
            DWORD errors = 0;
            const int e = last_error();
            ClearCommError(comm(comm_), &errors, nullptr);
            return lose(e);
        }
        // The write time-out passed with bytes still to go: the line is stuck.
        return written == n ? 0 : lose(ETIMEDOUT);
    }
    if (fd_ < 0)
        return EBADF;
    const int e = write_within(*transport_, fd_, timeouts_, data, n, written);
    return e == 0 ? 0 : lose(e);
}

int SerialPort::read(uint8_t* data, size_t n, size_t& got)
{
    got = 0;
    if (n == 0)
        return is_open() ? 0 : EBADF;
    if (comm_) {
        DWORD done = 0;
        const BOOL ok = ReadFile(comm(comm_), data, DWORD(n), &done, nullptr);
        got = done;
        if (ok)
            return 0;
        DWORD errors = 0;
        const int e = last_error();
        ClearCommError(comm(comm_), &errors, nullptr);
        return lose(e);
    }
    if (fd_ < 0)
        return EBADF;
    // The socket: the same time-outs as a communications port, kept here.
    const sockets::Native s = sockets::native(fd_);
    const bool no_wait = timeouts_.ReadIntervalTimeout == kReadNoWait && timeouts_.ReadTotalTimeoutMultiplier == 0 &&
                         timeouts_.ReadTotalTimeoutConstant == 0;
    const auto start = Clock::now();
    uint64_t total_ms = uint64_t(timeouts_.ReadTotalTimeoutMultiplier) * n + timeouts_.ReadTotalTimeoutConstant;
    if (total_ms == 0 && !no_wait)
        total_ms = kReadCapMs;
    const auto total_deadline = start + std::chrono::milliseconds(total_ms);
    Clock::time_point interval_deadline = total_deadline;
    while (got < n) {
        if (stop_ && stop_->requested())
            return 0;  // as a time-out: what came so far is the result
        Clock::time_point deadline = total_deadline;
        if (got > 0 && timeouts_.ReadIntervalTimeout != 0 && !no_wait && interval_deadline < deadline)
            deadline = interval_deadline;
        // Cut into slices while a stop may come (Ctrl-C's handler runs on a thread of its own).
        const Clock::time_point slice = stop_ ? std::min(deadline, Clock::now() + kStopSlice) : deadline;
        pollfd p{s, POLLRDNORM, 0};
        const int ready = sockets::poll(&p, 1, ms_until(slice));
        if (ready < 0)
            return lose(sockets::error());
        if (ready == 0 && slice < deadline)
            continue;
        if (ready == 0)
            return 0;  // a time-out ends the read; what came so far is the result
        const int r = ::recv(s, reinterpret_cast<char*>(data + got), int(n - got), 0);
        if (r > 0) {
            got += size_t(r);
            interval_deadline = Clock::now() + std::chrono::milliseconds(timeouts_.ReadIntervalTimeout);
            continue;
        }
        if (r == 0)
            return lose(ECONNRESET);  // the converter closed the connection
        const int e = sockets::error();
        if (e != EWOULDBLOCK && e != EINTR)
            return lose(e);
    }
    return 0;
}

}  // namespace varnok
