// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Text sought in a piece's UTF-16 as it lies in memory, for text that matches case and for text of ASCII
// characters in any case, each character folded as Qt folds it, so a KELVIN SIGN still matches a "k".
// Other text in any case is left to Qt. Sixteen places at a time are tested for the needle's first and last
// characters together and only those holding both are compared in full: a capture is searched at the speed
// of reading memory. The end of a piece, too short for sixteen places and the needle, and needles whose
// ends fold from more characters than the lanes tell apart, go through a search that skips ahead by a
// table over the low byte of each character (so any text has one).
class TextSearch
{
public:
    TextSearch(const QString &needle, Qt::CaseSensitivity cs)
        : m_needle(needle)
        , m_cs(cs)
        , m_fold(cs == Qt::CaseInsensitive)
    {
        const bool ascii = std::all_of(needle.begin(), needle.end(), [](QChar c) { return c.unicode() < 0x80; });
        m_own = needle.size() > 1 && (!m_fold || ascii);
        if (!m_own)
            return;
        for (QChar &c : m_needle)
            c = QChar(fold(c.unicode()));
        const qsizetype m = m_needle.size();
        m_skip.fill(m);
        for (qsizetype j = 0; j + 1 < m; ++j)
            m_skip[m_needle[j].unicode() & 0xff] = m - 1 - j;
        m_probes = { probeFor(m_needle.front().unicode()), probeFor(m_needle.back().unicode()) };
    }

    // As QStringView::indexOf.
    qsizetype indexIn(QStringView text, qsizetype from) const
    {
        if (!m_own)
            return text.indexOf(m_needle, from, m_cs);
        const char16_t *h = text.utf16();
        const qsizetype m = m_needle.size();
        qsizetype i = std::max<qsizetype>(from, 0);
#ifdef __SSE2__
        if (m_probes[0].wide && m_probes[1].wide) {
            struct Lanes
            {
                __m128i value, bits, other;
            };
            const auto lanes = [](const Probe &p) {
                return Lanes { _mm_set1_epi16(short(p.value)), _mm_set1_epi16(short(p.bits)),
                    _mm_set1_epi16(short(p.other)) };
            };
            const Lanes first = lanes(m_probes[0]);
            const Lanes last = lanes(m_probes[1]);
            // Lanes of `v` holding the probe's character, in either case for a letter, or the one other
            // character that folds to it.
            const auto holds = [](__m128i v, const Lanes &p) {
                return _mm_or_si128(_mm_cmpeq_epi16(_mm_or_si128(v, p.bits), p.value), _mm_cmpeq_epi16(v, p.other));
            };
            const auto load = [h](qsizetype at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(h + at)); };
            for (; i + m - 1 + kLanes <= text.size(); i += kLanes) {
                const __m128i low = _mm_and_si128(holds(load(i), first), holds(load(i + m - 1), last));
                const __m128i high = _mm_and_si128(holds(load(i + 8), first), holds(load(i + m + 7), last));
                // One bit a place.
                for (auto both = unsigned(_mm_movemask_epi8(_mm_packs_epi16(low, high))); both != 0; both &= both - 1) {
                    const qsizetype at = i + std::countr_zero(both);
                    if (matchesAt(h + at))
                        return at;
                }
            }
        }
#endif
        const char16_t lastOfNeedle = m_needle.back().unicode();
        while (i + m <= text.size()) {
            const char16_t c = fold(h[i + m - 1]);
            if (c == lastOfNeedle && matchesAt(h + i))
                return i;
            i += m_skip[c & 0xff];
        }
        return -1;
    }

private:
    static constexpr qsizetype kLanes = 16;

    // A character of the needle as the lanes test it: a lane holds it when (lane | bits) == value or
    // lane == other.
    struct Probe
    {
        char16_t value = 0;
        char16_t bits = 0;
        char16_t other = 0;
        bool wide = false; // false: more characters fold to it than one test of lanes can tell
    };

    Probe probeFor(char16_t c) const
    {
        Probe p { c, 0, c, true };
        if (!m_fold)
            return p;
        if (c >= u'a' && c <= u'z')
            p.bits = 0x20;
        for (const auto &[from, to] : foldedToAscii()) {
            if (to != c)
                continue;
            p.wide = p.other == c;
            p.other = from;
        }
        return p;
    }

    // The characters past ASCII that Qt folds to an ASCII one, and what they fold to.
    static const std::vector<std::pair<char16_t, char16_t>> &foldedToAscii()
    {
        static const auto folded = [] {
            std::vector<std::pair<char16_t, char16_t>> out;
            for (char32_t c = 0x80; c <= 0xffff; ++c) {
                const char32_t f = QChar::toCaseFolded(c);
                if (f < 0x80)
                    out.emplace_back(char16_t(c), char16_t(f));
            }
            return out;
        }();
        return folded;
    }

    bool matchesAt(const char16_t *at) const
    {
        const auto *n = reinterpret_cast<const char16_t *>(m_needle.utf16());
        for (qsizetype j = 0; j < m_needle.size(); ++j) {
            if (fold(at[j]) != n[j])
                return false;
        }
        return true;
    }

    char16_t fold(char16_t c) const
    {
        if (!m_fold)
            return c;
        if (c < 0x80)
            return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c;
        return char16_t(QChar::toCaseFolded(char32_t(c)));
    }

    QString m_needle;
    const Qt::CaseSensitivity m_cs;
    const bool m_fold;
    bool m_own = false;
    std::array<qsizetype, 256> m_skip {};
    std::array<Probe, 2> m_probes {};
};
