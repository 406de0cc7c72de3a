#include "link/error_text.h"

#include <cerrno>
#include <cstring>

namespace varnok {

std::string error_text(int error)
{
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
