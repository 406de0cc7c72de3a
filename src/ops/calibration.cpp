#include "ops/calibration.h"

#include "device/device.h"

namespace varnok {

namespace {

constexpr unsigned kWriteSettleMs = 500;      // after a zero or coefficient write, before its read-back
constexpr unsigned kZeroStepSettleMs = 500;   // after the write of a zero's step
constexpr unsigned kTrimStepSettleMs = 1000;  // after the coefficient write of a trim step

}  // namespace

float coefficient(float top, uint32_t output) { return static_cast<float>(static_cast<long double>(top) / output); }

void Calibration::pause(unsigned ms) { pauses_->sleep_ms(ms); }

uint8_t Calibration::shown(const Exchange& x)
{
    checked(report_, x);
    return x.err;
}

PerChannel Calibration::each_channel(const std::function<uint8_t(int)>& request)
{
    PerChannel done{};
    for (int k = 1; k <= kChannels; ++k)
        done[k] = request(k) == kOk;
    return done;
}

PerChannel Calibration::read_stored()
{
    return each_channel([&](int k) { return shown(d_.read_holding(channel_base(k) + kOffRef, 3)); });
}

uint8_t Calibration::read_zero(int k) { return shown(d_.read_holding(channel_base(k) + kOffRef, 1)); }

uint8_t Calibration::read_coefficient(int k) { return shown(d_.read_holding(channel_base(k) + kOffNcal, 2)); }

uint8_t Calibration::take_zero(int k)
{
    const uint8_t e = shown(d_.read_input(channel_base(k) + kOffNewRef, 1));
    if (e == kOk)
        zero_[size_t(k)] = d_.Ch(k).new_Ref;
    return e;
}

uint8_t Calibration::take_output(int k)
{
    const uint8_t e = shown(d_.read_input(channel_base(k) + kOffADCout, 2));
    if (e == kOk)
        output_[size_t(k)] = d_.Ch(k).new_ADCout.Long;
    return e;
}

Calibration::Live Calibration::take_each(uint8_t (Calibration::*take)(int))
{
    Live live{};
    live.read = each_channel([&](int k) { return (this->*take)(k); });
    for (int k = 1; k <= kChannels; ++k)
        live.measured[k] = read_back(k);
    return live;
}

Calibration::Live Calibration::take_zeros() { return take_each(&Calibration::take_zero); }

Calibration::Live Calibration::take_outputs() { return take_each(&Calibration::take_output); }

void Calibration::start_session() { output_.fill(1); }

void Calibration::set_output(int k, uint32_t output) { output_[size_t(k)] = output; }

void Calibration::derive_coefficient(int k)
{
    uint32_t& output = output_[size_t(k)];
    if (output == 0)
        output = 1;
    coefficient_[size_t(k)].set_float(coefficient(d_.parScl(k).Ustavka.as_float(), output));
}

Calibration::Written Calibration::written(int k, const Exchange& x)
{
    Written w{x.err, kOk};
    if (checked(refusals_, x)) {
        pause(kWriteSettleMs);
        w.measured = read_back(k);
    }
    return w;
}

Calibration::Written Calibration::write_zero(int k, uint16_t zero)
{
    return written(k, d_.write_holding(channel_base(k) + kOffRef, zero));
}

Calibration::Written Calibration::write_coefficient(int k, float coefficient)
{
    return written(k, d_.write_holding_pair(channel_base(k) + kOffNcal, coefficient));
}

uint8_t Calibration::read_back(int k)
{
    const Exchange x = d_.zapros_izm_znach_new(k);
    if (!x.ok())
        report_.failed(x, x.msg_buf_error());
    return x.err;
}

uint8_t Calibration::read_back_after_zero_step(int k, bool wrote)
{
    if (wrote)
        pause(kZeroStepSettleMs);
    return read_back(k);
}

uint8_t Calibration::read_back_after_trim_step(int k)
{
    pause(kTrimStepSettleMs);
    return read_back(k);
}

}  // namespace varnok
