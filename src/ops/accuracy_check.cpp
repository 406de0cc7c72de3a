#include "ops/accuracy_check.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

#include "device/device.h"
#include "link/platform.h"
#include "modbus/exchange.h"
#include "ops/report.h"
#include "record/check_document.h"
#include "record/history.h"

namespace varnok {

namespace {

// Between two readings of a point: the converter measures every 100 ms, so each reading is
// a new measurement rather than the same one read again, and ten readings take about a second.
constexpr unsigned kReadingPauseMs = 100;

// A number as the lines show it, in any locale: 25, 12.5, -10.
std::string number_text(double v)
{
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::string point_name(int k, double percent) { return "канал " + std::to_string(k) + ", " + number_text(percent) + " %"; }

// A reading as the decimal the device's float stands for: six significant digits, all that a
// float32 holds for certain, so that 63.1 is 63.1 in the statistics and not 63.0999985.
double reading_value(float v)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, double(v), std::chars_format::general, 6).ptr;
    double d = v;
    std::from_chars(buf, end, d);
    return d;
}

// The unit text without the blank the one-letter units are padded with.
std::string trimmed(const char* text)
{
    std::string s(text);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    while (!s.empty() && s.front() == ' ')
        s.erase(s.begin());
    return s;
}

}  // namespace

std::string plan_fault(const CheckPlan& plan)
{
    if (plan.channels.empty())
        return "не выбран ни один канал";
    std::set<int> seen;
    for (int k : plan.channels) {
        if (k < 1 || k > kChannels)
            return "канал " + std::to_string(k) + " не существует: каналы 1..3";
        if (!seen.insert(k).second)
            return "канал " + std::to_string(k) + " выбран дважды";
    }
    if (plan.points.empty())
        return "не задано ни одной точки проверки";
    for (double p : plan.points)
        if (!std::isfinite(p) || p < -10 || p > 110)
            return "точка " + number_text(p) + " % вне пределов -10..110 %";
    if (!std::isfinite(plan.tolerance) || plan.tolerance <= 0 || plan.tolerance > 100)
        return "допуск " + number_text(plan.tolerance) + " % вне пределов: больше 0 и не больше 100 %";
    if (plan.samples < 1 || plan.samples > 100)
        return "число отсчётов " + std::to_string(plan.samples) + " вне пределов 1..100";
    return {};
}

AccuracyCheck::AccuracyCheck(Device& device, Report& report, Sleeper& pauses)
    : d_(device), report_(report), pauses_(pauses)
{
}

record::CheckRun AccuracyCheck::begin(const CheckPlan& plan, record::CheckKind kind, std::string& failure)
{
    failure.clear();
    record::CheckRun run;
    run.kind = kind;
    run.started = record::local_time_now();
    run.tolerance = plan.tolerance;
    if (failure = plan_fault(plan); !failure.empty())
        return run;
    for (int k : plan.channels) {
        record::ChannelCheck c;
        c.channel = k;
        const Exchange scale = d_.zapros_pars_nastr_SCL_new(k);
        if (!checked(report_, scale)) {
            failure = "канал " + std::to_string(k) + ": шкала не прочитана: " + scale.msg_buf_error();
            return run;
        }
        // The decimal the float stands for (0.1, not 0.100000001), as the readings are taken.
        const float top = d_.parScl(k).Ustavka.as_float();
        c.full_scale = top;
        if (std::isfinite(top)) {
            char buf[32];
            std::from_chars(buf, std::to_chars(buf, buf + sizeof buf, top).ptr, c.full_scale);
        }
        c.unit = trimmed(unit_text(d_.parScl(k).Measure));
        if (c.full_scale == 0 || !std::isfinite(c.full_scale)) {
            failure = "канал " + std::to_string(k) + ": верхнее значение шкалы " + number_text(c.full_scale) +
                      ", погрешность в процентах шкалы не определена";
            return run;
        }
        c.constants = read_constants(k);
        if (!c.constants.read) {
            failure = "канал " + std::to_string(k) + ": калибровочные константы не прочитаны: " + last_failure_;
            return run;
        }
        for (double p : plan.points) {
            record::CheckPoint point;
            point.percent = p;
            point.nominal = p * c.full_scale / 100.0;
            point.reference = point.nominal;
            point.samples = plan.samples;
            c.points.push_back(point);
        }
        run.channels.push_back(std::move(c));
    }
    return run;
}

void AccuracyCheck::measure(record::ChannelCheck& channel, record::CheckPoint& point, double tolerance)
{
    point.readings.clear();
    point.failure.clear();
    const int k = channel.channel;
    if (!std::isfinite(point.reference)) {
        point.failure = point_name(k, point.percent) + ": опорное значение не число";
    } else {
        for (unsigned i = 0; i < point.samples; ++i) {
            if (i > 0)
                pauses_.sleep_ms(kReadingPauseMs);
            const Exchange x = d_.zapros_izm_znach_new(k);
            if (!checked(report_, x)) {
                point.failure = point_name(k, point.percent) + ": отсчёт " + std::to_string(i + 1) +
                                " не прочитан: " + x.msg_buf_error();
                break;
            }
            const float f = d_.Ch(k).Urms_te;
            if (!std::isfinite(f)) {
                point.failure = point_name(k, point.percent) + ": отсчёт " + std::to_string(i + 1) +
                                ": прибор вернул не число";
                break;
            }
            point.readings.push_back(reading_value(f));
        }
    }
    judge_point(point, channel.full_scale, tolerance);
    judge_channel(channel);
}

record::Constants AccuracyCheck::read_constants(int k)
{
    record::Constants c;
    const Exchange x = d_.read_holding(channel_base(k) + kOffRef, 3);
    last_failure_.clear();
    if (!checked(report_, x)) {
        last_failure_ = x.msg_buf_error();
        return c;
    }
    c.read = true;
    c.zero = d_.Ch(k).Ref;
    c.coefficient = d_.Ch(k).Ncal.as_float();
    return c;
}

}  // namespace varnok
