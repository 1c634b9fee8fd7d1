// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The units the receive view never cuts in two, in one place for the store, the layout, the cursor and
// the accessibility interface: a hex token ("AB ": two digits and a blank per received byte), a surrogate
// pair, a CR LF, and a word.

#include <QChar>
#include <QtGlobal>

namespace TextUnits {

// Characters per received byte in hex display: two upper-case digits and a blank.
constexpr qint32 kHexTokenChars = 3;

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// The character at `offset` of the hex rendering of `byte`'s token.
constexpr char16_t hexTokenChar(quint8 byte, qint64 offset)
{
    switch (offset % kHexTokenChars) {
    case 0:
        return kHexDigits[byte >> 4];
    case 1:
        return kHexDigits[byte & 15];
    default:
        return u' ';
    }
}

// A position inside a hex dump (counted from where the dump starts) at which a token begins.
constexpr bool isHexTokenStart(qint64 offset)
{
    return offset % kHexTokenChars == 0;
}

constexpr bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// Between `before` and `after` is no place to cut, to put the caret or to start a row: the middle of a
// CR LF or of a surrogate pair.
constexpr bool isInsideUnit(QChar before, QChar after)
{
    return (before == u'\r' && after == u'\n') || (before.isHighSurrogate() && after.isLowSurrogate());
}

// What a double click selects and Ctrl+Left/Right step over: letters, digits (hex tokens included) and
// the underscore of identifiers.
inline bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

} // namespace TextUnits
