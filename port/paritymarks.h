// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// With parity on, the terminal driver marks a byte received with a parity or framing error (and a break) as
// "FF 00 x", and doubles a good FF so it cannot be taken for a mark (PARMRK). This turns such a stream back
// into the bytes received, each bad byte as one "?".
//
// Takes the decoded prefix out of `bytes`. A mark cut off at the end (FF, or FF 00) stays in `bytes`, so a mark
// split across two reads decodes whole once the rest is appended.
QByteArray takeParityMarked(QByteArray &bytes);
