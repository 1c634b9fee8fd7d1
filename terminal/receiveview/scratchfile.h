// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <memory>

// One unnamed file that holds the receive store's older blocks. It never has a name in any folder
// (O_TMPFILE, or created and unlinked at once) and is readable by its owner only, so it is gone with the
// last descriptor: after an exit, a crash or kill -9 alike. It is never placed on a file system that lives
// in memory (tmpfs, ramfs): that would spend the memory the file is there to save.
//
// Blocks are appended at the end and given back with a hole punched where they were. The file grows only
// while its file system keeps more than the budget free.
class ScratchFile
{
public:
    struct Place
    {
        QString folder; // empty: the user's cache folder
        qint64 minFreeBytes = qint64(1) << 30;
        int minFreePercent = 5;
        bool allowMemoryFileSystem = false; // tests give a small tmpfs to make a full disk
    };

    // The folder the capture lives in by default: $XDG_CACHE_HOME/zelcom, else ~/.cache/zelcom.
    static QString defaultFolder();
    // Null, with the reason in `why`, when no file can be made there.
    static std::shared_ptr<ScratchFile> open(const Place &place, QString *why = nullptr);

    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    // Written by one thread at a time. False, with errno set, when the budget or the disk says no.
    bool append(const char *data, qsizetype length, qint64 *offset);
    // Any thread.
    bool read(qint64 offset, char *data, qsizetype length) const;
    void release(qint64 offset, qint64 length);
    // Bytes the file really takes on its disk.
    qint64 diskBytes() const;
    const QString &folder() const { return m_folder; }
    // Once set, released blocks are no longer punched out: the whole file is about to go.
    void retire() { m_retired = true; }

private:
    ScratchFile(int fd, QString folder, const Place &place);
    bool roomFor(qint64 bytes);

    const int m_fd;
    const QString m_folder;
    const Place m_place;
    std::atomic<qint64> m_end = 0;
    qint64 m_checkedUntil = 0; // the end up to which the last look at the free space allows growth
    std::atomic<bool> m_retired = false;
};
