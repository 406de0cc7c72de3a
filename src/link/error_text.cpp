#include "link/error_text.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "link/transport.h"

namespace varnok {

namespace {

// The first letter of Russian text made a capital: а..п are D0 B0..BF, р..я D1 80..8F in UTF-8.
std::string capitalised(std::string s)
{
    if (s.size() >= 2 && uint8_t(s[0]) == 0xD0 && uint8_t(s[1]) >= 0xB0) {
        s[1] = char(uint8_t(s[1]) - 0x20);
    } else if (s.size() >= 2 && uint8_t(s[0]) == 0xD1 && uint8_t(s[1]) <= 0x8F) {
        s[0] = char(0xD0);
        s[1] = char(uint8_t(s[1]) + 0x20);
    }
    return s;
}

}  // namespace

std::string error_text(int error)
{
    if (error == kLineNotQuiet)
        return "the line never goes quiet";
#ifdef _WIN32
    switch (error) {
    case ECONNREFUSED: return "Connection refused";
    case ECONNRESET: return "Connection reset by peer";
    case ECONNABORTED: return "Software caused connection abort";
    case ETIMEDOUT: return "Connection timed out";
    case EHOSTUNREACH: return "No route to host";
    case ENETUNREACH: return "Network is unreachable";
    case ENOTCONN: return "Transport endpoint is not connected";
    case EADDRNOTAVAIL: return "Cannot assign requested address";
    case EAFNOSUPPORT: return "Address family not supported by protocol";
    case ENOBUFS: return "No buffer space available";
    case EWOULDBLOCK: return "Resource temporarily unavailable";
    case EINPROGRESS: return "Operation now in progress";
    case ENOTTY: return "Inappropriate ioctl for device";
    case ENODEV: return "No such device";
    default: break;
    }
#endif
    return std::strerror(error);
}

}  // namespace varnok

namespace varnok {

std::string error_text_ru(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return "нет такого устройства";
    case EACCES:
    case EPERM:
        return "нет прав на порт: добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и "
               "войдите в систему заново";
    case EBUSY: return "порт занят другой программой";
    case ECONNREFUSED: return "соединение отклонено";
    case ECONNRESET: return "соединение сброшено";
    case ETIMEDOUT: return "время ожидания истекло";
    case EHOSTUNREACH: return "узел недоступен";
    case ENETUNREACH: return "сеть недоступна";
    case EINTR: return "прервано";
    case kLineNotQuiet:
        return "линия не умолкает: байты идут без перерыва дольше " + std::to_string(kPurgeMs) + " мс";
    default: return error_text(error) + " (errno " + std::to_string(error) + ")";
    }
}

std::string port_error_advice(int error)
{
    const bool advised = error == EACCES || error == EPERM || error == EBUSY;
    return advised ? capitalised(error_text_ru(error)) + "." : std::string();
}

}  // namespace varnok
