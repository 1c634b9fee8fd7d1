// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/modemlines.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace {

class SystemModemLines : public ModemLines
{
public:
    int get(int fd, int &bits) override { return ::ioctl(fd, TIOCMGET, &bits) == 0 ? 0 : errno; }
    int set(int fd, int bits, bool on) override
    {
        return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
    }
};

} // namespace

std::shared_ptr<ModemLines> ModemLines::system()
{
    static const auto lines = std::make_shared<SystemModemLines>();
    return lines;
}
