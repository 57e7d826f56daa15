#include "uart_bridge.h"

#include <errno.h>
#include <unistd.h>

#include "hostio.h"

namespace hwhost {

bool UartBridge::FromGuest()
{
    unsigned char bytes[512];
    ssize_t got = read(guest_, bytes, sizeof bytes);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    if (got > 0)
        WriteAll(line_, bytes, got);
    return true;
}

void UartBridge::FromLine()
{
    unsigned char bytes[512];
    ssize_t got = read(line_, bytes, sizeof bytes);
    if (got > 0 && !muted_)
        WriteAll(guest_, bytes, got);
}

} // namespace hwhost
