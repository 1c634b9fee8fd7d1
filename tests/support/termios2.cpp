// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtGlobal>

#include <asm/termbits.h>
#include <sys/ioctl.h>

qint64 ptyBaud(int fd)
{
    struct termios2 t
    {
    };
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    return static_cast<qint64>(t.c_ospeed);
}
