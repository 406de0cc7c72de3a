#include "device/device.h"

#include "device/cp1251.h"

namespace varnok {

namespace {

uint16_t swapped(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

// The channel whose block holds `address`, with the offset inside it; 0 when none does.
int channel_of(uint16_t address, uint16_t& offset)
{
    for (int n = 1; n <= kChannels; ++n) {
        const uint16_t base = channel_base(n);
        if (address >= base && address < base + 32) {
            offset = static_cast<uint16_t>(address - base);
            return n;
        }
    }
    return 0;
}

}  // namespace

uint8_t sys_num_of(uint16_t value)
{
    return value >= kMinSysNum && value <= kMaxSysNum ? static_cast<uint8_t>(value) : 0;
}

Device::Device(Link& l, DeviceNotices& n) : link_(l), notices_(n), mb_(l, *this) {}

uint8_t Device::proc_4hh_float(uint16_t tmp_obr_w, LongRec& val)
{
    izm_tmp_proc_1f += uint32_t(tmp_obr_w) << 16;
    val.Long = izm_tmp_proc_1f;
    return kOk;
}

uint8_t Device::te_4hh_float(uint16_t tmp_obr_w, float& val)
{
    izm_tmp_te_1f += uint32_t(tmp_obr_w) << 16;
    val = std::bit_cast<float>(izm_tmp_te_1f);
    return kOk;
}

void Device::proc1f_4hh(uint16_t tmp_obr_w, LongRec& val)
{
    izm_tmp_proc_1f += uint32_t(tmp_obr_w) << 16;
    val.Long = izm_tmp_proc_1f;
}

uint8_t Device::holding_register(uint16_t a, uint16_t v)
{
    const uint8_t low = static_cast<uint8_t>(v);
    const uint16_t w = swapped(v);
    switch (a) {
    case kRegLight: light_ = low; return kOk;
    case kRegSysNum:
        // Only a number a device can have; whoever read it decides whether to address it.
        if (sys_num_of(v) == 0)
            return kBadFormat;
        adr_ = sys_num_of(v);
        return kOk;
    case kRegSpeed: line_.speed_code = low; return kOk;
    case kRegParity: line_.parity = low; return kOk;
    case kRegStopBits: line_.stopbit = low; return kOk;
    default: break;
    }
    uint16_t off = 0;
    const int n = channel_of(a, off);
    if (n == 0)
        return kIllegalAddress;
    switch (off) {
    case kOffScale:
        parScl_[n].DecPosition = static_cast<uint8_t>(v >> 8);
        parScl_[n].Measure = low;
        return kOk;
    case kOffUstavka:
    case kOffMax:
    case kOffMin:
    case kOffNcal: izm_tmp_proc_1f = w; return kOk;
    case kOffUstavka + 1: proc_4hh_float(w, parScl_[n].Ustavka); return kOk;
    case kOffMax + 1: proc_4hh_float(w, parUst_[n].Max); return kOk;
    case kOffMin + 1: proc_4hh_float(w, parUst_[n].Min); return kOk;
    case kOffNcal + 1: proc_4hh_float(w, Ch_[n].Ncal); return kOk;
    case kOffRef: Ch_[n].Ref = v; return kOk;
    case kOffPWML: Ch_[n].PWML = v; return kOk;
    case kOffPWMH: Ch_[n].PWMH = v; return kOk;
    default: return kIllegalAddress;
    }
}

uint8_t Device::input_register(uint16_t a, uint16_t v)
{
    const uint16_t w = swapped(v);
    if (a == kRegFreq) {
        izm_tmp_te_1f = w;
        return kOk;
    }
    if (a == kRegFreq + 1) {
        float f = 0;
        te_4hh_float(w, f);
        freq_.set_float(f);
        return kOk;
    }
    if (a >= kRegName && a < kRegVersion + kTextRegisters)
        return kOk;  // text registers: the data field was kept whole
    uint16_t off = 0;
    const int n = channel_of(a, off);
    if (n == 0)
        return kIllegalAddress;
    switch (off) {
    case kOffUrms: izm_tmp_te_1f = w; return kOk;
    case kOffUrms + 1: te_4hh_float(w, Ch_[n].Urms_te); return kOk;
    case kOffNewRef: Ch_[n].new_Ref = v; return kOk;
    case kOffADCout: izm_tmp_proc_1f = w; return kOk;
    case kOffADCout + 1: proc1f_4hh(w, Ch_[n].new_ADCout); return kOk;
    default: return kIllegalAddress;
    }
}

void Device::input_data(std::span<const uint8_t> bytes) { tmp_str_.assign(bytes.begin(), bytes.end()); }

void Device::coil_byte(uint8_t bits)
{
    for (int k = 1; k <= kChannels; ++k)
        onoffK_[k] = (bits >> (k - 1)) & 1;
}

void Device::input_byte(uint8_t bits)
{
    onoff_swXP1_ = !(bits & 1);
    onoff_swJMP78_ = !(bits & 2);
    onoff_swXP3_ = !(bits & 4);
}

void Device::took_format(int k, uint8_t decpos, uint8_t unit)
{
    parScl_[size_t(k)].DecPosition = decpos;
    parScl_[size_t(k)].Measure = unit;
}

std::array<uint16_t, 2> Device::float1_to_zn(float value)
{
    LongRec tmp_fl;
    tmp_fl.set_float(value);
    return {static_cast<uint16_t>(tmp_fl.byte(0) << 8 | tmp_fl.byte(1)),
            static_cast<uint16_t>(tmp_fl.byte(2) << 8 | tmp_fl.byte(3))};
}

Exchange Device::exchange(const Request& r) { return mb_.tuda_suda(r); }

Exchange Device::receive_again(const Exchange& x) { return mb_.receive_again(x); }

Exchange Device::read_holding(uint16_t na, uint16_t kol) { return exchange(opros_registers(kReadHoldingRegisters, na, kol)); }

Exchange Device::read_input(uint16_t na, uint16_t kol) { return exchange(opros_registers(kReadInputRegisters, na, kol)); }

Exchange Device::write_holding(uint16_t na, uint16_t value) { return exchange(write_holding_registers(na, value)); }

Exchange Device::write_holding_pair(uint16_t na, float value)
{
    return exchange(write_holding_2registers(na, float1_to_zn(value)));
}

Exchange Device::zapros_pars_nastr_SCL_new(int num) { return read_holding(channel_base(num) + kOffScale, 3); }

Exchange Device::zapros_pars_nastr_UST_new(int num) { return read_holding(channel_base(num) + kOffMax, 4); }

Exchange Device::zapros_PWM(int num) { return read_holding(channel_base(num) + kOffPWML, 2); }

Exchange Device::zapros_izm_znach_new(int num) { return read_input(channel_base(num) + kOffUrms, 2); }

Exchange Device::adopting_sys_num(Exchange x)
{
    if (x.ok())
        link_.set_sys_num(adr_);
    return x;
}

Exchange Device::zapros_adr() { return adopting_sys_num(read_holding(kRegSysNum, 1)); }

Exchange Device::zapros_adr_for_poisk(ReceiveStop* stop)
{
    return adopting_sys_num(
        mb_.tuda_suda(opros_registers(kReadHoldingRegisters, kRegSysNum, 1), ModbusMaster::Receive::kProbe, stop));
}

uint8_t Device::f_ust_sv(int32_t V_obmena, const std::string& com_port, ReceiveStop* stop)
{
    link_.vich_timeout(number_scor(V_obmena));
    const LinkSettings& s = link_.settings();
    if (link_.init_com_port_new(com_port, V_obmena, s.parity, s.stopbit, s.bytesize) != 0)
        return kProbePortFailed;
    const Exchange x = zapros_adr_for_poisk(stop);
    return x.ok() ? kProbeAnswered : x.stopped ? kProbeStopped : kProbeNoAnswer;
}

uint8_t Device::otvet_ustsv(ReceiveStop* stop)
{
    const LinkSettings& s = link_.settings();
    if (s.scor_obmena == 0) {
        notices_.message_box("выберите скорость ");
        return 0;
    }
    const uint8_t r = f_ust_sv(s.scor_obmena, s.name_comport, stop);
    return r == kProbeAnswered ? number_scor(s.scor_obmena) : 0;
}

uint8_t Device::poisk_scor(ReceiveStop* stop)
{
    for (uint8_t k = 1; k < scor.size(); ++k) {
        link_.vich_timeout(k);
        const LinkSettings& s = link_.settings();
        if (link_.init_com_port_new(s.name_comport, scor[k], s.parity, s.stopbit, s.bytesize) != 0)
            continue;
        const Exchange x = zapros_adr_for_poisk(stop);
        if (x.ok())
            return k;
        if (x.stopped)
            return 0;  // the speeds after it are not tried
    }
    return 0;
}

std::string Device::tmp_text() const
{
    return cp1251_to_utf8(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(tmp_str_.data()), tmp_str_.size()));
}

}  // namespace varnok
