// Cost of building request frames, of the CRC, and of checking an answer.
#include <benchmark/benchmark.h>

#include "modbus/master.h"

namespace varnok {
namespace {

class Silent : public Notices {
    void message_box(const std::string&, const std::string&) override {}
};

class Discard : public RegisterSink {
    uint8_t holding_register(uint16_t, uint16_t v) override
    {
        benchmark::DoNotOptimize(v);
        return kOk;
    }
    uint8_t input_register(uint16_t, uint16_t v) override
    {
        benchmark::DoNotOptimize(v);
        return kOk;
    }
    void input_data(std::span<const uint8_t>) override {}
    void coil_byte(uint8_t) override {}
    void input_byte(uint8_t) override {}
};

struct Rig {
    Silent notices;
    ThreadSleeper sleeper;
    NoKeys keys;
    PortMap ports;
    Link link{notices, sleeper, keys, ports};
    Discard sink;
    ModbusMaster mb{link, sink};
};

void BM_Crc64Bytes(benchmark::State& state)
{
    Frame f{};
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uint8_t(i * 37);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc16(f));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.size()));
}
BENCHMARK(BM_Crc64Bytes);

void BM_BuildReadFrame(benchmark::State& state)
{
    Rig rig;
    uint16_t na = 0;
    for (auto _ : state) {
        rig.mb.form_inf_part_rtu_read(3, na++, 3);
        benchmark::DoNotOptimize(rig.mb.ozuper);
    }
}
BENCHMARK(BM_BuildReadFrame);

void BM_BuildWriteFrame(benchmark::State& state)
{
    Rig rig;
    const uint16_t values[2] = {0x0000, 0x803F};
    for (auto _ : state) {
        rig.mb.form_inf_part_rtu_multi(16, 0x23, 2, values);
        benchmark::DoNotOptimize(rig.mb.ozuper);
    }
}
BENCHMARK(BM_BuildWriteFrame);

void BM_CheckThreeRegisterAnswer(benchmark::State& state)
{
    Rig rig;
    const uint8_t answer[] = {0x05, 0x03, 0x06, 0x02, 0x05, 0x00, 0x00, 0x7A, 0x43, 0xBC, 0xC6};
    std::copy(std::begin(answer), std::end(answer), rig.mb.buf.begin() + 1);
    rig.mb.dl_otvet = sizeof answer;
    rig.link.pr_out = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.mb.obrab_buf_read_holding_registers(0x20, 3));
}
BENCHMARK(BM_CheckThreeRegisterAnswer);

void BM_ErrorLine(benchmark::State& state)
{
    Rig rig;
    rig.mb.dl_otvet = 11;
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.mb.msg_buf_error(kBadCrc));
}
BENCHMARK(BM_ErrorLine);

}  // namespace
}  // namespace varnok
