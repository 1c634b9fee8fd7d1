// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/capture/scratchfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>
#include <unistd.h>

namespace {

// How far the file may grow between two looks at the free space: a look is a system call.
constexpr qint64 kBudgetStep = qint64(64) << 20;
// Closing a file that holds this much frees its blocks and takes long: it is done on a worker.
constexpr qint64 kCloseInBackground = qint64(16) << 20;
constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max() / 2;

bool inMemory(const struct statfs &fs)
{
    return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

// A power of two between 512 bytes and 1 MiB, else the common 4 KiB.
qint64 blockOf(const struct stat &st)
{
    const auto size = qint64(st.st_blksize);
    return size >= 512 && size <= (1 << 20) && (size & (size - 1)) == 0 ? size : 4096;
}

int openUnnamed(int folder, bool unnamed)
{
    if (unnamed) {
        const int fd = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
            return fd;
    }
    // No O_TMPFILE on this file system: a name that lives only until the next line. If the name cannot
    // be taken away again, the file is not used: no named file is ever left behind.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray name = ".zelcom-" + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        const int fd
            = ::openat(folder, name.constData(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return -1;
        if (::unlinkat(folder, name.constData(), 0) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

qint64 fileSizeLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kNoLimit;
    return qint64(std::min<rlim_t>(limit.rlim_cur, rlim_t(kNoLimit)));
}

} // namespace

QString ScratchFile::defaultFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/zelcom");
}

std::shared_ptr<ScratchFile> ScratchFile::open(const Place &place, Why *why)
{
    if (place.beforeOpen)
        place.beforeOpen();
    const QString folder = QDir::cleanPath(place.folder.isEmpty() ? defaultFolder() : place.folder);
    const auto fail = [&](Refusal refusal, int error = 0) {
        if (why)
            *why = { refusal, error, folder };
        return nullptr;
    };
    // The folders above ours are the user's to choose (a link to another disk is common); ours is made
    // private, and only a folder that is ours and private is used.
    QDir().mkpath(QFileInfo(folder).path());
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return fail(Refusal::FolderFailed, errno);
    const int dir = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        const int error = errno;
        struct stat link = {};
        if (::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return fail(Refusal::FolderIsLink);
        return fail(Refusal::FolderFailed, error);
    }
    const auto closeDir = qScopeGuard([dir] { ::close(dir); });
    struct stat st = {};
    if (::fstat(dir, &st) != 0)
        return fail(Refusal::FolderFailed, errno);
    if (st.st_uid != ::geteuid())
        return fail(Refusal::FolderNotOwned);
    if ((st.st_mode & 077) != 0)
        return fail(Refusal::FolderOpenToOthers);
    struct statfs fs = {};
    if (::fstatfs(dir, &fs) != 0)
        return fail(Refusal::FolderFailed, errno);
    if (inMemory(fs) && !place.allowMemoryFileSystem)
        return fail(Refusal::InMemory);
    // A file-size limit (ulimit -f) would otherwise end the program with SIGXFSZ at the write that
    // crosses it; ignored, that write fails with EFBIG, and the file keeps below the limit from then on.
    ::signal(SIGXFSZ, SIG_IGN);
    const int fd = openUnnamed(dir, place.unnamed);
    if (fd < 0)
        return fail(Refusal::FileFailed, errno);
    struct stat file = {};
    ::fstat(fd, &file);
    return std::shared_ptr<ScratchFile>(new ScratchFile(fd, folder, place, blockOf(file)));
}

ScratchFile::ScratchFile(int fd, QString folder, const Place &place, qint64 block)
    : m_fd(fd)
    , m_folder(std::move(folder))
    , m_place(place)
    , m_block(block)
    , m_limit(fileSizeLimit() / block * block)
{
}

ScratchFile::~ScratchFile()
{
    const int fd = m_fd;
    if (m_held > kCloseInBackground)
        std::thread([fd] { ::close(fd); }).detach();
    else
        ::close(fd);
}

void ScratchFile::retire()
{
    std::lock_guard lock(m_mutex);
    m_retired = true;
    m_toPunch.clear();
}

qint64 ScratchFile::freeSpace() const
{
    struct statfs fs = {};
    if (::fstatfs(m_fd, &fs) != 0)
        return 0;
    const qint64 block = qint64(fs.f_bsize);
    const qint64 total = qint64(fs.f_blocks) * block;
    const qint64 free = qint64(fs.f_bavail) * block;
    return free - std::max(m_place.minFreeBytes, total / 100 * m_place.minFreePercent);
}

qint64 ScratchFile::room() const
{
    const qint64 free = freeSpace();
    std::lock_guard lock(m_mutex);
    return std::max<qint64>(0, std::min(m_held + free, m_limit));
}

// Under the lock: `length` bytes, or up to `most` where there are more, in the first free stretch that
// fits, else at the end of the file; never past the limit.
bool ScratchFile::place(qint64 length, qint64 most, qint64 *offset, qint64 *taken)
{
    for (auto it = m_free.begin(); it != m_free.end() && it->first + length <= m_limit; ++it) {
        if (it->second < length)
            continue;
        *offset = it->first;
        *taken = std::min({ it->second, most, m_limit - it->first });
        if (it->second > *taken)
            m_free.emplace(it->first + *taken, it->second - *taken);
        m_free.erase(it);
        return true;
    }
    if (m_end + length > m_limit) {
        errno = EFBIG;
        return false;
    }
    *offset = m_end;
    *taken = std::min(most, m_limit - m_end);
    m_end += *taken;
    return true;
}

// Under the lock: a stretch that holds no disk joins its free neighbours; free space at the end shortens
// the file.
void ScratchFile::addFree(qint64 offset, qint64 length)
{
    auto next = m_free.lower_bound(offset);
    if (next != m_free.end() && next->first == offset + length) {
        length += next->second;
        next = m_free.erase(next);
    }
    if (next != m_free.begin()) {
        const auto before = std::prev(next);
        if (before->first + before->second == offset) {
            offset = before->first;
            length += before->second;
            m_free.erase(before);
        }
    }
    if (offset + length >= m_end)
        m_end = offset;
    else if (length > 0)
        m_free.emplace(offset, length);
}

// Under the lock: a stretch to punch out before it is used again. True when the caller is to start the
// punching once the lock is let go.
bool ScratchFile::toPunch(qint64 offset, qint64 length)
{
    if (m_retired || length <= 0)
        return false;
    m_toPunch.emplace_back(offset, length);
    return !std::exchange(m_punching, true);
}

// Under the lock: an extent whose blocks are all released goes, unless it still takes blocks.
bool ScratchFile::letGo(std::map<qint64, Extent>::iterator extent)
{
    if (extent->second.live > 0 || extent->first == m_open)
        return false;
    const qint64 offset = extent->first;
    const qint64 length = extent->second.length;
    m_extents.erase(extent);
    return toPunch(offset, length);
}

// Under the lock: the newest extent takes no more blocks and keeps only the whole blocks it used; the
// rest was never written and is free at once.
bool ScratchFile::closeOpen()
{
    const auto extent = m_extents.find(std::exchange(m_open, -1));
    if (extent == m_extents.end())
        return false;
    const qint64 kept = rounded(extent->second.used);
    addFree(extent->first + kept, extent->second.length - kept);
    extent->second.length = kept;
    if (kept > 0)
        return letGo(extent);
    m_extents.erase(extent);
    return false;
}

void ScratchFile::startPunching()
{
    // One thread at a time, only while there is something to punch; the file stays open until it is done.
    const int error = errno;
    std::thread([self = shared_from_this()] { self->punchPending(); }).detach();
    errno = error;
}

bool ScratchFile::append(const char *data, qsizetype length, qint64 *offset)
{
    if (m_place.beforeWrite)
        m_place.beforeWrite();
    // Blocks given back are punched out here first, so their space is there for this one.
    punchPending();
    const bool packed = length < m_place.packBytes;
    std::unique_lock lock(m_mutex);
    // The newest extent, if the block goes into it.
    const auto into = [&] {
        const auto open = m_extents.find(m_open);
        const bool fits = open != m_extents.end()
            && open->second.used + length <= std::min(open->second.length, m_place.packBytes);
        return packed && fits ? open : m_extents.end();
    };
    // What the held bytes grow by: nothing while the block fits in a file system block already begun.
    const auto growth = [&] {
        const auto open = into();
        return open == m_extents.end() ? rounded(length)
                                       : rounded(open->second.used + length) - rounded(open->second.used);
    };
    if (const qint64 need = growth(); m_held + need > m_checkedUntil) {
        lock.unlock();
        const qint64 free = freeSpace();
        lock.lock();
        if (free < need) {
            m_checkedUntil = m_held;
            errno = ENOSPC;
            return false;
        }
        m_checkedUntil = m_held + std::min(free, kBudgetStep);
    }
    // Another writer may have placed a block meanwhile.
    const qint64 need = growth();
    auto extent = into();
    qint64 at = 0;
    bool punch = false;
    if (extent != m_extents.end()) {
        at = extent->first + extent->second.used;
    } else {
        punch = packed && closeOpen();
        qint64 taken = 0;
        if (!place(need, packed ? rounded(m_place.packBytes) : need, &at, &taken)) {
            lock.unlock();
            if (punch)
                startPunching();
            return false;
        }
        if (packed)
            extent = m_extents.emplace(m_open = at, Extent { taken, 0, 0 }).first;
    }
    const qint64 extentAt = extent != m_extents.end() ? extent->first : -1;
    if (extentAt >= 0) {
        extent->second.used += length;
        ++extent->second.live;
    }
    m_held += need;
    lock.unlock();
    if (punch)
        startPunching();

    qsizetype done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(m_fd, data + done, size_t(length - done), at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n == 0 ? EIO : errno;
            // Whatever part was written is given back. In an extent the bytes about it are other blocks':
            // it is punched out at once, and its place is the next block's if it was the newest.
            if (extentAt >= 0)
                ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, length);
            lock.lock();
            // Past a file-size limit the file stays below it; the budget shrinks to what it holds now.
            if (error == EFBIG)
                m_limit = std::min(m_limit, (at + done) / m_block * m_block);
            punch = false;
            if (extentAt < 0) {
                m_checkedUntil = m_held - need;
                punch = toPunch(at, need);
            } else {
                const auto mine = m_extents.find(extentAt);
                Extent &in = mine->second;
                --in.live;
                if (extentAt == m_open && in.used == at - extentAt + length) {
                    m_held -= rounded(in.used) - rounded(at - extentAt);
                    in.used = at - extentAt;
                }
                m_checkedUntil = m_held;
                punch = error == EFBIG && extentAt == m_open ? closeOpen() : letGo(mine);
            }
            lock.unlock();
            if (punch)
                startPunching();
            errno = error;
            return false;
        }
        done += n;
    }
    *offset = at;
    return true;
}

bool ScratchFile::read(qint64 offset, char *data, qsizetype length) const
{
    qsizetype done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, data + done, size_t(length - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void ScratchFile::willNeed(qint64 offset, qint64 length) const
{
    const int error = errno;
    ::posix_fadvise(m_fd, offset, length, POSIX_FADV_WILLNEED);
    errno = error;
}

void ScratchFile::release(qint64 offset, qint64 length)
{
    if (length <= 0)
        return;
    bool punch = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_retired)
            return;
        auto extent = m_extents.upper_bound(offset);
        if (extent != m_extents.begin() && offset < std::prev(extent)->first + std::prev(extent)->second.length) {
            --extent;
            --extent->second.live;
            punch = letGo(extent);
        } else {
            punch = toPunch(offset, rounded(length));
        }
    }
    if (punch)
        startPunching();
}

void ScratchFile::punchPending()
{
    for (;;) {
        std::vector<std::pair<qint64, qint64>> batch;
        {
            std::lock_guard lock(m_mutex);
            batch.swap(m_toPunch);
            if (batch.empty() || m_retired) {
                m_toPunch.clear();
                m_punching = false;
                return;
            }
        }
        for (const auto &[offset, length] : batch)
            ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length);
        std::lock_guard lock(m_mutex);
        for (const auto &[offset, length] : batch) {
            m_held -= length;
            addFree(offset, length);
        }
    }
}

qint64 ScratchFile::diskBytes() const
{
    struct stat st = {};
    return ::fstat(m_fd, &st) == 0 ? qint64(st.st_blocks) * 512 : 0;
}

qint64 ScratchFile::heldBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}
