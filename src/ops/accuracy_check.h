#pragma once
// The accuracy check of a unit's channels: at each test point the reference value applied,
// N readings of the channel's measured value (the value the device itself computes), their
// statistics, the error against the reference, the error in percent of the span and a
// verdict against the accuracy class. It only reads: nothing is written to the device.
// Every exchange is shown through the report.

#include <string>
#include <vector>

#include "record/check_document.h"
#include "record/protocol.h"

namespace varnok {

class Device;
class Report;
class Sleeper;

// What to check: the channels (1..3), the test points in percent of the scale (-10..110),
// the tolerance in percent of span and the readings per point (1..100).
struct CheckPlan {
    std::vector<int> channels{1, 2, 3};
    std::vector<double> points{0, 25, 50, 75, 100};
    double tolerance = 0.5;
    unsigned samples = 10;
};

// Why a plan cannot be checked, as one line; empty when it can.
std::string plan_fault(const CheckPlan& plan);

// The point's and the channel's verdicts, as the check's documents judge them again.
using record::judge_channel;
using record::judge_point;

class AccuracyCheck {
public:
    // `pauses` spaces the readings of a point, so that each is a fresh value of the device.
    AccuracyCheck(Device& device, Report& report, Sleeper& pauses);

    // A run laid out: each channel's scale (full-scale value and unit) and its stored zero and
    // coefficient read from the device, and its points with their nominal values (also as
    // their references) and nothing measured yet. Empty `failure` when every read succeeded;
    // else the one line naming the read that failed, and the run is not to be measured.
    record::CheckRun begin(const CheckPlan& plan, record::CheckKind kind, std::string& failure);

    // Measures one point of a channel of that run: the plan's number of readings against the
    // point's `reference` (set it before, when the reference instrument shows another value
    // than the nominal), then judges the point and the channel. A failed read ends the point
    // as failed, named in `point.failure`.
    void measure(record::ChannelCheck& channel, record::CheckPoint& point, double tolerance);

    // The channel's stored zero and coefficient (read again after a calibration).
    record::Constants read_constants(int k);

private:
    Device& d_;
    Report& report_;
    Sleeper& pauses_;
    std::string last_failure_;  // the error line of the last read of the constants that failed
};

}  // namespace varnok
