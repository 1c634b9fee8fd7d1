// SPDX-License-Identifier: GPL-3.0-or-later
// The receive store as the real stack: chunks in memory and, once full, compressed and sealed in an
// unnamed scratch file, read back through a small cache. Tiny chunks put every block edge within reach
// of a few characters; the pieces over them are tst_piecetable's.

#include "terminal/capture/chunk.h"
#include "terminal/capture/memorybudget.h"
#include "terminal/capture/receivestore.h"
#include "terminal/capture/scratchblocks.h"
#include "terminal/capture/sealedblock.h"
#include "terminal/capture/textunits.h"
#include "terminal/receiveview/capturewriter.h"
#include "tests/support/rows.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <linux/magic.h>
#include <mutex>
#include <semaphore>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// Each byte as the area shows it, written out here rather than taken from the program.
QString tokens(QByteArrayView bytes)
{
    QString out;
    for (char byte : bytes)
        out += QString::asprintf("%02X ", unsigned(quint8(byte)));
    return out;
}

ReceiveStore::Options tinyBlocks(const QString &folder)
{
    ReceiveStore::Options o;
    // Four characters or eight bytes a chunk, two chunks cached: nearly every read crosses a block edge
    // or reads a block back from the disk.
    o.chunkBytes = 8;
    o.cacheChunks = 2;
    o.scratch = ScratchFile::Place { folder, 0, 0, true, true, {}, {} };
    // Keeps the file however little room its disk has.
    o.memoryHeadroom = 0;
    return o;
}

// The descriptors this process holds on unnamed files in `folder`.
QStringList scratchFiles(const QString &folder)
{
    QStringList found;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(folder + u'/') && target.endsWith(u" (deleted)"))
            found << fds.filePath(fd);
    }
    return found;
}

// The scratch file as the file system sees it, through this process's descriptor.
struct stat scratchStat(const QString &folder)
{
    struct stat st = {};
    const QStringList files = scratchFiles(folder);
    if (files.size() == 1)
        ::stat(QFile::encodeName(files[0]).constData(), &st);
    return st;
}

// A child started by memoryLimitedKeepsNewest: fills a store far past what its address space allows.
int fillUnderLimit()
{
    ReceiveStore::Options o;
    o.scratch.reset();
    ReceiveStore store(o);
    // As if the limit had been misjudged: only failing allocations can stop it.
    store.setMaximum(qint64(1) << 62);
    QString block(1 << 16, u'x');
    for (qint64 i = 0; i < 16384; ++i) { // 2 GiB of text into a 1 GiB address space
        block.replace(0, 12, QString::asprintf("%012lld", i));
        store.appendText(block);
    }
    const QString newest = store.text(store.size() - block.size(), store.size());
    return newest == block && store.origin() > 0 ? 0 : 1;
}

} // namespace

class TestReceiveStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scratchFileIsPrivateAndSealed();
    void wordRunsFollowEachOther_data();
    void wordRunsFollowEachOther();
    void sealsWithAFreshNonce();
    void whereTheCaptureLives_data();
    void whereTheCaptureLives();
    void droppedDataGivesItsDiskBack_data();
    void droppedDataGivesItsDiskBack();
    void neverWaitsForASlowDisk();
    void fullDiskDropsOldestKeepsNewest_data();
    void fullDiskDropsOldestKeepsNewest();
    void memoryLimitedKeepsNewest();
    void savesAsShownOrLeavesNoFile_data();
    void savesAsShownOrLeavesNoFile();
    void memoryBudgetFollowsTheLimits_data();
    void memoryBudgetFollowsTheLimits();
    void breaksFoundAtEveryPlace();
    void scratchBlocksLeaveExactlyTheirBytes();

private:
    QTemporaryDir m_dir;
};

void TestReceiveStore::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

// Nothing received can be read from the disk: the file has no name, only its owner may open it, its
// bytes never hold what arrived, and it is gone with the store.
void TestReceiveStore::scratchFileIsPrivateAndSealed()
{
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("sealed-XXXXXX")));
    QByteArray received(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32 *>(received.data()), received.size() / 4);
    QString text;
    for (int i = 0; i < 20000; ++i)
        text += QStringLiteral("第%1行 temperature=23.5\r\n").arg(i);
    {
        ReceiveStore::Options o;
        o.chunkBytes = 4096;
        o.scratch = ScratchFile::Place { folder.path(), 0, 0, true, true, {}, {} };
        ReceiveStore store(o);
        QCOMPARE(store.scratchFolder(), folder.path());
        store.appendHex(received); // random bytes: compression alone would leave them as they are
        store.appendText(text);
        store.flush();
        const QStringList files = scratchFiles(folder.path());
        QCOMPARE(files.size(), 1);
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(files[0]).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QFile file(files[0]);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray disk = file.readAll();
        file.close();
        QVERIFY(disk.size() > received.size());
        for (qsizetype at = 0; at + 16 <= received.size(); at += 4093)
            QVERIFY(!disk.contains(received.mid(at, 16)));
        QVERIFY(!disk.contains(QByteArray("temperature")));
        QVERIFY(!disk.contains(QByteArray(reinterpret_cast<const char *>(u"temperature"), 22)));
        // Read back from the disk, exactly.
        QCOMPARE(store.text(0, TextUnits::kHexTokenChars * 4), tokens(received.first(4)));
        QCOMPARE(store.text(TextUnits::kHexTokenChars * received.size(), store.size()), text);
        store.clear();
        store.appendText(u"after");
        store.flush(); // the new file is made on a worker
        QCOMPARE(store.text(0, store.size()), QStringLiteral("after"));
        // The old file goes once its chunks are let go; the new one takes its place.
        QTRY_COMPARE_WITH_TIMEOUT(scratchFiles(folder.path()).size(), 1, 1000);
    }
    // Gone with the store, once a hole being punched is done.
    QTRY_COMPARE_WITH_TIMEOUT(scratchFiles(folder.path()), QStringList(), 1000);
}

void TestReceiveStore::wordRunsFollowEachOther_data()
{
    addColumns<qint64, qint64, qint64, qint64>("position", "lower", "start", "end");
    // Over 温度=23.5℃, ok CR LF next, two blanks, a surrogate pair and "!".
    QTest::newRow("a Chinese word") << qint64(1) << qint64(0) << qint64(0) << qint64(2);
    QTest::newRow("digits") << qint64(3) << qint64(0) << qint64(3) << qint64(5);
    QTest::newRow("a point between digits") << qint64(5) << qint64(0) << qint64(5) << qint64(6);
    QTest::newRow("a sign, a comma and a blank") << qint64(8) << qint64(0) << qint64(7) << qint64(10);
    QTest::newRow("CR LF whole, from the CR") << qint64(12) << qint64(0) << qint64(12) << qint64(14);
    QTest::newRow("CR LF whole, from between") << qint64(13) << qint64(0) << qint64(12) << qint64(14);
    QTest::newRow("from inside a surrogate pair") << qint64(21) << qint64(0) << qint64(18) << qint64(23);
    QTest::newRow("no further back than asked") << qint64(1) << qint64(1) << qint64(1) << qint64(2);
    QTest::newRow("past the end") << qint64(23) << qint64(0) << qint64(23) << qint64(23);
}

// What a screen reader steps through by words: each word and each run between words, by the rule that
// Ctrl+Left/Right and a double click use.
void TestReceiveStore::wordRunsFollowEachOther()
{
    auto [position, lower, start, end] = fetchRow<qint64, qint64, qint64, qint64>("position", "lower", "start", "end");
    const QString text = QStringLiteral("温度=23.5℃, ok\r\nnext  \U0001F600!");
    QCOMPARE(text.size(), 23);
    const auto run = TextUnits::wordRunAt(text, position, lower, text.size());
    QCOMPARE(run.first, start);
    QCOMPARE(run.second, end);
}

// The same block sealed twice lies on the disk as different bytes (a fresh nonce each time), and a block
// opens only where it was sealed for, unchanged.
void TestReceiveStore::sealsWithAFreshNonce()
{
    const QByteArray block = QByteArray("temperature=23.5\r\n").repeated(100);
    const QByteArray first = SealedBlock::seal(block, 5);
    const QByteArray second = SealedBlock::seal(block, 5);
    QVERIFY(first.first(24) != second.first(24));
    QCOMPARE(SealedBlock::open(first, 5), block);
    QCOMPARE(SealedBlock::open(second, 5), block);
    QCOMPARE(SealedBlock::open(first, 6), QByteArray());
    QByteArray changed = first;
    changed[30] = char(changed[30] ^ 1);
    QCOMPARE(SealedBlock::open(changed, 5), QByteArray());
}

void TestReceiveStore::whereTheCaptureLives_data()
{
    addColumns<QString, ScratchFile::Refusal>("setup", "refusal");
    // Characters kept without a scratch file: half of the 400 MiB of headroom every row is given, as text
    // (two bytes a character); 0 where the file is used.
    QTest::addColumn<qint64>("maximum");
    using R = ScratchFile::Refusal;
    QTest::newRow("a fresh folder, made private") << "fresh" << R::None << qint64(0);
    QTest::newRow("no unnamed files: the name goes at once") << "named" << R::None << qint64(0);
    QTest::newRow("a link planted in its place") << "link" << R::FolderIsLink << qint64(104857600);
    QTest::newRow("open to others") << "open" << R::FolderOpenToOthers << qint64(104857600);
    QTest::newRow("owned by another user") << "owner" << R::FolderNotOwned << qint64(104857600);
    QTest::newRow("a file in its way") << "file" << R::FolderFailed << qint64(104857600);
    QTest::newRow("in memory (tmpfs)") << "tmpfs" << R::InMemory << qint64(104857600);
    QTest::newRow("a disk that keeps less than memory") << "reserve" << R::TooLittleRoom << qint64(104857600);
    QTest::newRow("memory only: half the headroom, not all") << "none" << R::None << qint64(104857600);
    QTest::newRow("opened to others before a clear") << "cleared" << R::FolderOpenToOthers << qint64(104857600);
}

// A folder is used only when it is this user's own, private and no link; otherwise the capture is held in
// memory, within half of what the process may take, and the store says why.
void TestReceiveStore::whereTheCaptureLives()
{
    auto [setup, refusal, maximum] = fetchRow<QString, ScratchFile::Refusal, qint64>("setup", "refusal", "maximum");
    QTemporaryDir parent(m_dir.filePath(QStringLiteral("place-XXXXXX")));
    const QString folder = parent.filePath(QStringLiteral("zelcom"));
    const QByteArray path = QFile::encodeName(folder);
    const QString elsewhere = parent.filePath(QStringLiteral("elsewhere"));
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    });
    if (setup == u"link") {
        QVERIFY(::mkdir(QFile::encodeName(elsewhere).constData(), 0755) == 0);
        QVERIFY(QFile::link(elsewhere, folder));
    } else if (setup == u"open") {
        QVERIFY(::mkdir(path.constData(), 0755) == 0);
        QVERIFY(::chmod(path.constData(), 0755) == 0);
    } else if (setup == u"owner") {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(::mkdir(path.constData(), 0700) == 0);
        QVERIFY(::chown(path.constData(), 54321, 54321) == 0);
    } else if (setup == u"file") {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup == u"tmpfs") {
        QVERIFY(::mkdir(path.constData(), 0700) == 0);
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=1m,mode=0700") == 0;
        if (!mounted)
            QSKIP("no tmpfs can be mounted here (needs root)");
    }
    ReceiveStore::Options o;
    o.chunkBytes = 8;
    o.memoryHeadroom = qint64(400) << 20;
    o.scratch
        = ScratchFile::Place { folder, setup == u"reserve" ? qint64(1) << 62 : 0, 0, false, setup != u"named", {}, {} };
    if (setup == u"none")
        o.scratch.reset();
    ReceiveStore store(o);
    // A clear makes the next file: when it cannot be made, the capture goes on in memory and says why.
    if (setup == u"cleared") {
        QVERIFY(::chmod(path.constData(), 0755) == 0);
        store.clear();
        store.flush();
    }
    QCOMPARE(store.inMemoryBecause().refusal, refusal);
    QCOMPARE(store.scratchFolder().isEmpty(), maximum > 0);
    if (maximum > 0)
        QCOMPARE(store.maximum(), maximum);
    if (refusal != ScratchFile::Refusal::None)
        QCOMPARE(store.inMemoryBecause().folder, folder);
    store.appendText(u"温度\r\n");
    store.appendHex("\x0A\xFF");
    store.flush();
    QCOMPARE(store.text(0, store.size()), QStringLiteral("温度\r\n0A FF "));
    struct stat st = {};
    if (setup == u"fresh" || setup == u"named") {
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(scratchFiles(folder).size(), 1);
        QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    }
    // A folder that is not used is not changed either.
    if (setup == u"link" || setup == u"open") {
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0755));
        QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    }
}

void TestReceiveStore::droppedDataGivesItsDiskBack_data()
{
    // sizeLimit: a file-size limit in KiB (ulimit -f), 0 for none; limitLate: set once the file exists.
    addColumns<bool, int, bool>("hex", "sizeLimit", "limitLate");
    QTest::newRow("text") << false << 0 << false;
    QTest::newRow("hex") << true << 0 << false;
    QTest::newRow("text under a file-size limit") << false << 64 << false;
    QTest::newRow("hex, a file-size limit set while running") << true << 64 << true;
}

// Tiny blocks, each far smaller than the file system's block, and only the newest few kept: a block that
// makes way gives back all the disk it took, and its place is used again, so the file never holds more
// than what is kept plus the blocks still on their way. A file-size limit only makes the file smaller.
void TestReceiveStore::droppedDataGivesItsDiskBack()
{
    auto [hex, sizeLimit, limitLate] = fetchRow<bool, int, bool>("hex", "sizeLimit", "limitLate");
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("reuse-XXXXXX")));
    rlimit before = {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
    const rlimit limit { rlim_t(sizeLimit) << 10, before.rlim_max };
    if (sizeLimit > 0 && !limitLate)
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    ReceiveStore::Options o = tinyBlocks(folder.path());
    o.waitingBytes = 64;
    o.scratch->packBytes = 256; // a few blocks to an extent
    ReceiveStore store(o);
    QCOMPARE(store.scratchFolder(), folder.path());
    const qint64 block = scratchStat(folder.path()).st_blksize;
    if (sizeLimit > 0 && limitLate)
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    // 200 characters kept: 50 text blocks, or 24 hex blocks of 8 bytes.
    store.setMaximum(200);
    QString last;
    for (int i = 0; i < 4000; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(7, '0') + '\n';
        // As the receive handler does: nothing more is taken while the disk is behind.
        if (store.behind())
            store.flush();
        if (hex) {
            store.appendHex(line);
            last = tokens(line);
        } else {
            store.appendText(QString::fromLatin1(line));
            last = QString::fromLatin1(line);
        }
        if (i % 50 == 49)
            store.flush();
    }
    store.flush();
    QVERIFY(store.origin() > 0);
    QVERIFY(store.text(0, store.size()).endsWith(last));
    // Blocks held: what the kept characters span, the two tails and the ones the disk refused or is
    // writing; each takes at most one file system block.
    const qint64 bytesPerChar = hex ? 1 : 2;
    const qint64 held = (store.size() / (hex ? 3 : 1) * bytesPerChar / o.chunkBytes + 4 + o.waitingBytes / 8) * block;
    QTRY_VERIFY2(scratchStat(folder.path()).st_blocks * 512 <= held,
        qPrintable(QStringLiteral("%1 on disk for %2").arg(scratchStat(folder.path()).st_blocks * 512).arg(held)));
    // The file's end may stand past what is held: a place is used again only once its hole is punched, on a
    // thread of its own, so a slow run writes the newest block at the end meanwhile. That end holds no disk
    // (st_blocks above); under a file-size limit it still never passes the limit.
    if (sizeLimit > 0)
        QVERIFY(scratchStat(folder.path()).st_size <= qint64(sizeLimit) << 10);
    // The oldest still held reads back whole.
    QCOMPARE(store.text(0, 1).size(), 1);
}

// A disk that takes nothing for a while: appends go on without waiting for it, the store says it is behind
// once more than the chunks allowed wait (and no longer once cleared), and once the disk moves again
// everything is there.
void TestReceiveStore::neverWaitsForASlowDisk()
{
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("slow-XXXXXX")));
    std::mutex mutex;
    std::condition_variable moved;
    bool diskMoves = false;
    bool heldTooLong = false;
    ReceiveStore::Options o = tinyBlocks(folder.path());
    o.chunkBytes = 1024;
    o.waitingBytes = 4096;
    const auto slowDisk = [&] {
        std::unique_lock lock(mutex);
        // Held far longer than the appends below take, unless something waits for the disk.
        if (!moved.wait_for(lock, std::chrono::seconds(20), [&] { return diskMoves; }))
            heldTooLong = true;
    };
    o.scratch->beforeWrite = slowDisk;
    // The file a clear makes is as slow to come as the disk.
    std::atomic_int opens = 0;
    o.scratch->beforeOpen = [&] {
        if (opens++ > 0)
            slowDisk();
    };
    ReceiveStore store(o);
    const auto receive = [&store](int lines) {
        QString all;
        for (int i = 0; i < lines; ++i) {
            const QString line = QStringLiteral("第%1行 ").arg(i).repeated(10) + QStringLiteral("\r\n");
            store.appendText(line);
            all += line;
        }
        return all;
    };
    receive(200);
    QVERIFY(store.behind());
    // A clear is not held up by what the old capture still had to write.
    store.clear();
    QVERIFY(!store.behind());
    const QString all = receive(200);
    QVERIFY(store.behind());
    QCOMPARE(store.scratchFolder(), QString()); // in memory while the file is made
    {
        std::lock_guard lock(mutex);
        QVERIFY(!heldTooLong);
        diskMoves = true;
    }
    moved.notify_all();
    QTRY_VERIFY(!store.behind());
    store.flush();
    QCOMPARE(store.text(0, store.size()), all);
    QVERIFY(store.diskBytes() > 0);
}

// A disk that fills up midway: writes fail, the oldest data makes way on disk and in memory, and the
// newest is always there.
void TestReceiveStore::fullDiskDropsOldestKeepsNewest_data()
{
    QTest::addColumn<bool>("hex");
    QTest::newRow("text") << false;
    QTest::newRow("hex") << true;
}

void TestReceiveStore::fullDiskDropsOldestKeepsNewest()
{
    QFETCH(bool, hex);
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("full-XXXXXX")));
    if (::mount("tmpfs", QFile::encodeName(folder.path()).constData(), "tmpfs", 0, "size=1m,mode=0700") != 0)
        QSKIP("no tmpfs can be mounted here (needs root)");
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(folder.path()).constData(), MNT_DETACH); });
    {
        ReceiveStore::Options o;
        o.chunkBytes = 64 << 10;
        o.waitingBytes = 256 << 10;
        // Extents four chunks long, as on a real disk; the disk holds four of them.
        o.scratch = ScratchFile::Place { folder.path(), 0, 0, true, true, {}, {}, 256 << 10 };
        o.memoryHeadroom = 0;
        ReceiveStore store(o);
        QCOMPARE(store.scratchFolder(), folder.path());
        QRandomGenerator random(11);
        QByteArray bytes(50000, Qt::Uninitialized);
        for (int i = 0; i < 200; ++i) { // 10 MB of random data onto a 1 MiB disk
            random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
            // As text: random characters of the CJK block, which compress little.
            QString text(bytes.size() / 2, Qt::Uninitialized);
            for (qsizetype k = 0; k < text.size(); ++k)
                text[k] = QChar(char16_t(0x4e00 + (quint8(bytes[2 * k]) << 8 | quint8(bytes[2 * k + 1])) % 20000));
            const QString shown = hex ? tokens(bytes) : text;
            // The disk is given the time to take each chunk: how much a feed faster than the disk drops is
            // the budget bench's to measure, not a fixed figure.
            store.flush();
            if (hex)
                store.appendHex(bytes);
            else
                store.appendText(text);
            QCOMPARE(store.text(store.size() - shown.size(), store.size()), shown);
        }
        QVERIFY(store.origin() > 0);
        QVERIFY2(store.diskBytes() > 0 && store.diskBytes() <= 1 << 20, qPrintable(QString::number(store.diskBytes())));
        // The disk keeps holding the older part: more is held than memory alone allows.
        const qint64 heldBytes = hex ? store.size() / TextUnits::kHexTokenChars : store.size() * 2;
        QVERIFY2(heldBytes > o.waitingBytes + 2 * o.chunkBytes, qPrintable(QString::number(heldBytes)));
        // Chunks waiting for the disk, the two tails and the cache of chunks read back.
        QVERIFY(store.memoryBytes() <= o.waitingBytes + (2 + o.cacheChunks) * o.chunkBytes);
        // What is still held reads back whole from its start.
        QCOMPARE(store.text(0, 3).size(), 3);
        if (hex)
            QVERIFY(store.text(0, 3).endsWith(u' '));
    }
}

void TestReceiveStore::memoryLimitedKeepsNewest()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's shadow memory does not fit in a limited address space");
#endif
    // The child is this program again, which fills a store at once when it finds the variable below.
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZELCOM_FILL_UNDER_LIMIT"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setChildProcessModifier([] {
        const rlimit limit { rlim_t(1) << 30, rlim_t(1) << 30 };
        ::setrlimit(RLIMIT_AS, &limit);
    });
    child.start();
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

void TestReceiveStore::savesAsShownOrLeavesNoFile_data()
{
    addColumns<QString, int>("how", "outcome");
    QTest::newRow("whole, across many blocks") << QStringLiteral("whole") << int(CaptureWriter::Saved);
    QTest::newRow("the oldest makes way midway") << QStringLiteral("drop") << int(CaptureWriter::DataGone);
    QTest::newRow("edited midway") << QStringLiteral("edit") << int(CaptureWriter::Edited);
}

// A save writes the text as the area shows it, as UTF-8, a slice at a time (7 characters here, so
// surrogate pairs and CR LF fall across slices); anything short of that leaves no file at all. A selection, a
// full disk and a cancel are saved through the window's menu in tst_save.
void TestReceiveStore::savesAsShownOrLeavesNoFile()
{
    auto [how, outcome] = fetchRow<QString, int>("how", "outcome");
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("save-XXXXXX")));
    ReceiveStore store(tinyBlocks(m_dir.path()));
    QString shown;
    for (int i = 0; i < 300; ++i) {
        store.appendText(QStringLiteral("第%1行 \U0001F600\r").arg(i));
        store.appendHex(QByteArray("\x0A\xFF", 2));
        store.appendText(u"\n");
        shown += QStringLiteral("第%1行 \U0001F600\r0A FF \n").arg(i);
    }
    store.flush();
    const QString path = folder.filePath(QStringLiteral("接收数据.txt"));
    CaptureWriter writer(store, 0, store.size(), nullptr, 7);
    QSignalSpy finished(&writer, &CaptureWriter::finished);
    QVERIFY(writer.start(path));
    connect(&writer, &CaptureWriter::progressed, &writer, [&](qint64 done) {
        if (done < 70)
            return;
        if (how == u"drop") {
            store.setMaximum(store.size() - 100);
            store.appendText(u"x");
        }
        if (how == u"edit")
            store.insert(3, u"y");
    });
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.at(0).at(0).toInt(), outcome);
    if (outcome == CaptureWriter::Saved) {
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), shown.toUtf8());
    } else {
        QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
    }
    // A folder that is not there, on a disk that takes its time: start() returns while the open is held,
    // and the save ends as a failed write with the system's reason.
    std::binary_semaphore go(0);
    std::atomic_bool heldTooLong = false;
    CaptureWriter nowhere(store, 0, 1);
    nowhere.setBeforeOpen([&] { heldTooLong = !go.try_acquire_for(std::chrono::seconds(20)); });
    QSignalSpy failed(&nowhere, &CaptureWriter::finished);
    QVERIFY(nowhere.start(folder.filePath(QStringLiteral("no/such/folder/x.txt"))));
    go.release();
    QVERIFY(failed.wait(30000));
    QVERIFY(!heldTooLong);
    QCOMPARE(failed.at(0).at(0).toInt(), int(CaptureWriter::WriteFailed));
    QCOMPARE(nowhere.error(), ENOENT);
}

void TestReceiveStore::memoryBudgetFollowsTheLimits_data()
{
    addColumns<QByteArray, QStringList, qint64>("cgroup", "files", "most");
    const QString meminfo = QStringLiteral("meminfo=MemTotal: 24000000 kB\nMemAvailable: 20000000 kB\n");
    QTest::newRow("v2 group with a limit") << QByteArray("0::/user.slice/app.scope\n")
                                           << QStringList { meminfo, "user.slice/app.scope/memory.max=419430400",
                                                  "user.slice/app.scope/memory.current=104857600" }
                                           << qint64(419430400 - 104857600);
    QTest::newRow("v2 limit on a parent group")
        << QByteArray("0::/user.slice/app.scope\n")
        << QStringList { meminfo, "user.slice/app.scope/memory.max=max", "user.slice/memory.max=209715200",
               "user.slice/memory.current=10485760" }
        << qint64(209715200 - 10485760);
    QTest::newRow("v1 memory controller")
        << QByteArray("12:cpu:/x\n4:memory:/grp\n")
        << QStringList { meminfo, "memory/grp/memory.limit_in_bytes=104857600", "memory/grp/memory.usage_in_bytes=0" }
        << qint64(104857600);
    QTest::newRow("no limit: what the system has available")
        << QByteArray("0::/\n") << QStringList { meminfo } << qint64(20000000) * 1024;
}

void TestReceiveStore::memoryBudgetFollowsTheLimits()
{
    auto [cgroup, files, most] = fetchRow<QByteArray, QStringList, qint64>("cgroup", "files", "most");
    QTemporaryDir root;
    const auto write = [&](const QString &path, const QByteArray &content) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    write(root.filePath(QStringLiteral("proc/self/cgroup")), cgroup);
    write(root.filePath(QStringLiteral("proc/self/status")), "VmSize: 1000 kB\nVmData: 1000 kB\n");
    for (const QString &file : files) {
        const QString name = file.section(u'=', 0, 0);
        const QByteArray content = file.section(u'=', 1).toUtf8();
        write(name == u"meminfo" ? root.filePath(QStringLiteral("proc/meminfo"))
                                 : root.filePath(QStringLiteral("cgroup/") + name),
            content);
    }
    const qint64 headroom
        = MemoryBudget::headroom(root.filePath(QStringLiteral("proc")), root.filePath(QStringLiteral("cgroup")));
    QVERIFY2(headroom <= most && headroom > most - (qint64(64) << 20), qPrintable(QString::number(headroom)));
}

// Line breaks are looked for eight characters at a time: one at every place in a group and in the tail is
// found where it stands, and characters that only share a byte with CR or LF are not breaks.
void TestReceiveStore::breaksFoundAtEveryPlace()
{
    QString text(37, u'x');
    const std::vector<quint32> at { 0, 7, 8, 9, 14, 15, 16, 23, 31, 32, 36 };
    for (const quint32 i : at)
        text[qsizetype(i)] = i % 2 ? u'\r' : u'\n';
    for (const qsizetype i : { 1, 10, 24, 33 })
        text[i] = QChar(i % 2 ? 0x0A0A : 0x0D00);
    std::vector<quint32> found { 5 };
    Chunk::addBreaks(reinterpret_cast<const char16_t *>(text.utf16()), qint32(text.size()), 100, found);
    std::vector<quint32> expected { 5 };
    for (const quint32 i : at)
        expected.push_back(100 + i);
    QCOMPARE(found, expected);
}

// The scratch-file layer alone, with eight-byte blocks, two to an extent, and a sealer that writes each
// block in clear behind its id: after every step the file holds exactly the blocks in use, packed into
// extents of whole file system blocks; an extent goes only with its last block and leaves a hole that the
// next extent fills; and a clear starts a new file while the blocks wait in memory until it is there.
void TestReceiveStore::scratchBlocksLeaveExactlyTheirBytes()
{
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("blocks-XXXXXX")));
    const auto head = [](qint64 id) { return "#" + QByteArray::number(id) + ":"; };
    const ScratchBlocks::Sealer inClear { [&](QByteArrayView plain, qint64 id) {
                                             return head(id) + plain.toByteArray();
                                         },
        [&](QByteArrayView sealed, qint64 id) {
            return sealed.startsWith(head(id)) ? sealed.sliced(head(id).size()).toByteArray() : QByteArray();
        } };
    std::binary_semaphore opened(0);
    ScratchFile::Place place { folder.path(), 0, 0, true, true, {}, {}, 24 };
    place.beforeOpen = [&, first = std::make_shared<bool>(true)] {
        if (!std::exchange(*first, false))
            opened.acquire();
    };
    const auto pool = std::make_shared<ChunkPool>(8);
    ScratchFile::Why why;
    auto blocks = ScratchBlocks::open({ place, 1 << 20, 2, 0 }, pool, &why, inClear);
    QVERIFY(blocks);
    const qint64 fsBlock = scratchStat(folder.path()).st_blksize;
    const auto block = [&](char fill) {
        auto chunk = std::make_shared<Chunk>(quint64(fill), true, 8, pool);
        std::memset(chunk->memory, fill, 8);
        chunk->used = 8;
        blocks->append(chunk);
        return chunk;
    };
    // The file's bytes, and what they should be: each extent's blocks back to back, padded to the file
    // system's block ('-': a hole of one); the file ends with the last block.
    const auto file = [&] {
        QFile scratch(scratchFiles(folder.path()).value(0));
        return scratch.open(QIODevice::ReadOnly) ? scratch.readAll() : QByteArray();
    };
    const auto expected = [&](const QByteArray &extents) {
        QByteArray out;
        for (char fill : extents) {
            if (fill == '|')
                out = out.leftJustified((out.size() + fsBlock - 1) / fsBlock * fsBlock, '\0');
            else
                out += fill == '-' ? QByteArray(fsBlock, '\0') : head(fill) + QByteArray(8, fill);
        }
        return out;
    };
    auto a = block('A'), b = block('B'), c = block('C'), d = block('D'), e = block('E');
    blocks->flush();
    QCOMPARE(file(), expected("AB|CD|E"));
    b.reset(), c.reset(), d.reset();
    QTRY_COMPARE(blocks->file()->heldBytes(), 2 * fsBlock); // the second extent punched, the first kept for A
    QCOMPARE(file(), expected("AB|-|E"));
    auto f = block('F'), g = block('G');
    blocks->flush();
    QCOMPARE(file(), expected("AB|G|EF"));
    a.reset();
    QTRY_COMPARE(blocks->file()->heldBytes(), 2 * fsBlock);
    QCOMPARE(file(), expected("-|G|EF"));
    blocks->clear();
    auto h = block('H');
    QCOMPARE(blocks->folder(), QString()); // in memory while the new file is made
    e.reset(), f.reset(), g.reset();
    opened.release();
    blocks->flush();
    QCOMPARE(scratchFiles(folder.path()).size(), 1); // the old file went with its last block
    QCOMPARE(file(), expected("H"));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("ZELCOM_FILL_UNDER_LIMIT"))
        return fillUnderLimit();
    QCoreApplication app(argc, argv);
    TestReceiveStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_receivestore.moc"
