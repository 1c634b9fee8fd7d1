// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/scratchfile.h"

#include <QDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// How far the file may grow between two looks at the free space: a look is a system call.
constexpr qint64 kBudgetStep = qint64(64) << 20;

bool inMemory(const struct statfs &fs)
{
    return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

int openUnnamed(const QByteArray &folder)
{
    int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    // No O_TMPFILE on this file system: a name that lives only until the next line.
    QByteArray name = folder + "/.zelcom-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}

} // namespace

QString ScratchFile::defaultFolder()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/zelcom");
}

std::shared_ptr<ScratchFile> ScratchFile::open(const Place &place, QString *why)
{
    const QString folder = place.folder.isEmpty() ? defaultFolder() : place.folder;
    const auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make %1").arg(folder));
    const QByteArray path = QFile::encodeName(folder);
    ::chmod(path.constData(), S_IRWXU);
    struct statfs fs = {};
    if (::statfs(path.constData(), &fs) != 0)
        return fail(QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno))));
    if (inMemory(fs) && !place.allowMemoryFileSystem)
        return fail(QStringLiteral("%1 is in memory (tmpfs)").arg(folder));
    // A file-size limit (ulimit -f) would otherwise end the program with SIGXFSZ at the write that
    // crosses it; ignored, that write fails like a full disk, and the oldest data makes way.
    ::signal(SIGXFSZ, SIG_IGN);
    const int fd = openUnnamed(path);
    if (fd < 0)
        return fail(QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno))));
    return std::shared_ptr<ScratchFile>(new ScratchFile(fd, folder, place));
}

ScratchFile::ScratchFile(int fd, QString folder, const Place &place)
    : m_fd(fd)
    , m_folder(std::move(folder))
    , m_place(place)
{
}

ScratchFile::~ScratchFile()
{
    ::close(m_fd);
}

bool ScratchFile::roomFor(qint64 bytes)
{
    const qint64 end = m_end.load();
    if (end + bytes <= m_checkedUntil)
        return true;
    struct statfs fs = {};
    if (::fstatfs(m_fd, &fs) != 0)
        return false;
    const qint64 block = qint64(fs.f_bsize);
    const qint64 total = qint64(fs.f_blocks) * block;
    const qint64 free = qint64(fs.f_bavail) * block;
    const qint64 keep = std::max(m_place.minFreeBytes, total / 100 * m_place.minFreePercent);
    const qint64 room = free - keep;
    if (room < bytes) {
        errno = ENOSPC;
        m_checkedUntil = end;
        return false;
    }
    m_checkedUntil = end + std::min(room, kBudgetStep);
    return true;
}

bool ScratchFile::append(const char *data, qsizetype length, qint64 *offset)
{
    if (!roomFor(length))
        return false;
    const qint64 at = m_end.load();
    qsizetype done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(m_fd, data + done, size_t(length - done), at + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            const int error = errno;
            // Whatever part was written is given back; the next block starts at the same place.
            release(at, done);
            errno = error;
            m_checkedUntil = at;
            return false;
        }
        done += n;
    }
    m_end = at + length;
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

void ScratchFile::release(qint64 offset, qint64 length)
{
    if (length > 0 && !m_retired)
        ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, length);
}

qint64 ScratchFile::diskBytes() const
{
    struct stat st = {};
    return ::fstat(m_fd, &st) == 0 ? qint64(st.st_blocks) * 512 : 0;
}
