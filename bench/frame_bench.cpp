// Cost of building request frames, of the CRC, and of checking an answer.
#include <benchmark/benchmark.h>

#include "modbus/crc.h"
#include "modbus/exchange.h"

namespace varnok {
namespace {

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
    Exchange x;
    x.request = opros_registers(3, 0, 3);
    for (auto _ : state) {
        ++x.request.na_reg;
        form_inf_part_rtu_read(5, x);
        benchmark::DoNotOptimize(x.ozuper);
    }
}
BENCHMARK(BM_BuildReadFrame);

void BM_BuildWriteFrame(benchmark::State& state)
{
    const uint16_t values[2] = {0x0000, 0x803F};
    Exchange x;
    x.request = write_holding_2registers(0x23, values);
    for (auto _ : state) {
        form_inf_part_rtu_multi(5, x);
        benchmark::DoNotOptimize(x.ozuper);
    }
}
BENCHMARK(BM_BuildWriteFrame);

void BM_CheckThreeRegisterAnswer(benchmark::State& state)
{
    Discard sink;
    const uint8_t answer[] = {0x05, 0x03, 0x06, 0x02, 0x05, 0x00, 0x00, 0x7A, 0x43, 0xBC, 0xC6};
    for (auto _ : state)
        benchmark::DoNotOptimize(obrab_buf_read_holding_registers(answer, 5, 0x20, 3, sink));
}
BENCHMARK(BM_CheckThreeRegisterAnswer);

void BM_ErrorLine(benchmark::State& state)
{
    Exchange x;
    x.request = opros_registers(3, 0x20, 3);
    x.dl_otvet = 11;
    x.err = kBadCrc;
    for (auto _ : state)
        benchmark::DoNotOptimize(x.msg_buf_error());
}
BENCHMARK(BM_ErrorLine);

}  // namespace
}  // namespace varnok
