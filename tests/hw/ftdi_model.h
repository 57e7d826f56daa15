// A model of an FT232-class USB serial adapter, played to a qemu guest over
// usbredir. Test code of our own: it answers the vendor requests the Linux
// ftdi_sio driver makes (modem control, line settings, latency timer, modem
// status) and frames the bytes of a serial line in bulk-in packets behind the
// two status bytes the driver reads its modem lines and line errors from. It
// stands for the protocol the driver speaks, not for a chip's timing.
#ifndef HALVEX_HW_FTDI_MODEL_H
#define HALVEX_HW_FTDI_MODEL_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct usbredirparser;

namespace hwhost {

// Modem-status bits of the first status byte, as the driver reads them.
enum ModemBit : uint8_t { ModemCts = 0x10, ModemDsr = 0x20, ModemRi = 0x40, ModemDcd = 0x80 };
// Line-status bits of the second status byte.
enum LineBit : uint8_t { LineOverrun = 0x02, LineParity = 0x04, LineFrame = 0x08, LineBreak = 0x10 };

class FtdiModel {
public:
    // guest: the usbredir connection; line: the serial line's far end (a
    // receiver simulator's terminal).
    FtdiModel(int guest, int line);
    ~FtdiModel();
    FtdiModel(const FtdiModel &) = delete;
    FtdiModel &operator=(const FtdiModel &) = delete;

    int guestFd() const { return guest_; }
    int lineFd() const { return line_; }
    bool wantsWrite() const;
    // False once the guest side has gone.
    bool FromGuest();
    void ToGuest();
    void FromLine();

    // What the control line asks for. Each takes effect in the next bulk-in
    // packet; Pending() tells whether one is still waiting to go.
    void SetModemLine(uint8_t bit, bool on);
    void RaiseLineError(uint8_t bits);
    void UnplugAfter(long bytes); // 0: now
    void Plug();
    bool Pending() const { return statusChanged_ || !events_.empty(); }
    bool plugged() const { return plugged_; }
    int latency() const { return latency_; }

private:
    friend struct Callbacks;
    void Connect();
    void Unplug();
    void AnswerControl(uint64_t id, const uint8_t *setup, uint8_t request, uint8_t type, uint16_t value,
                       uint16_t length);
    void Deliver();

    int guest_, line_;
    usbredirparser *parser_;
    bool plugged_ = false, helloSeen_ = false;
    uint8_t modem_ = 0;
    int latency_ = 16;
    long unplugAfter_ = -1;
    std::deque<uint64_t> reads_;       // bulk-in requests waiting for data
    std::deque<uint8_t> received_;     // line bytes not yet passed to the guest
    std::deque<uint8_t> events_;       // line-status bytes to report, each with one byte
    bool statusChanged_ = false;
};

} // namespace hwhost

#endif
