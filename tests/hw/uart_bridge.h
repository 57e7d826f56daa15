// Joins a qemu 16550 (a socket chardev) to a serial line's far end, byte for
// byte in both directions.
#ifndef HALVEX_HW_UART_BRIDGE_H
#define HALVEX_HW_UART_BRIDGE_H

namespace hwhost {

class UartBridge {
public:
    UartBridge(int guest, int line) : guest_(guest), line_(line) {}
    int guestFd() const { return guest_; }
    int lineFd() const { return line_; }
    // False once the guest side has gone.
    bool FromGuest();
    void FromLine();
    // A receiver that stops answering: what it sends is lost.
    void Mute(bool on) { muted_ = on; }

private:
    int guest_, line_;
    bool muted_ = false;
};

} // namespace hwhost

#endif
