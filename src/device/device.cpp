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

Device::Device(Link& l) : link(l), mb(l, *this) {}

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
    case kRegLight: light = low; return kOk;
    case kRegSysNum:
        // Only a number a device can have: 0 would make every later request a broadcast.
        if (v < kMinSysNum || v > kMaxSysNum)
            return kBadFormat;
        link.set_sys_num(low);
        return kOk;
    // The device's own line settings become the console's; the port stays as it is set up.
    // Its speed code may name another speed than the line's, which stays.
    case kRegSpeed: link.take_reported_speed_code(low); return kOk;
    case kRegParity: link.set_parity(low); return kOk;
    case kRegStopBits: link.set_stopbit(low); return kOk;
    default: break;
    }
    uint16_t off = 0;
    const int n = channel_of(a, off);
    if (n == 0)
        return kIllegalAddress;
    switch (off) {
    case kOffScale:
        parScl[n].DecPosition = static_cast<uint8_t>(v >> 8);
        parScl[n].Measure = low;
        return kOk;
    case kOffUstavka:
    case kOffMax:
    case kOffMin:
    case kOffNcal: izm_tmp_proc_1f = w; return kOk;
    case kOffUstavka + 1: proc_4hh_float(w, parScl[n].Ustavka); return kOk;
    case kOffMax + 1: proc_4hh_float(w, parUst[n].Max); return kOk;
    case kOffMin + 1: proc_4hh_float(w, parUst[n].Min); return kOk;
    case kOffNcal + 1: proc_4hh_float(w, Ch[n].Ncal); return kOk;
    case kOffRef: Ch[n].Ref = v; return kOk;
    case kOffPWML: Ch[n].PWML = v; return kOk;
    case kOffPWMH: Ch[n].PWMH = v; return kOk;
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
        freq.set_float(f);
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
    case kOffUrms + 1: te_4hh_float(w, Ch[n].Urms_te); return kOk;
    case kOffNewRef: Ch[n].new_Ref = v; return kOk;
    case kOffADCout: izm_tmp_proc_1f = w; return kOk;
    case kOffADCout + 1: proc1f_4hh(w, Ch[n].new_ADCout); return kOk;
    default: return kIllegalAddress;
    }
}

void Device::input_data(std::span<const uint8_t> bytes) { tmp_str_.assign(bytes.begin(), bytes.end()); }

void Device::coil_byte(uint8_t bits)
{
    for (int k = 1; k <= kChannels; ++k)
        onoffK[k] = (bits >> (k - 1)) & 1;
}

void Device::input_byte(uint8_t bits)
{
    onoff_swXP1 = !(bits & 1);
    onoff_swJMP78 = !(bits & 2);
    onoff_swXP3 = !(bits & 4);
}

void Device::float1_to_zn(float value)
{
    LongRec tmp_fl;
    tmp_fl.set_float(value);
    mb.zn_word[1] = static_cast<uint16_t>(tmp_fl.byte(0) << 8 | tmp_fl.byte(1));
    mb.zn_word[2] = static_cast<uint16_t>(tmp_fl.byte(2) << 8 | tmp_fl.byte(3));
}

uint8_t Device::read_registers(uint8_t fun, uint16_t na, uint16_t kol)
{
    mb.func = fun;
    mb.na_reg = na;
    mb.kol_reg = kol;
    mb.opros_registers(mb.func, na, kol);
    return fun == kReadHoldingRegisters ? mb.obrab_buf_read_holding_registers(na, kol)
                                        : mb.obrab_buf_input_registers(na, kol);
}

uint8_t Device::read_holding(uint16_t na, uint16_t kol) { return read_registers(kReadHoldingRegisters, na, kol); }

uint8_t Device::read_input(uint16_t na, uint16_t kol) { return read_registers(kReadInputRegisters, na, kol); }

uint8_t Device::write_holding(uint16_t na, uint16_t value)
{
    mb.func = kWriteMultipleRegisters;
    mb.na_reg = na;
    mb.kol_reg = 1;
    mb.write_holding_registers(na, 1, value);
    return mb.obrab_buf_write_holding_registers(na, 1);
}

uint8_t Device::write_holding_pair(uint16_t na, float value)
{
    float1_to_zn(value);
    mb.func = kWriteMultipleRegisters;
    mb.na_reg = na;
    mb.kol_reg = 2;
    mb.write_holding_2registers(na, 2, std::span<const uint16_t>(mb.zn_word).subspan(1));
    return mb.obrab_buf_write_holding_registers(na, 2);
}

uint8_t Device::zapros_pars_nastr_SCL_new(int num) { return read_holding(channel_base(num) + kOffScale, 3); }

uint8_t Device::zapros_pars_nastr_UST_new(int num) { return read_holding(channel_base(num) + kOffMax, 4); }

uint8_t Device::zapros_PWM(int num) { return read_holding(channel_base(num) + kOffPWML, 2); }

uint8_t Device::zapros_izm_znach_new(int num) { return read_input(channel_base(num) + kOffUrms, 2); }

uint8_t Device::zapros_adr(uint8_t /*cn*/) { return read_holding(kRegSysNum, 1); }

uint8_t Device::zapros_adr_for_poisk(uint8_t /*cn*/)
{
    mb.func = kReadHoldingRegisters;
    mb.na_reg = kRegSysNum;
    mb.kol_reg = 1;
    mb.form_inf_part_rtu_read(mb.func, kRegSysNum, 1);
    const uint8_t pr_out = link.tuda_suda_poisk(mb.ozuper, mb.dl_note, mb.buf, mb.dl_otvet);
    switch (pr_out) {
    case 0: return mb.obrab_buf_read_holding_registers(kRegSysNum, 1);
    case 2: return kNoAnswer;
    default: return kInterrupted;
    }
}

uint8_t Device::f_ust_sv(uint8_t sys_numer, int32_t V_obmena, const std::string& com_port)
{
    link.vich_timeout(number_scor(V_obmena), 8);
    const LinkSettings& s = link.settings();
    if (link.init_com_port_new(com_port, V_obmena, s.parity, s.stopbit, s.bytesize) != 0)
        return kProbePortFailed;
    return zapros_adr_for_poisk(sys_numer) == kOk ? kProbeAnswered : kProbeNoAnswer;
}

uint8_t Device::otvet_ustsv(uint8_t sys_numer)
{
    const LinkSettings& s = link.settings();
    if (s.scor_obmena == 0) {
        link.notices.message_box("выберите скорость ");
        return 0;
    }
    const uint8_t r = f_ust_sv(sys_numer, s.scor_obmena, s.name_comport);
    return r == kProbeAnswered ? number_scor(s.scor_obmena) : 0;
}

uint8_t Device::poisk_scor(uint8_t sys_numer)
{
    for (uint8_t k = 1; k < scor.size(); ++k) {
        link.vich_timeout(k, 8);
        const LinkSettings& s = link.settings();
        if (link.init_com_port_new(s.name_comport, scor[k], s.parity, s.stopbit, s.bytesize) == 0 &&
            zapros_adr_for_poisk(sys_numer) == kOk)
            return k;
    }
    return 0;
}

std::string Device::tmp_text() const
{
    return cp1251_to_utf8(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(tmp_str_.data()), tmp_str_.size()));
}

}  // namespace varnok
