// Rates without a Bnnn constant (14400, 56000, 128000, 256000, any user rate) need the
// kernel's termios2 interface, whose header clashes with the C library's termios.h; so
// this file sees only the kernel's definitions.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

#include <QtGlobal>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

int setCustomBaudRate(int fd, quint32 rate)
{
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) < 0)
        return errno;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    if (ioctl(fd, TCSETS2, &t) < 0)
        return errno;
    return 0;
}

int readBaudRate(int fd, quint32 &rate)
{
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) < 0)
        return errno;
    rate = t.c_ospeed;
    return 0;
}
