#pragma once

#include <gtest/gtest.h>

#include "modbus/master.h"
#include "support/pty.h"
#include "support/recording_sink.h"

namespace varnok::test {

// A master whose link has no port open: for frames and answer checks.
class MasterOffLine : public ::testing::Test {
protected:
    MasterOffLine() : link(notices, sleeper, keys, ports), mb(link, sink) {}

    Bytes request() const { return Bytes(mb.ozuper.begin() + 1, mb.ozuper.begin() + 1 + mb.dl_note); }

    // Places an answer in the buffer as the receiver would have left it.
    void answer(const std::string& hex_bytes, uint8_t pr_out = 0)
    {
        const Bytes b = unhex(hex_bytes);
        mb.buf.fill(0);
        for (size_t i = 1; i <= 32; ++i)
            mb.buf[i] = '.';
        std::copy(b.begin(), b.end(), mb.buf.begin() + 1);
        mb.dl_otvet = uint8_t(b.size());
        link.pr_out = pr_out;
    }

    PortMap ports;
    RecordingNotices notices;
    RecordingSleeper sleeper;
    ScriptedKeys keys;
    Link link;
    RecordingSink sink;
    ModbusMaster mb;
};

}  // namespace varnok::test
