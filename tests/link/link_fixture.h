#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include "link/link.h"
#include "support/fakes.h"
#include "support/pty.h"

namespace varnok::test {

// A link whose COM1 is a pseudo-terminal and whose COM2 names no device.
class LinkOnPty : public ::testing::Test {
protected:
    LinkOnPty() : link(notices, sleeper, ports)
    {
        ports.set(1, pty.slave_path());
        ports.set(2, "/nonexistent/ttyVARNOK");
    }

    // The settings the console side put on the terminal, as the far end sees them.
    termios line() const
    {
        termios t{};
        tcgetattr(pty.master(), &t);
        return t;
    }
    speed_t line_speed() const
    {
        termios t = line();
        return cfgetospeed(&t);
    }

    Pty pty;
    PortMap ports;
    RecordingNotices notices;
    RecordingSleeper sleeper;
    ScriptedKeys keys;
    Link link;
};

}  // namespace varnok::test
