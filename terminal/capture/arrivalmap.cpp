// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/arrivalmap.h"

#include <algorithm>
#include <limits>

ArrivalMap::ArrivalMap()
{
    clear();
}

void ArrivalMap::clear()
{
    m_pieces.assign(1, Piece { 0, 0, false });
}

void ArrivalMap::appending(qint64 absolute, qint64 arrival)
{
    const Piece &last = m_pieces.back();
    if (!last.inserted && last.shift == absolute - arrival)
        return;
    if (last.at == absolute)
        m_pieces.pop_back();
    m_pieces.push_back({ absolute, absolute - arrival, false });
}

void ArrivalMap::edited(qint64 from, qint64 to, qint64 inserted)
{
    const qint64 delta = inserted - (to - from);
    // What follows the edit keeps its arrival positions.
    auto holding
        = std::upper_bound(m_pieces.begin(), m_pieces.end(), to, [](qint64 at, const Piece &p) { return at < p.at; });
    const Piece after = *std::prev(holding);
    std::vector<Piece> pieces(m_pieces.begin(),
        std::lower_bound(m_pieces.begin(), m_pieces.end(), from, [](const Piece &p, qint64 at) { return p.at < at; }));
    if (inserted > 0)
        pieces.push_back({ from, 0, true });
    pieces.push_back({ from + inserted, after.shift + delta, after.inserted });
    for (auto it = holding; it != m_pieces.end(); ++it)
        pieces.push_back({ it->at + delta, it->shift + delta, it->inserted });
    // Pieces that cover nothing go, and neighbours that translate alike become one.
    m_pieces.clear();
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece &piece = pieces[i];
        if (i + 1 < pieces.size() && pieces[i + 1].at <= piece.at)
            continue;
        if (!m_pieces.empty() && m_pieces.back().inserted == piece.inserted
            && (piece.inserted || m_pieces.back().shift == piece.shift))
            continue;
        m_pieces.push_back(piece);
    }
}

void ArrivalMap::dropBefore(qint64 absolute)
{
    auto keep = std::upper_bound(
        m_pieces.begin(), m_pieces.end(), absolute, [](qint64 at, const Piece &p) { return at < p.at; });
    if (keep - m_pieces.begin() > 1)
        m_pieces.erase(m_pieces.begin(), std::prev(keep));
}

std::vector<ArrivalMap::Piece>::const_iterator ArrivalMap::holding(qint64 absolute) const
{
    auto it = std::upper_bound(
        m_pieces.begin(), m_pieces.end(), absolute, [](qint64 at, const Piece &p) { return at < p.at; });
    return it == m_pieces.begin() ? it : std::prev(it);
}

qint64 ArrivalMap::firstArrivalFrom(qint64 absolute) const
{
    for (auto it = holding(absolute); it != m_pieces.end(); ++it) {
        if (!it->inserted)
            return std::max(absolute, it->at) - it->shift;
    }
    return -1;
}

QVarLengthArray<ArrivalMap::Range, 4> ArrivalMap::arrivalRanges(qint64 from, qint64 to) const
{
    QVarLengthArray<Range, 4> ranges;
    auto it = holding(from);
    for (; it != m_pieces.end() && it->at < to; ++it) {
        if (it->inserted)
            continue;
        const qint64 end = std::next(it) == m_pieces.end() ? std::numeric_limits<qint64>::max() : std::next(it)->at;
        const qint64 a = std::max(from, it->at) - it->shift;
        const qint64 b = std::min(to, end) - it->shift;
        if (a < b)
            ranges.append({ a, b, a + it->shift });
    }
    return ranges;
}
