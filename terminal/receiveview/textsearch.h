// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>

// Text sought in a piece's UTF-16 as it lies in memory: a Boyer-Moore-Horspool search (a table over the
// low byte of each character, so any text has one) for text that matches case, and for text of ASCII
// characters in any case, each character folded as Qt folds it, so a KELVIN SIGN still matches a "k".
// Other text in any case is left to Qt.
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
    }

    // As QStringView::indexOf.
    qsizetype indexIn(QStringView text, qsizetype from) const
    {
        if (!m_own)
            return text.indexOf(m_needle, from, m_cs);
        const char16_t *h = text.utf16();
        const auto *n = reinterpret_cast<const char16_t *>(m_needle.utf16());
        const qsizetype m = m_needle.size();
        const char16_t lastOfNeedle = n[m - 1];
        for (qsizetype i = std::max<qsizetype>(from, 0); i + m <= text.size();) {
            const char16_t c = fold(h[i + m - 1]);
            if (c == lastOfNeedle) {
                qsizetype j = 0;
                while (j + 1 < m && fold(h[i + j]) == n[j])
                    ++j;
                if (j + 1 == m)
                    return i;
            }
            i += m_skip[c & 0xff];
        }
        return -1;
    }

private:
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
};
