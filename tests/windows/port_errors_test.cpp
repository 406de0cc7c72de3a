// How the Win32 port reads Win32 errors, per call: the same code is a port another program
// holds when opening, and an adapter pulled out on a port already open, which the link then
// closes and tells once.
#include <windows.h>

#include <cerrno>
#include <gtest/gtest.h>

#include "link/win32_errors.h"

namespace varnok::win32 {
namespace {

TEST(Win32PortErrors, AccessDeniedIsABusyPortWhenOpeningAndALostOneAfter)
{
    EXPECT_EQ(errno_of_open(ERROR_ACCESS_DENIED), EBUSY);
    EXPECT_EQ(errno_of_open(ERROR_SHARING_VIOLATION), EBUSY);
    EXPECT_EQ(errno_of_open(ERROR_FILE_NOT_FOUND), ENOENT);
    EXPECT_EQ(errno_of_open(ERROR_PATH_NOT_FOUND), ENOENT);

    EXPECT_EQ(errno_of_open_port(ERROR_ACCESS_DENIED), ENODEV);
    EXPECT_EQ(errno_of_open_port(ERROR_DEVICE_REMOVED), ENODEV);
    EXPECT_EQ(errno_of_open_port(ERROR_GEN_FAILURE), ENODEV);
    EXPECT_EQ(errno_of_open_port(ERROR_OPERATION_ABORTED), ENODEV);
    EXPECT_EQ(errno_of_open_port(ERROR_SEM_TIMEOUT), ETIMEDOUT);
    EXPECT_EQ(errno_of_open_port(ERROR_INVALID_PARAMETER), EINVAL);
}

}  // namespace
}  // namespace varnok::win32
