// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/findscan.h"

#include "terminal/capture/chunk.h"
#include "terminal/capture/scratchfile.h"
#include "terminal/capture/sealedblock.h"

#include <chrono>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kSearchNice = 5;

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// Read back through the file's own reads, leaving the store's cache alone.
QByteArray readBack(const HeldPiece &piece)
{
    QByteArray sealed(piece.fileLength, Qt::Uninitialized);
    QByteArray plain;
    if (piece.file && piece.file->read(piece.fileOffset, sealed.data(), sealed.size()))
        plain = SealedBlock::open(sealed, qint64(piece.chunk->id));
    if (plain.size() == piece.usedBytes)
        return plain;
    // What the area shows for a block that cannot be read back: replacement characters, or zeros.
    if (piece.chunk->hex)
        return QByteArray(piece.usedBytes, '\0');
    const QString replacement(piece.usedBytes / 2, QChar::ReplacementCharacter);
    return QByteArray(reinterpret_cast<const char *>(replacement.utf16()), piece.usedBytes);
}

// Opening a block (decrypting, then decompressing) costs more than searching it: a few threads open the
// next blocks while the search goes through the one at hand, and the search opens some itself rather than
// wait. One fewer than the processors, at most three.
int openerCount()
{
    // Asked once: the C library reads the count from a file each time.
    static const int count = int(std::clamp(std::thread::hardware_concurrency(), 2u, 4u)) - 1;
    return count;
}

} // namespace

void FindScan::giveWay()
{
    setpriority(PRIO_PROCESS, id_t(gettid()), kSearchNice);
}

bool FindScan::acceptable(QChar before) const
{
    return !m_query.hex() || !isHexDigit(before);
}

size_t FindScan::pieceAt(qint64 absolute) const
{
    const auto &pieces = m_held.pieces;
    const auto after = std::upper_bound(
        pieces.begin(), pieces.end(), absolute, [](qint64 a, const HeldPiece &p) { return a < p.start; });
    return size_t(std::max<qsizetype>(after - pieces.begin() - 1, 0));
}

const void *FindScan::data(const HeldPiece &piece)
{
    if (piece.memory)
        return piece.memory;
    const quint64 id = piece.chunk->id;
    for (const Decoded &decoded : m_decoded) {
        if (decoded.id == id)
            return decoded.bytes.constData();
    }
    QByteArray bytes;
    const auto ahead = std::find_if(m_ahead.begin(), m_ahead.end(), [id](const Ahead &a) { return a.id == id; });
    if (ahead != m_ahead.end()) {
        // Rather than wait for the block, open the next ones meanwhile: with the text found as fast as
        // memory is read, opening blocks is most of the work, and this thread takes its share.
        while (ahead->opened.wait_for(std::chrono::seconds(0)) != std::future_status::ready && openOneHere()) { }
        bytes = ahead->opened.get();
        // Those before it were passed over; their threads finish on their own.
        m_ahead.erase(m_ahead.begin(), ahead + 1);
    } else {
        bytes = readBack(piece);
    }
    Decoded &slot = m_decoded[m_nextSlot];
    m_nextSlot ^= 1;
    slot = { id, std::move(bytes) };
    if (m_readAhead)
        readAhead(size_t(&piece - m_held.pieces.data()));
    return slot.bytes.constData();
}

FindScan::~FindScan()
{
    {
        std::lock_guard lock(m_openMutex);
        m_stopOpening = true;
        m_toOpen.clear();
    }
    m_openWake.notify_all();
    for (std::thread &opener : m_openers)
        opener.join();
}

bool FindScan::openOneHere()
{
    std::unique_lock lock(m_openMutex);
    if (m_toOpen.empty())
        return false;
    const std::function<void()> next = std::move(m_toOpen.front());
    m_toOpen.pop_front();
    lock.unlock();
    next();
    return true;
}

void FindScan::open(std::function<void()> job)
{
    if (m_openers.empty()) {
        for (int i = 0; i < openerCount(); ++i) {
            m_openers.emplace_back([this] {
                giveWay();
                std::unique_lock lock(m_openMutex);
                for (;;) {
                    m_openWake.wait(lock, [this] { return m_stopOpening || !m_toOpen.empty(); });
                    if (m_stopOpening)
                        return;
                    const std::function<void()> next = std::move(m_toOpen.front());
                    m_toOpen.pop_front();
                    lock.unlock();
                    next();
                    lock.lock();
                }
            });
        }
    }
    {
        std::lock_guard lock(m_openMutex);
        m_toOpen.push_back(std::move(job));
    }
    m_openWake.notify_one();
}

void FindScan::readAhead(size_t at)
{
    // The system reads the next few MB meanwhile: from the disk, blocks read one at a time each wait for
    // the disk in turn, and the search would go at half the disk's pace.
    constexpr qint64 kHinted = 32;
    const qint64 from = qint64(at);
    if (m_hinted < 0 || (m_hinted - from) * m_step < 0)
        m_hinted = from;
    for (qint64 i = m_hinted + m_step; i >= 0 && i < qint64(m_held.pieces.size()) && (i - from) * m_step <= kHinted;
         i += m_step) {
        const HeldPiece &next = m_held.pieces[size_t(i)];
        if (!next.memory && next.file)
            next.file->willNeed(next.fileOffset, next.fileLength);
        m_hinted = i;
    }
    const qsizetype wanted = 2 * openerCount();
    quint64 last = m_held.pieces[at].chunk->id;
    const auto known = [&](quint64 id) {
        return std::any_of(m_ahead.begin(), m_ahead.end(), [id](const Ahead &a) { return a.id == id; })
            || m_decoded[0].id == id || m_decoded[1].id == id;
    };
    for (qint64 i = qint64(at) + m_step, looked = 0;
         i >= 0 && i < qint64(m_held.pieces.size()) && qsizetype(m_ahead.size()) < wanted && looked < 4 * wanted;
         i += m_step, ++looked) {
        const HeldPiece &next = m_held.pieces[size_t(i)];
        if (next.memory || next.chunk->id == last || known(next.chunk->id))
            continue;
        last = next.chunk->id;
        auto task = std::make_shared<std::packaged_task<QByteArray()>>([next] { return readBack(next); });
        m_ahead.push_back({ last, task->get_future() });
        open([task] { (*task)(); });
    }
}

void FindScan::render(const HeldPiece &piece, qint64 a, qint64 b, QString &out)
{
    if (a < b)
        ChunkView { data(piece), nullptr, {} }.read(
            *piece.chunk, piece.offset + qint32(a), piece.offset + qint32(b), out);
}

QStringView FindScan::textOf(const HeldPiece &piece, qint64 a, qint64 b, qint64 *base)
{
    if (!piece.chunk->hex) {
        *base = 0;
        return QStringView(static_cast<const char16_t *>(data(piece)) + piece.offset, b);
    }
    *base = a;
    m_rendered.clear();
    render(piece, a, b, m_rendered);
    return m_rendered;
}

qint64 FindScan::firstIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, QChar before)
{
    if (b - first < m_n)
        return -1;
    if (piece.chunk->hex && m_query.hex()) {
        // Whole tokens only: the bytes themselves are searched, a token's start is a byte's.
        const auto *raw = static_cast<const quint8 *>(data(piece));
        const qint64 m = m_query.bytes.size();
        const qint64 end = (piece.offset + b) / TextUnits::kHexTokenChars;
        for (qint64 k = (piece.offset + first + 2) / TextUnits::kHexTokenChars; k + m <= end; ++k) {
            const void *hit = memmem(raw + k, size_t(end - k), m_query.bytes.constData(), size_t(m));
            if (!hit)
                return -1;
            k = static_cast<const quint8 *>(hit) - raw;
            const qint64 r = TextUnits::kHexTokenChars * k - piece.offset;
            // Inside the piece, a blank stands before every token.
            if (r > a || acceptable(before))
                return r;
        }
        return -1;
    }
    qint64 base = 0;
    const QStringView text = textOf(piece, a, b, &base);
    for (qsizetype i = m_search.indexIn(text, first - base); i >= 0; i = m_search.indexIn(text, i + 1)) {
        const qint64 r = base + i;
        if (acceptable(r > a ? text[i - 1] : before))
            return r;
    }
    return -1;
}

qint64 FindScan::lastIn(
    const HeldPiece &piece, qint64 a, qint64 b, qint64 first, qint64 last, Before before, bool *pending)
{
    *pending = false;
    last = std::min(last, b - m_n);
    if (last < first)
        return -1;
    // A candidate at `a` needs the character before the piece.
    const auto decide = [&](qint64 r, QChar inside) {
        if (r > a)
            return acceptable(inside);
        if (!before)
            return *pending = true;
        return acceptable(*before);
    };
    if (piece.chunk->hex && m_query.hex()) {
        const auto *raw = static_cast<const quint8 *>(data(piece));
        const qint64 m = m_query.bytes.size();
        const auto lead = quint8(m_query.bytes[0]);
        const qint64 lowest = (piece.offset + first + 2) / TextUnits::kHexTokenChars;
        qint64 k = std::min(
            (piece.offset + last) / TextUnits::kHexTokenChars, (piece.offset + b) / TextUnits::kHexTokenChars - m);
        for (; k >= lowest; --k) {
            const void *hit = memrchr(raw + lowest, lead, size_t(k - lowest + 1));
            if (!hit)
                return -1;
            k = static_cast<const quint8 *>(hit) - raw;
            if (std::memcmp(raw + k, m_query.bytes.constData(), size_t(m)) != 0)
                continue;
            const qint64 r = TextUnits::kHexTokenChars * k - piece.offset;
            if (decide(r, u' '))
                return r;
        }
        return -1;
    }
    qint64 base = 0;
    const QStringView text = textOf(piece, a, b, &base);
    for (qsizetype i = text.lastIndexOf(m_query.needle, last - base, m_query.cs); i >= first - base && i >= 0;
         i = i > 0 ? text.lastIndexOf(m_query.needle, i - 1, m_query.cs) : -1) {
        const qint64 r = base + i;
        if (decide(r, r > a ? text[i - 1] : QChar()))
            return r;
    }
    return -1;
}

qint64 FindScan::forward(qint64 from, qint64 until)
{
    m_step = 1;
    m_hinted = -1;
    const qint64 lo = std::max(from, m_held.origin);
    // One character before the first place a match may start: a hex match needs to see it.
    const qint64 scanStart = std::max(m_held.origin, lo - 1);
    const qint64 hi = until < 0 ? m_held.end : std::min(m_held.end, until + m_n - 1);
    if (hi - lo < m_n)
        return -1;
    QString carry; // the last characters before the piece at hand, at most m_n
    QString window;
    for (size_t i = pieceAt(scanStart); i < m_held.pieces.size() && piece(i).start < hi; ++i) {
        if (m_cancelled)
            return -1;
        const HeldPiece &p = piece(i);
        const qint64 a = std::max(scanStart, p.start) - p.start;
        const qint64 b = std::min(hi, p.end()) - p.start;
        if (a >= b)
            continue;
        if (!carry.isEmpty()) {
            const qint64 windowStart = p.start + a - carry.size();
            window = carry;
            render(p, a, std::min(b, a + m_n - 1), window);
            for (qsizetype k = window.indexOf(m_query.needle, 0, m_query.cs); k >= 0 && k < carry.size();
                 k = window.indexOf(m_query.needle, k + 1, m_query.cs)) {
                if (k + m_n > carry.size() && windowStart + k >= lo && acceptable(k > 0 ? window[k - 1] : QChar()))
                    return windowStart + k;
            }
        }
        const qint64 r = firstIn(p, a, b, std::max(a, lo - p.start), carry.isEmpty() ? QChar() : carry.back());
        if (r >= 0)
            return p.start + r;
        render(p, std::max(a, b - m_n), b, carry);
        if (carry.size() > m_n)
            carry.remove(0, carry.size() - m_n);
        m_done += b - a;
    }
    return -1;
}

qint64 FindScan::backward(qint64 from, qint64 until)
{
    m_step = -1;
    m_hinted = -1;
    const qint64 lo = std::max(until, m_held.origin);
    const qint64 scanStart = std::max(m_held.origin, lo - 1);
    const qint64 hi = std::min(m_held.end, from + m_n - 1);
    if (hi - lo < m_n)
        return -1;
    QString carry; // the first characters after the piece at hand, at most m_n - 1
    QString window;
    std::optional<qint64> pending; // a match at a piece's start, waiting for the character before it
    for (size_t i = pieceAt(hi - 1) + 1; i-- > 0 && piece(i).end() > scanStart;) {
        if (m_cancelled)
            return -1;
        const HeldPiece &p = piece(i);
        const qint64 a = std::max(scanStart, p.start) - p.start;
        const qint64 b = std::min(hi, p.end()) - p.start;
        if (a >= b)
            continue;
        if (pending) {
            window.clear();
            render(p, b - 1, b, window);
            if (acceptable(window[0]))
                return *pending;
            pending.reset();
        }
        const Before before = p.start + a == m_held.origin ? Before(QChar()) : std::nullopt;
        if (!carry.isEmpty()) {
            const qint64 windowFrom = std::max(a, b - m_n);
            window.clear();
            render(p, windowFrom, b, window);
            const qsizetype inPiece = window.size();
            window += carry;
            for (qsizetype k = window.lastIndexOf(m_query.needle, inPiece - 1, m_query.cs); k >= 0;
                 k = k > 0 ? window.lastIndexOf(m_query.needle, k - 1, m_query.cs) : -1) {
                const qint64 at = p.start + windowFrom + k;
                if (k + m_n <= inPiece || at >= from)
                    continue;
                if (at < lo)
                    return -1;
                if (k > 0) {
                    if (acceptable(window[k - 1]))
                        return at;
                } else if (!before) {
                    pending = at;
                    break;
                } else if (acceptable(*before)) {
                    return at;
                }
            }
        }
        if (!pending) {
            bool waits = false;
            const qint64 r = lastIn(p, a, b, std::max(a, lo - p.start), from - 1 - p.start, before, &waits);
            if (r >= 0 && !waits)
                return p.start + r;
            if (r >= 0)
                pending = p.start + r;
        }
        window.clear();
        render(p, a, std::min(b, a + m_n - 1), window);
        carry = (window + carry).left(m_n - 1);
        m_done += b - a;
    }
    // A match waiting for the character before it stands at the start of what is held.
    return pending && !m_cancelled ? *pending : -1;
}

qint64 FindScan::lineOf(qint64 at)
{
    // Most pieces are counted without their data.
    m_readAhead = false;
    qint64 breaks = 0;
    char16_t last = 0;
    for (size_t i = 0; i < m_held.pieces.size() && piece(i).start < at; ++i) {
        if (m_cancelled)
            return 0;
        const HeldPiece &p = piece(i);
        const qint64 b = std::min(at, p.end()) - p.start;
        qint64 count = 0;
        char16_t first = u'0';
        char16_t end = u'0';
        if (p.chunk->hex) {
            // A hex dump holds no line breaks.
        } else if (p.offset == 0 && b == p.chunkChars && p.lineBreaks >= 0) {
            count = p.lineBreaks;
            first = p.firstChar;
            end = p.lastChar;
        } else {
            const char16_t *chars = static_cast<const char16_t *>(data(p)) + p.offset;
            count = TextUnits::countLineBreaks(chars, b);
            first = chars[0];
            end = chars[b - 1];
        }
        // A CR LF whose halves lie in two pieces is one break.
        breaks += count - (last == u'\r' && first == u'\n' ? 1 : 0);
        last = end;
    }
    return breaks + 1;
}
