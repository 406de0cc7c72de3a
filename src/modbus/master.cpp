#include "modbus/master.h"

namespace varnok {

namespace {

// A probe asks for one register: its answer is seven bytes.
constexpr uint8_t kProbeAnswerBytes = 2 * 1 + 5;

}  // namespace

ModbusMaster::ModbusMaster(Link& l, RegisterSink& sink) : link_(l), sink_(sink) {}

// The answer received, and its check. A device that said it is busy answers later, unasked:
// the link must not take that answer for the next request's.
void ModbusMaster::take(Exchange& x, const Received& r)
{
    x.buf = r.buf;
    x.dl_otvet = r.kpb;
    x.pr_out = r.pr_out;
    x.err = obrab_buf(x.request, x.answer(), link_.settings().sys_num, sink_);
    if (x.err == kBusy)
        link_.expect_late_answer();
}

Exchange ModbusMaster::tuda_suda(const Request& r, Receive how, ReceiveStop* stop)
{
    Exchange x;
    x.request = r;
    for (size_t i = 1; i <= kFillPositions; ++i)
        x.buf[i] = kFill;
    const uint8_t sys_num = link_.settings().sys_num;
    const bool write = r.func == kWriteMultipleRegisters;
    if (!(write ? form_inf_part_rtu_multi(sys_num, x) : form_inf_part_rtu_read(sys_num, x)))
        return x;  // nothing sent: no answer

    if (how == Receive::kProbe) {
        x.kol_wait_bytes = kProbeAnswerBytes;
        const Received got =
            link_.tuda_suda_probe(x.ozuper, x.dl_note, {sys_num, x.kol_wait_bytes, answer_length}, stop);
        if (got.pr_out == 0) {
            take(x, got);
        } else {
            x.buf = got.buf;
            x.dl_otvet = got.kpb;
            x.pr_out = got.pr_out;
            x.stopped = got.stopped;
            x.err = got.pr_out == 2 ? kNoAnswer : kInterrupted;
        }
        return x;
    }

    link_.tuda(x.ozuper, x.dl_note);
    x.kol_wait_bytes = write ? 8 : static_cast<uint8_t>(2 * r.kol_reg + 5);
    // The device stores written values before it answers.
    const unsigned settle_ms = write ? 20u * r.kol_reg : 0;
    take(x, link_.suda({sys_num, x.kol_wait_bytes, answer_length, settle_ms}));
    return x;
}

Exchange ModbusMaster::receive_again(const Exchange& x)
{
    Exchange again = x;
    take(again, link_.suda({link_.settings().sys_num, x.kol_wait_bytes, answer_length, 0}));
    return again;
}

}  // namespace varnok
