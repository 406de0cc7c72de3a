// Averaged readings of the live zero and of the full-scale converter output.
#include "device/device.h"
#include "ops/calibration.h"

namespace varnok {

namespace {

constexpr unsigned kOutputReadingPauseMs = 500;  // after every converter output read, the last one too

}  // namespace

std::optional<uint16_t> Calibration::average_zero(int k, unsigned n, unsigned log2n, AverageLines& lines)
{
    unsigned good = 0;
    uint32_t sum = 0;
    for (unsigned i = 1; i <= n; ++i) {
        if (!checked(lines, d_.read_input(channel_base(k) + kOffNewRef, 1)))
            continue;
        const uint16_t r = d_.Ch(k).new_Ref;
        zero_[size_t(k)] = r;
        ++good;
        sum += r;
        lines.zero_reading(i, r);
    }
    if (good != n)
        return std::nullopt;
    const auto mean = static_cast<uint16_t>((sum + n / 2) >> log2n);
    zero_[size_t(k)] = mean;
    lines.zero_mean(mean);
    return mean;
}

std::optional<uint32_t> Calibration::average_output(int k, unsigned n, unsigned log2n, AverageLines& lines)
{
    const float top = d_.parScl(k).Ustavka.as_float();
    unsigned good = 0;
    uint64_t sum = 0;  // sixteen 32-bit readings never overflow it
    for (unsigned i = 1; i <= n; ++i) {
        if (checked(lines, d_.read_input(channel_base(k) + kOffADCout, 2))) {
            const uint32_t a = d_.Ch(k).new_ADCout.Long;
            output_[size_t(k)] = a;
            ++good;
            sum += a;
            // An output of 0 is taken as 1, as everywhere a coefficient is derived.
            const long double single = static_cast<long double>(top) / (a == 0 ? 1 : a);
            lines.output_reading(i, a, double(single));
        }
        pause(kOutputReadingPauseMs);
    }
    if (good != n)
        return std::nullopt;
    // The coefficient of the mean output; a mean of 0 is taken as 1.
    const long double ncal = sum == 0 ? top : static_cast<long double>(n) * top / static_cast<long double>(sum);
    coefficient_[size_t(k)].set_float(static_cast<float>(ncal));
    const auto mean = static_cast<uint32_t>((sum + n / 2) >> log2n);
    output_[size_t(k)] = mean;
    lines.output_mean(mean, coefficient_[size_t(k)].as_float());
    return mean;
}

}  // namespace varnok
