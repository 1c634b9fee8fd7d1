// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/finder.h"

#include "terminal/hexformat.h"
#include "terminal/receiveview/chunk.h"
#include "terminal/receiveview/receivestore.h"
#include "terminal/receiveview/scratchfile.h"
#include "terminal/receiveview/sealedblock.h"
#include "terminal/receiveview/storesnapshot.h"
#include "terminal/receiveview/textunits.h"

#include <QStringView>
#include <QThread>
#include <QThreadPool>
#include <QTimerEvent>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <future>
#include <optional>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kProgressMs = 100;
// Searching threads give way to the window and the port's reader when processors are short.
constexpr int kSearchNice = 5;

void giveWay()
{
    setpriority(PRIO_PROCESS, id_t(gettid()), kSearchNice);
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

struct Query
{
    QString needle; // as the area shows it
    QByteArray bytes; // a hex search: the bytes sought
    Qt::CaseSensitivity cs = Qt::CaseSensitive;
    bool hex() const { return !bytes.isEmpty(); }
};

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

// The character before a candidate: known, none (the start of what is held), or not known yet (in the
// piece before, which a backward search reads next).
using Before = std::optional<QChar>;

// One search over a snapshot, on the worker thread. Positions are absolute. A match is either inside one
// piece, found there by a byte or text search over the piece as it lies in memory, or straddles pieces,
// found in a small window over the piece's edge and the characters next to it.
class Scan
{
public:
    Scan(const StoreSnapshot &held, const Query &query, const std::atomic<bool> &cancelled, std::atomic<qint64> &done)
        : m_held(held)
        , m_query(query)
        , m_n(query.needle.size())
        , m_search(query.needle, query.cs)
        , m_cancelled(cancelled)
        , m_done(done)
    {
    }

    // The first match starting in [from, until) (until < 0: to the end), or -1.
    qint64 forward(qint64 from, qint64 until);
    // The last match starting in [until, from) (until < 0: from the start), or -1.
    qint64 backward(qint64 from, qint64 until);
    // The line holding `at`, counted from 1 at the oldest data held.
    qint64 lineOf(qint64 at);

private:
    const HeldPiece &piece(size_t i) const { return m_held.pieces[i]; }
    size_t pieceAt(qint64 absolute) const;
    const void *data(const HeldPiece &piece);
    // Has the next blocks the search will need, from piece `at` on in its direction, opened meanwhile.
    void readAhead(size_t at);
    // Characters [a, b) of the piece (counted from its start) appended to `out`.
    void render(const HeldPiece &piece, qint64 a, qint64 b, QString &out);
    bool acceptable(QChar before) const { return !m_query.hex() || !isHexDigit(before); }
    // The first match in characters [a, b) of the piece starting at or after `first`; `before` is the
    // character before `a`. Counted from the piece's start, or -1.
    qint64 firstIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, QChar before);
    // The last match in [a, b) starting in [first, last]. `pending` when it starts at `a` and the character
    // before is not known yet.
    qint64 lastIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, qint64 last, Before before, bool *pending);
    // The piece's text for a search: the chunk's own characters, or a hex piece rendered.
    QStringView textOf(const HeldPiece &piece, qint64 a, qint64 b, qint64 *base);

    const StoreSnapshot &m_held;
    const Query &m_query;
    const qint64 m_n;
    const TextSearch m_search;
    const std::atomic<bool> &m_cancelled;
    std::atomic<qint64> &m_done;
    // The last two chunks read back from the scratch file: a backward search reads the one before the piece
    // at hand for a single character, then searches it.
    struct Decoded
    {
        quint64 id = 0;
        QByteArray bytes;
    };
    Decoded m_decoded[2];
    int m_nextSlot = 0;
    struct Ahead
    {
        quint64 id;
        std::future<QByteArray> opened;
    };
    std::deque<Ahead> m_ahead;
    int m_step = 1;
    bool m_readAhead = true;
    QString m_rendered;
};

size_t Scan::pieceAt(qint64 absolute) const
{
    const auto &pieces = m_held.pieces;
    const auto after = std::upper_bound(
        pieces.begin(), pieces.end(), absolute, [](qint64 a, const HeldPiece &p) { return a < p.start; });
    return size_t(std::max<qsizetype>(after - pieces.begin() - 1, 0));
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
// next blocks while the search goes through the one at hand.
QThreadPool &openers()
{
    static QThreadPool pool;
    static const bool sized = [] {
        pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 3));
        return true;
    }();
    Q_UNUSED(sized);
    return pool;
}

const void *Scan::data(const HeldPiece &piece)
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

void Scan::readAhead(size_t at)
{
    const qsizetype wanted = 2 * openers().maxThreadCount();
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
        openers().start([task] {
            giveWay();
            (*task)();
        });
    }
}

void Scan::render(const HeldPiece &piece, qint64 a, qint64 b, QString &out)
{
    if (a < b)
        ChunkView { data(piece), nullptr, {} }.read(
            *piece.chunk, piece.offset + qint32(a), piece.offset + qint32(b), out);
}

QStringView Scan::textOf(const HeldPiece &piece, qint64 a, qint64 b, qint64 *base)
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

qint64 Scan::firstIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, QChar before)
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

qint64 Scan::lastIn(const HeldPiece &piece, qint64 a, qint64 b, qint64 first, qint64 last, Before before, bool *pending)
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

qint64 Scan::forward(qint64 from, qint64 until)
{
    m_step = 1;
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

qint64 Scan::backward(qint64 from, qint64 until)
{
    m_step = -1;
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

qint64 Scan::lineOf(qint64 at)
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

} // namespace

struct Finder::Job
{
    StoreSnapshot held;
    Query query;
    bool forward = true;
    qint64 from = 0;
    qint64 until = -1;
    qint64 total = 0;
    std::atomic<bool> cancelled { false };
    std::atomic<bool> finished { false };
    std::atomic<qint64> done { 0 };
};

Finder::Finder(const ReceiveStore &store, QObject *parent)
    : QObject(parent)
    , m_store(store)
{
}

Finder::~Finder()
{
    retire();
    reap(true);
}

bool Finder::start(const QString &needle, bool hex, Qt::CaseSensitivity cs, qint64 from, bool forward, bool wrap)
{
    cancel();
    if (hex) {
        const auto bytes = parseHexBytes(needle);
        if (!bytes || bytes->isEmpty())
            return false;
        m_bytes = *bytes;
        m_needle = renderHex(m_bytes);
    } else {
        m_bytes.clear();
        m_needle = needle;
    }
    if (m_needle.isEmpty())
        return false;
    m_cs = hex ? Qt::CaseSensitive : cs;
    m_forward = forward;
    m_wrap = wrap;
    m_wrapped = false;
    m_start = std::clamp<qint64>(from, 0, m_store.size()) + m_store.origin();
    m_from = m_start;
    m_until = -1;
    launch();
    return true;
}

void Finder::cancel()
{
    retire();
    reap(false);
}

void Finder::launch()
{
    auto job = std::make_shared<Job>();
    job->held = m_store.snapshot();
    job->query = { m_needle, m_bytes, m_cs };
    job->forward = m_forward;
    job->from = m_from;
    job->until = m_until;
    const qint64 origin = job->held.origin;
    job->total = m_forward ? (m_until < 0 ? job->held.end : m_until) - std::max(m_from, origin)
                           : m_from - std::max(m_until, origin);
    m_job = job;
    m_worker = std::thread([this, job] {
        pthread_setname_np(pthread_self(), "zelcom-find");
        giveWay();
        Scan scan(job->held, job->query, job->cancelled, job->done);
        const qint64 at = job->forward ? scan.forward(job->from, job->until) : scan.backward(job->from, job->until);
        const qint64 line = at >= 0 ? scan.lineOf(at) : 0;
        // The chunks dropped from the store meanwhile are let go here, off the window's thread.
        job->held.pieces.clear();
        // The finder joins this thread before it goes, so it is still there for the call to reach.
        if (!job->cancelled)
            QMetaObject::invokeMethod(
                this, [this, job, at, line] { finish(job.get(), at, line); }, Qt::QueuedConnection);
        job->finished = true;
    });
    m_progress.start(kProgressMs, this);
}

void Finder::finish(const Job *job, qint64 at, qint64 line)
{
    if (job != m_job.get())
        return;
    const quint64 edits = job->held.edits;
    if (m_worker.joinable())
        m_worker.join();
    m_job.reset();
    m_progress.stop();
    const qint64 origin = m_store.origin();
    const qint64 end = origin + m_store.size();
    if (at >= 0 && m_store.editCount() != edits) {
        // An edit or a clear moved what followed it: the search goes again over what is held now.
        return launch();
    }
    if (at >= 0 && at < origin) {
        // Found in data dropped meanwhile: the next match still held, if a match may come later.
        if (m_forward && (m_until < 0 || m_until > origin)) {
            m_from = origin;
            return launch();
        }
        at = -1;
    }
    if (at < 0) {
        if (m_wrap && !m_wrapped) {
            m_wrapped = true;
            m_until = m_start;
            m_from = m_forward ? origin : end;
            if (m_forward ? m_start > origin : m_start < end)
                return launch();
        }
        return emit notFound();
    }
    emit found(at - origin, at - origin + m_needle.size(), line, m_wrapped);
}

void Finder::retire()
{
    m_progress.stop();
    if (!m_job)
        return;
    m_job->cancelled = true;
    m_retired.emplace_back(std::move(m_job), std::move(m_worker));
    m_job.reset();
}

// A cancelled search stops within a piece; its thread is joined once it has, never waited for here unless
// the finder goes.
void Finder::reap(bool wait)
{
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if (wait || it->first->finished) {
            if (it->second.joinable())
                it->second.join();
            it = m_retired.erase(it);
        } else {
            ++it;
        }
    }
}

void Finder::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_progress.timerId())
        return QObject::timerEvent(event);
    if (m_job)
        emit progressed(m_job->done, m_job->total);
}
