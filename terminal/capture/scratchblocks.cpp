// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/scratchblocks.h"

#include "terminal/capture/sealedblock.h"
#include "terminal/capture/spiller.h"


#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// After the disk refused a chunk for another reason than room, the next try waits this long.
constexpr qint64 kRetryMs = 1000;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct ScratchBlocks::Cached
{
    quint64 id;
    quint64 lastUse;
    QByteArray data;
    std::vector<quint32> breaks;
};

struct ScratchBlocks::Opening
{
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    std::shared_ptr<ScratchFile> file;
    ScratchFile::Why why;
};

ScratchBlocks::Sealer ScratchBlocks::Sealer::sealed()
{
    return { &SealedBlock::seal, &SealedBlock::open };
}

std::shared_ptr<ScratchFile> ScratchBlocks::openFile(const Settings &settings, ScratchFile::Why *why)
{
    auto file = ScratchFile::open(settings.place, why);
    // A disk that would keep less than memory can (a small or nearly full cache file system, a file-size
    // limit) is not worth the file: the larger of the two is kept.
    if (file && file->room() < settings.memoryBytes) {
        *why = { ScratchFile::Refusal::TooLittleRoom, 0, file->folder() };
        file.reset();
    }
    return file;
}

std::unique_ptr<ScratchBlocks> ScratchBlocks::open(
    const Settings &settings, std::shared_ptr<ChunkPool> pool, ScratchFile::Why *why, Sealer sealer)
{
    auto file = openFile(settings, why);
    if (!file)
        return nullptr;
    return std::unique_ptr<ScratchBlocks>(
        new ScratchBlocks(settings, std::move(pool), std::move(file), std::move(sealer)));
}

ScratchBlocks::ScratchBlocks(
    const Settings &settings, std::shared_ptr<ChunkPool> pool, std::shared_ptr<ScratchFile> file, Sealer sealer)
    : m_settings(settings)
    , m_pool(std::move(pool))
    , m_sealer(std::move(sealer))
    , m_spiller(std::make_unique<Spiller>(m_sealer.seal))
    , m_file(std::move(file))
{
}

ScratchBlocks::~ScratchBlocks()
{
    // The spiller's thread ends before the chunks it may be writing go.
    m_spiller.reset();
    // The file goes with the store: the blocks let go from now on need no holes punched.
    if (m_file)
        m_file->retire();
}

void ScratchBlocks::setOwner(MakeRoom makeRoom, PlaceChanged placeChanged)
{
    m_makeRoom = std::move(makeRoom);
    m_placeChanged = std::move(placeChanged);
}

void ScratchBlocks::append(const std::shared_ptr<Chunk> &chunk)
{
    if (m_file) {
        chunk->writing = true;
        m_spiller->submit(chunk, m_file);
    } else if (m_opening) {
        m_awaitingFile.push_back(chunk);
    }
}

ChunkView ScratchBlocks::read(const Chunk &chunk) const
{
    if (chunk.resident())
        return { chunk.memory, &chunk.breaks, {} };
    const auto hit = std::find_if(
        m_cache.begin(), m_cache.end(), [&](const std::shared_ptr<Cached> &c) { return c->id == chunk.id; });
    if (hit != m_cache.end()) {
        (*hit)->lastUse = ++m_cacheClock;
        return { (*hit)->data.constData(), &(*hit)->breaks, *hit };
    }
    if (qsizetype(m_cache.size()) >= std::max(m_settings.cacheChunks, 1))
        m_cache.erase(std::min_element(
            m_cache.begin(), m_cache.end(), [](const std::shared_ptr<Cached> &a, const std::shared_ptr<Cached> &b) {
                return a->lastUse < b->lastUse;
            }));
    QByteArray sealed(chunk.fileLength, Qt::Uninitialized);
    QByteArray data;
    if (chunk.file && chunk.file->read(chunk.fileOffset, sealed.data(), sealed.size()))
        data = m_sealer.open(sealed, qint64(chunk.id));
    if (data.size() != qsizetype(chunk.usedBytes())) {
        // The disk gave back something else than was written: show replacement characters, never garbage.
        qWarning("receive store: a block of the scratch file could not be read back");
        const QString replacement(chunk.used, QChar::ReplacementCharacter);
        data = chunk.hex
            ? QByteArray(qsizetype(chunk.usedBytes()), '\0')
            : QByteArray(reinterpret_cast<const char *>(replacement.utf16()), qsizetype(chunk.usedBytes()));
    }
    auto cached = std::make_shared<Cached>(Cached { chunk.id, ++m_cacheClock, std::move(data), {} });
    if (!chunk.hex)
        cached->breaks = Chunk::findBreaks(reinterpret_cast<const char16_t *>(cached->data.constData()), chunk.used);
    m_cache.push_back(cached);
    return { cached->data.constData(), &cached->breaks, cached };
}

qint64 ScratchBlocks::awaitingBytes() const
{
    qint64 bytes = 0;
    for (const auto &weak : m_awaitingFile) {
        if (const auto chunk = weak.lock(); chunk && chunk->resident())
            bytes += qint64(m_pool->bytes());
    }
    return bytes;
}

qint64 ScratchBlocks::memoryBytes() const
{
    qint64 bytes = 0;
    for (const auto &cached : m_cache)
        bytes += cached->data.size();
    for (const auto &weak : m_unwritten) {
        if (const auto chunk = weak.lock(); chunk && chunk->resident())
            bytes += qint64(m_pool->bytes());
    }
    return bytes + awaitingBytes() + m_spiller->pendingBytes();
}

qint64 ScratchBlocks::diskBytes() const
{
    return m_file ? m_file->diskBytes() : 0;
}

QString ScratchBlocks::folder() const
{
    return m_file ? m_file->folder() : QString();
}

bool ScratchBlocks::behind() const
{
    if (m_spiller->queuedBytes() > m_settings.waitingBytes)
        return true;
    // Chunks wait in memory for the file a clear is making; once it is made, the next append hands them on.
    if (!m_opening || awaitingBytes() <= m_settings.waitingBytes)
        return false;
    std::lock_guard lock(m_opening->mutex);
    return !m_opening->done;
}

void ScratchBlocks::flush()
{
    if (const auto opening = m_opening) {
        std::unique_lock lock(opening->mutex);
        opening->ready.wait(lock, [&] { return opening->done; });
    }
    settle();
    m_spiller->waitBelow(0);
    // The last result may still be on its way from the thread: wait until nothing is pending.
    while (m_spiller->pendingBytes() > 0) {
        settle();
        if (m_spiller->pendingBytes() > 0)
            m_spiller->waitBelow(0);
    }
}

void ScratchBlocks::clear()
{
    m_unwritten.clear();
    m_awaitingFile.clear();
    m_cache.clear();
    // The old file goes with the last chunk that refers to it, on the thread that lets the chunks go: its
    // blocks need no holes punched any more. A new one starts empty (one still being made is as good as new).
    if (m_file) {
        m_file->retire();
        m_spiller->forget(m_file);
        m_file.reset();
    }
    if (!m_opening)
        startOpening();
}

// The folder may be on a network or a stick that takes seconds to answer: the file is made on a worker,
// and taken up by the next append once it is there.
void ScratchBlocks::startOpening()
{
    auto opening = std::make_shared<Opening>();
    m_opening = opening;
    // A thread of its own, let go: it holds nothing but its own copies, and an open that hangs holds nobody.
    std::thread([opening, settings = m_settings] {
        ScratchFile::Why why;
        auto file = openFile(settings, &why);
        std::lock_guard lock(opening->mutex);
        opening->file = std::move(file);
        opening->why = why;
        opening->done = true;
        opening->ready.notify_all();
    }).detach();
}

void ScratchBlocks::adoptFile()
{
    if (!m_opening)
        return;
    {
        std::lock_guard lock(m_opening->mutex);
        if (!m_opening->done)
            return;
        m_file = std::move(m_opening->file);
        m_why = m_opening->why;
    }
    m_opening.reset();
    if (m_file) {
        for (const auto &weak : m_awaitingFile) {
            if (const auto chunk = weak.lock(); chunk && chunk->resident())
                append(chunk);
        }
    }
    m_awaitingFile.clear();
    // Without a file the chunks stay in memory, as if the store had started without one; the next clear
    // tries again.
    if (m_placeChanged)
        m_placeChanged(m_file != nullptr);
}

// Takes what the spiller finished: chunks on disk give their memory back. When the disk took a chunk no
// more, the oldest data on disk makes way so that it has room again; chunks waiting for the disk never
// hold more memory than allowed, the oldest data making way before the newest would. Never waits for the
// disk: a disk that is only slow is met by receiving less (behind()).
qint64 ScratchBlocks::settle()
{
    adoptFile();
    std::erase_if(m_awaitingFile, [](const std::weak_ptr<Chunk> &weak) { return weak.expired(); });
    const auto makeRoom
        = [this](qint64 fileBytes, qint64 memoryBytes) { return m_makeRoom ? m_makeRoom(fileBytes, memoryBytes) : 0; };
    qint64 refused = 0;
    bool onlyRoom = true; // every refusal was for want of room, not a failing disk
    for (Spiller::Result &result : m_spiller->collect()) {
        Chunk &chunk = *result.chunk;
        chunk.writing = false;
        if (result.error == 0) {
            chunk.file = std::move(result.file);
            chunk.fileOffset = result.offset;
            chunk.fileLength = result.length;
            chunk.releaseMemory();
        } else if (m_file && result.file == m_file && result.chunk.use_count() > 1) {
            m_unwritten.push_back(result.chunk);
            refused += qint64(chunk.usedBytes());
            onlyRoom = onlyRoom && (result.error == ENOSPC || result.error == EDQUOT || result.error == EFBIG);
        }
    }
    qint64 dropped = 0;
    if (refused > 0) {
        // A tenth of the file at a time: a full disk is met again sooner, but the capture dips little.
        const qint64 made = makeRoom(std::max(refused, m_file->diskBytes() / 10), 0);
        dropped += made;
        // The oldest data on the disk made room: the refused chunks take it at once. Waiting would let
        // them pile up in memory until the oldest data on the disk had to make way for them as well, and
        // the capture would shrink to what memory holds. A disk that fails otherwise gets a pause.
        m_retryAfterMs = made > 0 && onlyRoom ? 0 : nowMs() + kRetryMs;
    }
    qint64 unwritten = 0;
    std::deque<std::weak_ptr<Chunk>> alive;
    for (const auto &weak : m_unwritten) {
        if (const auto chunk = weak.lock(); chunk && chunk->resident()) {
            unwritten += qint64(m_pool->bytes());
            alive.push_back(weak);
        }
    }
    m_unwritten.swap(alive);
    if (unwritten > m_settings.waitingBytes)
        dropped += makeRoom(0, unwritten - m_settings.waitingBytes / 2);
    if (m_file && !m_unwritten.empty() && nowMs() >= m_retryAfterMs) {
        for (const auto &weak : m_unwritten) {
            if (const auto chunk = weak.lock(); chunk && chunk->resident())
                append(chunk);
        }
        m_unwritten.clear();
    }
    return dropped;
}
