#pragma once
// The Modbus RTU master: a request sent over the link to the number in force, its answer
// received and checked, the whole exchange returned as a value.

#include "link/link.h"
#include "modbus/exchange.h"
#include "modbus/register_sink.h"

namespace varnok {

class ModbusMaster {
public:
    ModbusMaster(Link& link, RegisterSink& sink);

    enum class Receive {
        kAnswer,  // the receive of any answer
        kProbe,   // the receive of a probe's answer, which the caller's stop may end
    };
    // Builds the request's frame, transmits it, receives the answer and checks it; a sound
    // answer's values go to the register sink. A frame that would not fit is not sent: no
    // answer. A probe that found no answer in its first pass is interrupted (12), and so is
    // one `stop` ended (then `stopped`).
    Exchange tuda_suda(const Request& r, Receive how = Receive::kAnswer, ReceiveStop* stop = nullptr);
    // Receives one more answer to the exchange's request, already sent (a device that said it
    // is busy), and checks it.
    Exchange receive_again(const Exchange& x);

private:
    void take(Exchange& x, const Received& r);

    Link& link_;
    RegisterSink& sink_;
};

}  // namespace varnok
