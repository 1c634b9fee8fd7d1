// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Each byte as two upper-case hex digits followed by one blank: 0x0A 0xFF 0x41 -> "0A FF 41 ".
QString renderHex(const QByteArray &bytes);

// The send area's text in hex mode: one or more hex numbers from 0 to FF (either case, leading zeros
// allowed, no prefix) separated by blanks (spaces or tabs; blanks at either end ignored), one byte each.
// Returns nothing for any other text, including an empty one.
std::optional<QByteArray> parseHexBytes(const QString &text);
