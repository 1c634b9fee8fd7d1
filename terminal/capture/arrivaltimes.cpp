// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/arrivaltimes.h"

#include "terminal/capture/scratchfile.h"
#include "terminal/capture/sealedblock.h"

#include <algorithm>
#include <limits>

namespace {

// Time blocks are sealed with places of their own, apart from the text's chunk numbers, so that a time
// block put where a text block was expected fails to open.
constexpr qint64 kPlaceBase = qint64(1) << 62;

int varintBytes(quint64 value)
{
    int bytes = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++bytes;
    }
    return bytes;
}

void putVarint(QByteArray &out, quint64 value)
{
    while (value >= 0x80) {
        out.append(char(0x80 | (value & 0x7f)));
        value >>= 7;
    }
    out.append(char(value));
}

bool getVarint(const char *&p, const char *end, quint64 &value)
{
    value = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
        const auto byte = quint8(*p++);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

// The clock may be set back: a time delta is signed.
quint64 zigzag(qint64 value)
{
    return (quint64(value) << 1) ^ quint64(value >> 63);
}

// The time's delta with one bit more: whether the idle time before the line follows.
quint64 timeField(qint64 delta, qint64 idle)
{
    return zigzag(delta) << 1 | (idle > 0 ? 1 : 0);
}

qint64 unzigzag(quint64 value)
{
    return qint64(value >> 1) ^ -qint64(value & 1);
}

} // namespace

ArrivalTimes::ArrivalTimes()
    : ArrivalTimes(Options {})
{
}

ArrivalTimes::ArrivalTimes(const Options &options)
    : m_options(options)
{
}

ArrivalTimes::~ArrivalTimes()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
}

void ArrivalTimes::setFile(std::shared_ptr<ScratchFile> file)
{
    m_file = std::move(file);
}

void ArrivalTimes::add(qint64 at, qint64 ms, qint64 idleMs)
{
    if (at <= m_lastAt)
        return;
    m_lastAt = at;
    idleMs = std::max<qint64>(idleMs, 0);
    const Entry previous = m_tail.empty() ? Entry { at, ms } : m_tail.back();
    const int idleBytes = idleMs > 0 ? varintBytes(quint64(idleMs)) : 0;
    const int bytes
        = varintBytes(quint64(at - previous.at)) + varintBytes(timeField(ms - previous.ms, idleMs)) + idleBytes;
    if (!m_tail.empty() && m_tailBytes + bytes > m_options.blockBytes)
        seal();
    m_tailBytes += m_tail.empty() ? 2 + idleBytes : bytes;
    m_tailMaxIdle = std::max(m_tailMaxIdle, idleMs);
    m_tail.push_back({ at, ms, idleMs });
}

// The newest block is full: encoded, it joins the index, and goes to the file when there is one.
void ArrivalTimes::seal()
{
    collect();
    Block block { m_nextId++, m_tail.front(), m_tail.back(), m_tailMaxIdle, {}, {} };
    block.encoded.reserve(m_tailBytes);
    Entry previous = m_tail.front();
    for (const Entry &entry : m_tail) {
        putVarint(block.encoded, quint64(entry.at - previous.at));
        putVarint(block.encoded, timeField(entry.ms - previous.ms, entry.idle));
        if (entry.idle > 0)
            putVarint(block.encoded, quint64(entry.idle));
        previous = entry;
    }
    m_tail.clear();
    m_tailBytes = 0;
    m_tailMaxIdle = 0;
    if (m_file) {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back({ block.id, block.encoded, m_file, m_generation });
        }
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
        m_wake.notify_one();
    }
    m_blocks.push_back(std::move(block));
    keepWithinMemory();
}

// Blocks in the file give their memory back; a block the disk refused stays in memory.
void ArrivalTimes::collect()
{
    std::deque<Written> written;
    {
        std::lock_guard lock(m_mutex);
        if (m_written.empty())
            return;
        written.swap(m_written);
    }
    for (Written &done : written) {
        if (!done.ok)
            continue;
        const auto block = std::lower_bound(
            m_blocks.begin(), m_blocks.end(), done.id, [](const Block &b, quint64 id) { return b.id < id; });
        if (block == m_blocks.end() || block->id != done.id) {
            // Dropped or cleared while it was being written.
            done.file->release(done.offset, done.length);
            continue;
        }
        block->file = std::move(done.file);
        block->offset = done.offset;
        block->length = done.length;
        block->encoded = QByteArray();
    }
}

void ArrivalTimes::keepWithinMemory()
{
    qint64 held = memoryBytes();
    while (held > m_options.memoryBytes && !m_blocks.empty()) {
        held -= m_blocks.front().encoded.size();
        m_keptFrom = std::max(m_keptFrom, m_blocks.front().last.at + 1);
        release(m_blocks.front());
        m_blocks.pop_front();
    }
}

void ArrivalTimes::release(const Block &block)
{
    if (block.file)
        block.file->release(block.offset, block.length);
    std::erase_if(m_cache, [&](const auto &cached) { return cached.first == block.id; });
}

void ArrivalTimes::dropBefore(qint64 at)
{
    collect();
    m_keptFrom = std::max(m_keptFrom, at);
    while (!m_blocks.empty() && m_blocks.front().last.at < m_keptFrom) {
        release(m_blocks.front());
        m_blocks.pop_front();
    }
}

void ArrivalTimes::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.clear();
        ++m_generation;
    }
    collect();
    for (const Block &block : m_blocks)
        release(block);
    m_blocks.clear();
    m_tail.clear();
    m_tailBytes = 0;
    m_tailMaxIdle = 0;
    m_keptFrom = 0;
    m_lastAt = -1;
    m_cache.clear();
    // The store closes its old file off this thread; no reference kept here may make this thread close it.
    m_file.reset();
}

std::shared_ptr<const ArrivalTimes::Entries> ArrivalTimes::entriesOf(const Block &block) const
{
    for (const auto &cached : m_cache) {
        if (cached.first == block.id)
            return cached.second;
    }
    QByteArray encoded = block.encoded;
    if (encoded.isEmpty() && block.file) {
        QByteArray sealed(block.length, Qt::Uninitialized);
        if (block.file->read(block.offset, sealed.data(), sealed.size()))
            encoded = SealedBlock::open(sealed, kPlaceBase + qint64(block.id));
    }
    auto entries = std::make_shared<Entries>();
    const char *p = encoded.constData();
    const char *end = p + encoded.size();
    Entry entry = block.first;
    quint64 at = 0;
    quint64 ms = 0;
    quint64 idle = 0;
    while (getVarint(p, end, at) && getVarint(p, end, ms)) {
        if ((ms & 1) && !getVarint(p, end, idle))
            break;
        entry.at += qint64(at);
        entry.ms += unzigzag(ms >> 1);
        entry.idle = (ms & 1) ? qint64(idle) : 0;
        entries->push_back(entry);
    }
    // A block that does not read back shows no times rather than wrong ones.
    if (entries->empty() || entries->back().at != block.last.at || entries->back().ms != block.last.ms
        || entries->back().idle != block.last.idle)
        entries->clear();
    if (int(m_cache.size()) >= m_options.cacheBlocks)
        m_cache.pop_back();
    m_cache.emplace_front(block.id, entries);
    return entries;
}

std::optional<ArrivalTimes::Stamp> ArrivalTimes::firstInEntries(
    const Entries &entries, qint64 from, qint64 to, std::optional<qint64> previousMs) const
{
    const auto it
        = std::lower_bound(entries.begin(), entries.end(), from, [](const Entry &e, qint64 at) { return e.at < at; });
    if (it == entries.end() || it->at >= to)
        return std::nullopt;
    if (it != entries.begin())
        previousMs = std::prev(it)->ms;
    return Stamp { it->at, it->ms, previousMs, it->idle };
}

std::optional<ArrivalTimes::Stamp> ArrivalTimes::firstIn(qint64 from, qint64 to) const
{
    from = std::max(from, m_keptFrom);
    if (from >= to)
        return std::nullopt;
    auto block = std::lower_bound(
        m_blocks.begin(), m_blocks.end(), from, [](const Block &b, qint64 at) { return b.last.at < at; });
    for (; block != m_blocks.end() && block->first.at < to; ++block) {
        const std::optional<qint64> previous
            = block == m_blocks.begin() ? std::nullopt : std::optional(std::prev(block)->last.ms);
        if (auto stamp = firstInEntries(*entriesOf(*block), from, to, previous))
            return stamp;
    }
    if (block != m_blocks.end())
        return std::nullopt;
    return firstInEntries(m_tail, from, to, m_blocks.empty() ? std::nullopt : std::optional(m_blocks.back().last.ms));
}

std::optional<qint64> ArrivalTimes::idleIn(const Entries &entries, qint64 from, qint64 to, qint64 gapMs, bool last)
{
    const auto byAt = [](const Entry &e, qint64 at) { return e.at < at; };
    const auto first = std::lower_bound(entries.begin(), entries.end(), from, byAt);
    const auto end = std::lower_bound(first, entries.end(), to, byAt);
    if (last) {
        for (auto it = end; it != first;) {
            if ((--it)->idle >= gapMs)
                return it->at;
        }
    } else {
        for (auto it = first; it != end; ++it) {
            if (it->idle >= gapMs)
                return it->at;
        }
    }
    return std::nullopt;
}

std::optional<qint64> ArrivalTimes::idleStartIn(qint64 from, qint64 to, qint64 gapMs, bool last) const
{
    from = std::max(from, m_keptFrom);
    gapMs = std::max<qint64>(gapMs, 1);
    if (from >= to)
        return std::nullopt;
    // The blocks that may hold [from, to), then the newest entries; a block whose longest idle time is
    // shorter than the gap is not read.
    const auto begin = std::lower_bound(
        m_blocks.begin(), m_blocks.end(), from, [](const Block &b, qint64 at) { return b.last.at < at; });
    const auto end
        = std::lower_bound(begin, m_blocks.end(), to, [](const Block &b, qint64 at) { return b.first.at < at; });
    const auto inBlock = [&](const Block &block) {
        return block.maxIdle >= gapMs ? idleIn(*entriesOf(block), from, to, gapMs, last) : std::nullopt;
    };
    const auto inTail = [&] {
        return end == m_blocks.end() && m_tailMaxIdle >= gapMs ? idleIn(m_tail, from, to, gapMs, last) : std::nullopt;
    };
    if (last) {
        if (auto at = inTail())
            return at;
        for (auto block = end; block != begin;) {
            if (auto at = inBlock(*--block))
                return at;
        }
        return std::nullopt;
    }
    for (auto block = begin; block != end; ++block) {
        if (auto at = inBlock(*block))
            return at;
    }
    return inTail();
}

qint64 ArrivalTimes::diskBytes() const
{
    qint64 bytes = 0;
    for (const Block &block : m_blocks) {
        if (block.file)
            bytes
                += (block.length + block.file->blockBytes() - 1) / block.file->blockBytes() * block.file->blockBytes();
    }
    return bytes;
}

qint64 ArrivalTimes::memoryBytes() const
{
    qint64 bytes = 0;
    for (const Block &block : m_blocks)
        bytes += block.encoded.size();
    return bytes;
}

void ArrivalTimes::flush()
{
    {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [this] { return m_jobs.empty() && m_busy == 0; });
    }
    collect();
}

void ArrivalTimes::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_busy;
        lock.unlock();

        // The store's own writer may append to the same file meanwhile: the file places each block under its
        // lock and writes the two to places apart.
        Written written { job.id, job.file };
        const QByteArray sealed = SealedBlock::seal(job.encoded, kPlaceBase + qint64(job.id));
        if (!sealed.isEmpty() && job.file->append(sealed.constData(), sealed.size(), &written.offset)) {
            written.length = qint32(sealed.size());
            written.ok = true;
        }

        lock.lock();
        --m_busy;
        if (job.generation != m_generation) {
            // Cleared meanwhile: the block is gone, and so is the file, perhaps with this last reference.
            lock.unlock();
            if (written.ok)
                written.file->release(written.offset, written.length);
            written = {};
            job = {};
            lock.lock();
            m_done.notify_all();
            continue;
        }
        m_written.push_back(std::move(written));
        m_done.notify_all();
    }
}
