// SPDX-License-Identifier: GPL-3.0-or-later
// The line settings string: any text, never a crash; whatever it accepts is in range and reads back
// the same when written out again.

#include "port/linesettings.h"
#include "tools/fuzz/fuzzinput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto settings = parseLineSettings(fuzzText(data, size));
    if (!settings)
        return 0;
    const bool inRange = settings->baud > 0
        && (settings->parity == 'N' || settings->parity == 'O' || settings->parity == 'E') && settings->dataBits >= 5
        && settings->dataBits <= 8 && (settings->stopBits == 1 || settings->stopBits == 2);
    if (!inRange)
        std::abort();
    const QString written = QStringLiteral("%1,%2,%3,%4")
                                .arg(settings->baud)
                                .arg(QChar::fromLatin1(settings->parity))
                                .arg(settings->dataBits)
                                .arg(settings->stopBits);
    const auto again = parseLineSettings(written);
    if (!again || *again != *settings)
        std::abort();
    return 0;
}
