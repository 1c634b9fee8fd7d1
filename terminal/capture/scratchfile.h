// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// One unnamed file that holds the receive store's older blocks. It never has a name in any folder
// (O_TMPFILE, or created and unlinked at once) and is readable by its owner only, so it is gone with the
// last descriptor: after an exit, a crash or kill -9 alike. It is made only in a folder the user alone
// owns and may enter, reached without following a link, and never on a file system that lives in memory
// (tmpfs, ramfs): that would spend the memory the file is there to save.
//
// Blocks shorter than `Place::packBytes` are packed back to back into extents of whole file system
// blocks: the newest extent takes them until the next one does not fit, and then keeps only the whole
// blocks it used, the rest free at once (never written, it holds no disk). An extent is given back, its
// hole punched and its space used again, only once every block in it has been released; blocks go
// oldest first, so an extent's blocks go nearly together. A longer block takes file system blocks of its
// own. The space given back is used again before the file grows. So the file holds no more than the
// extents and the longer blocks in use, each rounded up to the file system's block (of them only the
// oldest and the newest extent partly released or filled, as blocks go in order), and grows only while
// its file system keeps more than the budget free and the file-size limit allows.
class ScratchFile : public std::enable_shared_from_this<ScratchFile>
{
public:
    struct Place
    {
        QString folder; // empty: the user's cache folder
        qint64 minFreeBytes = qint64(1) << 30;
        int minFreePercent = 5;
        bool allowMemoryFileSystem = false; // tests give a small tmpfs to make a full disk
        // Tests turn this off to take the road of file systems that cannot make unnamed files.
        bool unnamed = true;
        // Tests hold each write here to play a slow disk.
        std::function<void()> beforeWrite;
        // And each open, to play a slow folder.
        std::function<void()> beforeOpen;
        // The bytes of blocks an extent takes. A sealed chunk of text lines is a few KB, one of random bytes
        // a little over 256 KiB: the unused end of an extent's last file system block is under 1 % of it.
        qint64 packBytes = qint64(1) << 20;
    };

    // Why no file was made, for the words the window shows.
    enum class Refusal {
        None,
        NoKey, // no random source for the key
        FolderFailed, // the folder cannot be made or opened: `error`
        FolderIsLink,
        FolderNotOwned,
        FolderOpenToOthers,
        InMemory,
        FileFailed, // the folder refuses the file: `error`
        TooLittleRoom, // the disk would keep less than memory can
    };
    struct Why
    {
        Refusal refusal = Refusal::None;
        int error = 0;
        QString folder;
    };

    // The folder the capture lives in by default: $XDG_CACHE_HOME/zelcom, else ~/.cache/zelcom.
    static QString defaultFolder();
    // Null, with the reason in `why`, when no file can be made there.
    static std::shared_ptr<ScratchFile> open(const Place &place, Why *why = nullptr);

    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    // Written by one thread at a time. False, with errno set, when the budget, the limit or the disk says
    // no; whatever part was written is given back.
    bool append(const char *data, qsizetype length, qint64 *offset);
    // Any thread.
    bool read(qint64 offset, char *data, qsizetype length) const;
    // Any thread: asks the system to start reading these bytes now, for a read soon after.
    void willNeed(qint64 offset, qint64 length) const;
    // Any thread; takes no time: the hole is punched on a thread of its own (or before the next write),
    // and only then is the space used again.
    void release(qint64 offset, qint64 length);
    // Bytes the file really takes on its disk.
    qint64 diskBytes() const;
    // Bytes of the extents and longer blocks in use, rounded up to the file system's block: what the
    // budget counts.
    qint64 heldBytes() const;
    qint64 blockBytes() const { return m_block; }
    // What the budget allows the file to hold now, at most: its free space past the reserve, within the
    // file-size limit. A look at the file system.
    qint64 room() const;
    const QString &folder() const { return m_folder; }
    // Once set, released blocks are no longer punched out: the whole file is about to go.
    void retire();

private:
    struct Extent
    {
        qint64 length; // what it takes of the file: whole blocks
        qint64 used; // bytes of blocks placed in it, released or not
        int live; // blocks placed and not yet released
    };

    ScratchFile(int fd, QString folder, const Place &place, qint64 block);
    qint64 rounded(qint64 length) const { return (length + m_block - 1) / m_block * m_block; }
    bool place(qint64 length, qint64 most, qint64 *offset, qint64 *taken);
    void addFree(qint64 offset, qint64 length);
    bool toPunch(qint64 offset, qint64 length);
    bool letGo(std::map<qint64, Extent>::iterator extent);
    bool closeOpen();
    void startPunching();
    void punchPending();
    qint64 freeSpace() const;

    const int m_fd;
    const QString m_folder;
    const Place m_place;
    const qint64 m_block;

    mutable std::mutex m_mutex;
    qint64 m_end = 0; // past the last block in use or free
    qint64 m_held = 0;
    qint64 m_limit; // the file may not reach past this (a file-size limit)
    qint64 m_checkedUntil = 0; // the held bytes up to which the last look at the free space allows growth
    std::map<qint64, qint64> m_free; // offset -> length, punched and ready for use again
    std::map<qint64, Extent> m_extents; // offset -> the extent there
    qint64 m_open = -1; // the extent that takes the next short block, if any
    std::vector<std::pair<qint64, qint64>> m_toPunch;
    bool m_punching = false;
    bool m_retired = false;
};
