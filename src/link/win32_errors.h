#pragma once
// The Win32 port's errors in the errno terms the link reports. One Win32 code can mean two
// things: access denied on opening is a port another program holds, while on a handle already
// open it is what Windows reports for a USB adapter pulled out. Windows only.

namespace varnok::win32 {

// An error of CreateFile on a port.
int errno_of_open(unsigned long error);
// An error of a call on the open port: read, write, purge, its line settings and time-outs.
int errno_of_open_port(unsigned long error);

}  // namespace varnok::win32
