#include "platform/posix/PosixBaudRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetAnyBaudRate(int fd, int baudRate)
{
    if (baudRate <= 0)
        return false;
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return false;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(baudRate);
    settings.c_ospeed = static_cast<speed_t>(baudRate);
    return ioctl(fd, TCSETS2, &settings) == 0;
}
