// A device's configuration as named values: read, compared, written in order, against the
// simulator.
#include "ops/configuration.h"
#include "ops/profile.h"
#include "ops_fixture.h"

namespace varnok::test {
namespace {

Setting parsed(const std::string& item)
{
    const size_t eq = item.find('=');
    return parse_setting(item.substr(0, eq), item.substr(eq + 1), true);
}

TEST_F(OpsOnSim, AConfigurationReadsAsItsProfileAndDiffersOnlyWhereTheDeviceDoes)
{
    open_at(9600);
    Configuration config(dev, report, sleeper);
    bool failed = true;
    const std::vector<Setting> have = config.read(kAllSections, failed);
    EXPECT_FALSE(failed);
    ASSERT_EQ(have.size(), 28u);
    EXPECT_EQ(profile_text({have[0], have[4], have[6], have[16]}, "Варнок", "V2"),
              "# Varnok: конфигурация прибора\n# прибор: Варнок\n# версия ПО: V2\nformat=1\n\n"
              "[interface]\nspeed=9600\n\n[scales]\nscale1=250.0\n\n[setpoints]\nmax1=225\n\n"
              "[calibration]\nzero1=1012\n# crc32=89F6D441\n");
    // The profile of the device reads back as the same values: nothing differs.
    EXPECT_TRUE(differences(have, parse_profile(profile_text(have, "", ""))).empty());

    // A value is what the device holds, whatever text gives it; the point of a scale counts.
    const std::vector<Setting> want = {parsed("max1=225.0"), parsed("scale1=250.0"), parsed("scale2=5.00"),
                                       parsed("coefficient1=0.0025"), parsed("pwm_low3=481")};
    const auto changes = differences(have, want);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].first.key() + " " + changes[0].second, "scale2 5.000");
    EXPECT_EQ(changes[1].first.key() + " " + changes[1].second, "pwm_low3 480");
}

// Device values first, the line after them, a refusal stops what follows.
TEST_F(OpsOnSim, AWriteGoesInOrderAndStopsAtARefusal)
{
    open_at(9600);
    Configuration config(dev, report, sleeper);
    std::vector<Setting> writes = {parsed("zero2=900"), parsed("stopbits=2"), parsed("max3=17.5"),
                                   parsed("coefficient1=0.003")};
    std::stable_sort(writes.begin(), writes.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
    bool changed_line = false;
    ASSERT_TRUE(config.write(writes, changed_line));
    EXPECT_TRUE(changed_line);
    EXPECT_EQ(link.settings().stopbit, 2);
    EXPECT_EQ(dumped_float("ch1 ncal"), 0.003f);
    EXPECT_EQ(sim.dump().at("ch2 ref"), "900");
    EXPECT_EQ(dumped_float("ch3 max"), 17.5f);
    // The writes shown, by function and register: setpoints, calibration, the line last.
    std::vector<std::string> functions;
    for (const std::string& r : report.requests)
        functions.push_back(r.substr(3, 2) + " " + r.substr(6, 5));
    EXPECT_EQ(functions, (std::vector<std::string>{"10 00 63", "10 00 47", "10 00 28", "10 08 03"}));

    sim.command("fault exception 2 at 0x25 always");
    changed_line = false;
    EXPECT_FALSE(config.write({parsed("min1=1"), parsed("parity=even")}, changed_line));
    EXPECT_FALSE(changed_line);
    EXPECT_EQ(link.settings().parity, 0);
    EXPECT_EQ(sim.dump().at("parity"), "0 (none)");
}

// A profile's load: what differs is asked once and written only after a yes, then read back;
// a refusal or an unreadable device is told apart from success.
TEST_F(OpsOnSim, AProfileLoadWritesWhatDiffersOnlyOnceConfirmed)
{
    open_at(9600);
    Configuration config(dev, report, sleeper);
    const std::vector<Setting> profile =
        parse_profile("format=1\n[interface]\naddress=9\n[setpoints]\nmax1=200\nmin1=25\n[calibration]\nzero1=900\n");
    int asked = 0;
    Changes changes;
    auto answer = [&](bool yes) {
        return [&, yes](const Changes& c) {
            ++asked;
            changes = c;
            return yes;
        };
    };
    // The address is never loaded, the calibration not unless named, min1 is held already.
    EXPECT_EQ(load_profile(config, profile, kLoadedSections, answer(false)).outcome, ProfileLoad::kDeclined);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first.key() + " " + changes[0].second, "max1 225");
    EXPECT_EQ(dumped_float("ch1 max"), 225.0f);
    EXPECT_TRUE(load_profile(config, profile, kLoadedSections, answer(true)).complete());
    EXPECT_EQ(dumped_float("ch1 max"), 200.0f);
    EXPECT_EQ(load_profile(config, profile, kLoadedSections, answer(true)).outcome, ProfileLoad::kAlreadyHeld);
    EXPECT_EQ(asked, 2);

    sim.command("fault exception 4 at 0x27 function 16 always");  // a write of channel 1's zero
    const ProfileLoad refused = load_profile(config, profile, kCalibration, answer(true));
    EXPECT_EQ(refused.outcome, ProfileLoad::kApplied);
    EXPECT_FALSE(refused.complete());
    ASSERT_EQ(refused.done.left.size(), 1u);
    EXPECT_EQ(refused.done.left[0].first.key(), "zero1");
    EXPECT_EQ(sim.dump().at("ch1 ref"), "1012");

    sim.command("fault silence always");
    EXPECT_EQ(load_profile(config, profile, kSetpoints, answer(true)).outcome, ProfileLoad::kReadFailed);
    EXPECT_EQ(asked, 3);
}

}  // namespace
}  // namespace varnok::test
