#include "link/link.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace varnok {

void ThreadSleeper::sleep_ms(unsigned ms)
{
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

Link::Link(Notices& n, Sleeper& s, KeyState& k, const PortMap& p)
    : notices(n), sleeper(s), keys(k), ports(p)
{
}

void Link::record_failure(int error, const char* step)
{
    dwError = static_cast<uint32_t>(error);
    fSuccess = false;
    if (!last_failure.empty())
        return;  // the first failure of a call is its cause; later steps fail for it
    last_failure = std::string(step) + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
    if (error == EACCES || error == EPERM)
        last_failure += "\nНет прав на порт: добавьте пользователя в группу dialout "
                        "(sudo usermod -aG dialout $USER) и войдите в систему заново.";
    else if (error == EBUSY)
        last_failure += "\nПорт занят другой программой.";
}

uint32_t Link::init_com_port_new(const std::string& name_com_port, int32_t zn_scor_obmena,
                                 uint8_t zn_parity, uint8_t zn_stopbit, uint8_t zn_bytesize)
{
    commtimeouts = {R_IntervalTimeout, R_TotalTimeoutMultiplier, R_TotalTimeoutConstant,
                    W_TotalTimeoutMultiplier, W_TotalTimeoutConstant};
    dwError = 0;
    last_failure.clear();
    broken_told_ = false;

    hcom.close();

    last_path = ports.resolve(name_com_port);
    if (num_name_comport > kPortCount) {
        notices.message_box("неверный Com-порт", name_com_port);
    } else {
        const int e = hcom.open(last_path);
        if (e != 0) {
            record_failure(e, last_path.empty() ? (name_com_port + " не сопоставлен ни одному устройству").c_str()
                                                : ("открытие " + last_path).c_str());
        } else if (const int g = hcom.get_state(dcb); g != 0) {
            record_failure(g, "чтение настроек линии");
        }
    }

    dcb.BaudRate = static_cast<uint32_t>(zn_scor_obmena);
    dcb.ByteSize = zn_bytesize;
    dcb.Parity = zn_parity;
    if (zn_stopbit == 1)
        dcb.StopBits = 0;
    else if (zn_stopbit == 2)
        dcb.StopBits = 2;

    if (const int e = hcom.set_state(dcb); e != 0)
        record_failure(e, "настройка линии");
    if (const int e = hcom.set_timeouts(commtimeouts); e != 0)
        record_failure(e, "установка таймаутов");

    fSuccess = dwError == 0;
    if (dwError != 0 && !last_path.empty())
        last_failure = last_path + "\n" + last_failure;
    return dwError;
}

void Link::vich_timeout(uint8_t number_scor, uint8_t /*kol_byte*/)
{
    const uint8_t c = number_scor < t_allow.size() ? number_scor : 0;
    R_IntervalTimeout = t_allow[c];
    R_TotalTimeoutMultiplier = 2 * t_after_response[c];
    R_TotalTimeoutConstant = 2 * t_end_packet[c];
    W_TotalTimeoutMultiplier = 0;
    W_TotalTimeoutConstant = 0;

    dw = init_com_port_new(name_comport, scor_obmena, parity, stopbit, bytesize);
    if (dw != 0)
        notices.message_box("ошибка настройки порта ", last_failure);

    time_pause_after = t_after_response[c];
    time_pause_before = t_end_packet[c];
}

void Link::tuda(Frame& ozuper, uint8_t kb)
{
    // Every byte the builder produced goes out, up to the last position of the buffer; the
    // two positions after the frame are cleared where the buffer has them.
    if (kb > kFrameSize - 1)
        kb = kFrameSize - 1;
    hcom.purge_input();
    sleeper.sleep_ms(time_pause_before);
    for (size_t i = size_t(kb) + 1; i <= size_t(kb) + 2 && i < kFrameSize; ++i)
        ozuper[i] = 0;
    size_t written = 0;
    // A connection that broke is told once (below), not as a transmit error per frame.
    if (const int e = hcom.write(&ozuper[1], kb, written); e != 0 && !hcom.broken()) {
        dwError = static_cast<uint32_t>(e);
        notices.message_box("ошибка передачи= " + std::to_string(e), std::strerror(e));
    }
    if (tap)
        tap->sent(&ozuper[1], kb);  // the frame as the console sent it, even to a port that failed
    report_broken();
    sleeper.sleep_ms(time_pause_after);
}

void Link::fill(Frame& buf) const
{
    buf[0] = 0;
    for (size_t i = 1; i <= kFillPositions; ++i)
        buf[i] = kFill;
}

void Link::after_receive(const Frame& buf, uint8_t kpb)
{
    if (tap)
        tap->received(&buf[1], kpb < kFrameSize ? kpb : kFrameSize - 1);
    report_broken();
}

// A broken connection is reported once, like a port that failed, with what to do about it;
// the exchanges after it find no answer until the port is opened again.
void Link::report_broken()
{
    if (hcom.broken() == 0 || broken_told_)
        return;
    broken_told_ = true;
    notices.message_box("ошибка настройки порта ",
                        last_path + "\nсоединение разорвано: " + std::strerror(hcom.broken()) +
                            "\nПодключиться снова: «инициализация СОМпорта».");
}

// One one-byte read into position 1; true when it delivered a byte. `call_ok` tells
// whether the port reported the call as successful (a time-out is a success).
bool Link::read_one(Frame& buf, bool& call_ok)
{
    uint8_t byte = 0;
    size_t got = 0;
    call_ok = hcom.read(&byte, 1, got) == 0;
    if (got == 1)
        buf[1] = byte;
    return got == 1;
}

void Link::suda(Frame& buf, uint8_t& kpb, uint8_t kol_wait_bytes)
{
    kpb = 0;
    pr_out = 0;
    fill(buf);

    bool found = false;
    uint8_t last_got = 0;
    for (int pass = 0; pass < 2 && !found; ++pass) {
        if (pass == 1)
            pr_out = 1;
        for (int attempt = 0; attempt < 3; ++attempt) {
            bool ok = false;
            const bool got = read_one(buf, ok);
            last_got = got ? 1 : 0;
            if (got && buf[1] == sys_num) {
                found = true;
                break;
            }
        }
    }
    if (!found) {
        pr_out = 2;
        kpb = last_got;
        after_receive(buf, kpb);
        return;
    }

    const uint8_t c = num_scor < t_allow.size() ? num_scor : 0;
    sleeper.sleep_ms(unsigned(t_allow[c]) * kol_wait_bytes);

    // The answer goes from position 2; never past the end of the buffer.
    const size_t room = kFrameSize - 2;
    const size_t want = kol_wait_bytes < room ? kol_wait_bytes : room;
    size_t got = 0;
    hcom.read(&buf[2], want, got);
    kpb = static_cast<uint8_t>(got + 1);
    after_receive(buf, kpb);
}

void Link::suda_for_poisk(Frame& buf, uint8_t& kpb)
{
    kpb = 0;
    pr_out = 0;
    fill(buf);
    keys.pressed_since_last_query(kKeyX);

    bool found = false;
    uint8_t last_got = 0;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
        bool ok = false;
        const bool got = read_one(buf, ok);
        last_got = got ? 1 : 0;
        found = got && buf[1] == sys_num;
    }

    if (!found) {
        pr_out = 1;
        bool any_ok = false;
        for (int attempt = 0; attempt < 3 && !any_ok; ++attempt) {
            const bool got = read_one(buf, any_ok);
            last_got = got ? 1 : 0;
            if (keys.pressed_since_last_query(kKeyX)) {
                pr_out = 1;
                throw SearchAborted();
            }
        }
        if (!any_ok) {
            pr_out = 2;
            kpb = last_got;
            after_receive(buf, kpb);
            return;
        }
    }

    if (pr_out == 0) {
        size_t got = 0;
        hcom.read(&buf[2], 6, got);
        last_got = static_cast<uint8_t>(got);
    }
    kpb = static_cast<uint8_t>(last_got + 1);
    after_receive(buf, kpb);
}

uint8_t Link::tuda_suda_poisk(Frame& ozuper, uint8_t dl_note, Frame& buf, uint8_t& dl_otvet)
{
    tuda(ozuper, dl_note);
    suda_for_poisk(buf, dl_otvet);
    return pr_out;
}

}  // namespace varnok
