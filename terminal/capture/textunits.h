// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The units the receive view never cuts in two, in one place for the store, the layout, the cursor and
// the accessibility interface: a hex token ("AB ": two digits and a blank per received byte), a surrogate
// pair, a CR LF, and a word.
//
// The functions over a text take anything with `at(position)` (a QChar, or a null one outside the text)
// and `size()`: the store, or a QString in tests.

#include <QChar>
#include <QtGlobal>

#include <algorithm>
#include <utility>

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

// Writes the tokens of `count` bytes to `out`, which has room for kHexTokenChars per byte; returns the
// position after the last.
inline char16_t *writeHexTokens(const quint8 *bytes, qint64 count, char16_t *out)
{
    for (qint64 i = 0; i < count; ++i) {
        *out++ = kHexDigits[bytes[i] >> 4];
        *out++ = kHexDigits[bytes[i] & 15];
        *out++ = u' ';
    }
    return out;
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

// Line breaks among `count` characters, a CR LF counted once.
constexpr qint64 countLineBreaks(const char16_t *chars, qint64 count)
{
    qint64 breaks = 0;
    for (qint64 i = 0; i < count; ++i)
        breaks += chars[i] == u'\n' ? (i == 0 || chars[i - 1] != u'\r') : chars[i] == u'\r';
    return breaks;
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

// A word is looked for this far from where the search starts: a line may be a gigabyte of one letter.
constexpr qint64 kWordSearchChars = 4096;

// A line starts at 0 and after a break; the CR of a CR LF is no break of its own.
template <typename Text> bool isLineStartAt(const Text &text, qint64 position)
{
    if (position <= 0)
        return true;
    const QChar before = text.at(position - 1);
    return before == u'\n' || (before == u'\r' && (position >= qint64(text.size()) || text.at(position) != u'\n'));
}

// 2 for the CR of a CR LF, 1 for any other CR or LF, 0 for the rest (and past the end).
template <typename Text> int breakLengthAt(const Text &text, qint64 position)
{
    if (position < 0 || position >= qint64(text.size()) || !isLineBreak(text.at(position)))
        return 0;
    return text.at(position) == u'\r' && position + 1 < qint64(text.size()) && text.at(position + 1) == u'\n' ? 2 : 1;
}

template <typename Text> bool isInsideUnitAt(const Text &text, qint64 position)
{
    return position > 0 && position < qint64(text.size()) && isInsideUnit(text.at(position - 1), text.at(position));
}

// `position`, or just after the unit it would cut in two.
template <typename Text> qint64 outOfUnit(const Text &text, qint64 position)
{
    return isInsideUnitAt(text, position) ? position + 1 : position;
}

// The position after the character (CR LF and a surrogate pair count as one) starting at `position`.
template <typename Text> qint64 nextCharacter(const Text &text, qint64 position)
{
    const auto size = qint64(text.size());
    if (position >= size)
        return size;
    return isInsideUnitAt(text, position + 1) ? position + 2 : position + 1;
}

template <typename Text> qint64 previousCharacter(const Text &text, qint64 position)
{
    if (position <= 1)
        return 0;
    return isInsideUnitAt(text, position - 1) ? position - 2 : position - 1;
}

// Ctrl+Right: past the blanks and punctuation, then to the end of the word that follows.
template <typename Text> qint64 nextWordEnd(const Text &text, qint64 position)
{
    const qint64 limit = std::min(qint64(text.size()), position + kWordSearchChars);
    while (position < limit && !isWordCharacter(text.at(position)))
        position = nextCharacter(text, position);
    while (position < limit && isWordCharacter(text.at(position)))
        ++position;
    return position;
}

// Ctrl+Left: back over the blanks and punctuation, then to the start of the word before them.
template <typename Text> qint64 previousWordStart(const Text &text, qint64 position)
{
    const qint64 limit = std::max<qint64>(0, position - kWordSearchChars);
    while (position > limit && !isWordCharacter(text.at(position - 1)))
        position = previousCharacter(text, position);
    while (position > limit && isWordCharacter(text.at(position - 1)))
        --position;
    return position;
}

// What a double click selects: the word holding `position` (or ending there), else the one character there.
template <typename Text> std::pair<qint64, qint64> wordAt(const Text &text, qint64 position)
{
    const qint64 lower = std::max<qint64>(0, position - kWordSearchChars);
    const qint64 upper = std::min(qint64(text.size()), position + kWordSearchChars);
    qint64 from = position;
    qint64 to = position;
    while (from > lower && isWordCharacter(text.at(from - 1)))
        --from;
    while (to < upper && isWordCharacter(text.at(to)))
        ++to;
    if (from == to)
        to = nextCharacter(text, to);
    return { from, to };
}

// The word holding `position`, or the run of what stands between words there (blanks and punctuation;
// a line break, CR LF whole, is a run of its own), within [lower, upper): the pieces a screen reader steps
// through by words, following each other with no gap, by the same rule as Ctrl+Left/Right and a double
// click. {upper, upper} past the end.
template <typename Text>
std::pair<qint64, qint64> wordRunAt(const Text &text, qint64 position, qint64 lower, qint64 upper)
{
    upper = std::min(upper, qint64(text.size()));
    lower = std::max<qint64>(lower, 0);
    position = std::clamp(position, lower, upper);
    if (position >= upper)
        return { upper, upper };
    // The kind of a character: 0 a word's, 1 a line break, 2 anything else.
    const auto kind = [&](qint64 at) { return isWordCharacter(text.at(at)) ? 0 : isLineBreak(text.at(at)) ? 1 : 2; };
    if (isInsideUnitAt(text, position) && position > lower)
        --position;
    const int here = kind(position);
    if (here == 1) {
        const qint64 end = text.at(position) == u'\r' && position + 1 < upper && text.at(position + 1) == u'\n'
            ? position + 2
            : position + 1;
        return { position, end };
    }
    qint64 start = position;
    while (start > lower && kind(start - 1) == here)
        --start;
    qint64 end = position + 1;
    while (end < upper && kind(end) == here)
        ++end;
    return { start, end };
}

} // namespace TextUnits
