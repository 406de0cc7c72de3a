#pragma once
// The console's model of the device: the records answers are decoded into, the register
// map that decodes them, and the short request operations for groups of registers.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "device/notices.h"
#include "device/records.h"
#include "link/link.h"
#include "modbus/master.h"

namespace varnok {

// Register map. Channel n (1..3) has its block from 32 * n.
inline constexpr uint16_t kRegLight = 1;
inline constexpr uint16_t kRegFreq = 2;
inline constexpr uint16_t kRegName = 4;
inline constexpr uint16_t kRegVersion = 9;
inline constexpr uint16_t kTextRegisters = 5;
inline constexpr uint16_t kRegSysNum = 0x800;
inline constexpr uint16_t kRegSpeed = 0x801;
inline constexpr uint16_t kRegParity = 0x802;
inline constexpr uint16_t kRegStopBits = 0x803;

// Network numbers a device can answer at.
inline constexpr uint8_t kMinSysNum = 1;
inline constexpr uint8_t kMaxSysNum = 247;

constexpr uint16_t channel_base(int n) { return static_cast<uint16_t>(32 * n); }

// Offsets inside a channel's block.
enum ChannelOffset : uint16_t {
    kOffScale = 0,    // holding: decimal point (high byte), unit (low byte)
    kOffUstavka = 1,  // holding pair: full-scale value
    kOffMax = 3,      // holding pair: upper setpoint
    kOffMin = 5,      // holding pair: lower setpoint
    kOffRef = 7,      // holding: zero calibration
    kOffNcal = 8,     // holding pair: full-scale coefficient
    kOffPWML = 10,    // holding: PWM low point
    kOffPWMH = 11,    // holding: PWM high point
    kOffUrms = 12,    // input pair: measured value
    kOffNewRef = 14,  // input: zero reading
    kOffADCout = 15,  // input pair: converter output
};

// Speed probe results.
inline constexpr uint8_t kProbeAnswered = 1;
inline constexpr uint8_t kProbeNoAnswer = 4;
inline constexpr uint8_t kProbePortFailed = 5;
inline constexpr uint8_t kProbeStopped = 6;

// The network number register 0800h holds: 1..247, or 0 for a value no device can have (0
// would make every later request a broadcast).
uint8_t sys_num_of(uint16_t value);

// The speed code, parity and stop bits of registers 0801h..0803h.
struct DeviceLine {
    uint8_t speed_code = 0;
    uint8_t parity = 0;
    uint8_t stopbit = 0;
};

class Device : public RegisterSink {
public:
    Device(Link& link, DeviceNotices& notices);

    // The link the device is reached on.
    Link& link() const { return link_; }

    // The records answers were decoded into; channels and relays are numbered 1..3.
    const TParSCL& parScl(int k) const { return parScl_[size_t(k)]; }
    const TParUST& parUst(int k) const { return parUst_[size_t(k)]; }
    const TParChannel& Ch(int k) const { return Ch_[size_t(k)]; }
    const LongRec& freq() const { return freq_; }
    uint8_t light() const { return light_; }
    bool onoffK(int k) const { return onoffK_[size_t(k)]; }  // relay energised
    bool onoff_swXP1() const { return onoff_swXP1_; }
    bool onoff_swJMP78() const { return onoff_swJMP78_; }
    bool onoff_swXP3() const { return onoff_swXP3_; }
    // Speed code the network number `n` answered at (0: none known).
    uint8_t scor_CN(int n) const { return scor_CN_[size_t(uint8_t(n))]; }

    // What the console learnt other than by a read: the speed a number answered at.
    void record_speed(int n, uint8_t code) { scor_CN_[size_t(uint8_t(n))] = code; }
    // A write the device took: the brightness, a scale's top value, its point and unit.
    void took_light(uint8_t brightness) { light_ = brightness; }
    void took_ustavka(int k, float value) { parScl_[size_t(k)].Ustavka.set_float(value); }
    void took_format(int k, uint8_t decpos, uint8_t unit);

    // Register decoding, as the answer checks call it.
    uint8_t holding_register(uint16_t address, uint16_t value) override;
    uint8_t input_register(uint16_t address, uint16_t value) override;
    void input_data(std::span<const uint8_t> bytes) override;
    void coil_byte(uint8_t bits) override;
    void input_byte(uint8_t bits) override;

    // Join the second register of a pair (byte-swapped) to the accumulator.
    uint8_t proc_4hh_float(uint16_t tmp_obr_w, LongRec& val);
    uint8_t te_4hh_float(uint16_t tmp_obr_w, float& val);
    void proc1f_4hh(uint16_t tmp_obr_w, LongRec& val);

    // Splits a float into the two registers of a write.
    static std::array<uint16_t, 2> float1_to_zn(float value);

    // One exchange: the request sent, its answer checked and decoded into the records.
    Exchange exchange(const Request& r);
    // The later answer to an exchange whose device said it is busy, checked and decoded.
    Exchange receive_again(const Exchange& x);

    // One read or write of a register group.
    Exchange read_holding(uint16_t na, uint16_t kol);
    Exchange read_input(uint16_t na, uint16_t kol);
    Exchange write_holding(uint16_t na, uint16_t value);
    Exchange write_holding_pair(uint16_t na, float value);

    Exchange zapros_pars_nastr_SCL_new(int num);
    Exchange zapros_pars_nastr_UST_new(int num);
    Exchange zapros_PWM(int num);
    Exchange zapros_izm_znach_new(int num);
    // The network number register: the number the device reports becomes the one requests
    // address (it is the number they reached).
    Exchange zapros_adr();

    // Presence probe in search mode, adopting the number as zapros_adr does; 12 when the
    // probe's receive found no answer in time or `stop` ended it (`stopped`).
    Exchange zapros_adr_for_poisk(ReceiveStop* stop = nullptr);
    // The probes ask the number in force; `stop`, when given, may end each probe's wait, and
    // with it the probing. The port set up at a speed and the number probed:
    // kProbeAnswered, kProbeNoAnswer, kProbePortFailed or kProbeStopped.
    uint8_t f_ust_sv(int32_t V_obmena, const std::string& com_port, ReceiveStop* stop = nullptr);
    // The probe at the line's speed: its speed code when the number answered, else 0.
    uint8_t otvet_ustsv(ReceiveStop* stop = nullptr);
    // Every speed in turn: the code of the first the number answered at, else 0.
    uint8_t poisk_scor(ReceiveStop* stop = nullptr);

    // The network number the device reported in its register when it was last read (0: never).
    uint8_t adr() const { return adr_; }
    // The device's own line settings as its registers last told them (the low bytes); the
    // operation that read them decides what the link takes of them.
    const DeviceLine& line() const { return line_; }

    // The data field of the last input-register answer, raw bytes; and the visible text of
    // the last text read (Windows-1251; a zero byte ends it), as UTF-8.
    const std::string& tmp_str() const { return tmp_str_; }
    std::string tmp_text() const;

private:
    // Adopts the number the device reported when the exchange read it.
    Exchange adopting_sys_num(Exchange x);

    Link& link_;
    DeviceNotices& notices_;
    ModbusMaster mb_;
    uint32_t izm_tmp_proc_1f = 0;
    uint32_t izm_tmp_te_1f = 0;
    uint8_t adr_ = 0;
    DeviceLine line_;
    std::string tmp_str_;

    std::array<TParSCL, kChannels + 1> parScl_{};  // index 1..3
    std::array<TParUST, kChannels + 1> parUst_{};
    std::array<TParChannel, kChannels + 1> Ch_{};
    LongRec freq_;
    uint8_t light_ = 0;
    std::array<bool, kChannels + 1> onoffK_{};
    bool onoff_swXP1_ = false;
    bool onoff_swJMP78_ = false;
    bool onoff_swXP3_ = false;
    // Index 1..247; a number read from the wire is a byte, so every byte value has an entry.
    std::array<uint8_t, 256> scor_CN_{};
};

}  // namespace varnok
