// SPDX-License-Identifier: GPL-3.0-or-later
// The send area's hex parser: any text, never a crash; whatever it accepts reads back from its own
// rendering unchanged.

#include "terminal/hexformat.h"
#include "tools/fuzz/fuzzinput.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = fuzzText(data, size);
    const auto bytes = parseHexBytes(text);
    if (!bytes)
        return 0;
    if (bytes->isEmpty())
        std::abort(); // an accepted text is at least one byte
    const auto again = parseHexBytes(renderHex(*bytes));
    if (!again || *again != *bytes)
        std::abort();
    return 0;
}
