// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component's reading as a device and a user meet it: a window that falls behind holds the device
// back instead of growing without bound, catches up at once, sees the end of every burst without waiting for
// more data, and an idle port costs no processor time.

#include "port/mscomm.h"
#include "port/portmap.h"
#include "port/portreader.h"
#include "tests/support/expectnothing.h"
#include "tests/support/pattern.h"
#include "tests/support/ptypair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// The device sending as fast as the line takes it, from a thread of its own, so the window's thread can be
// held busy meanwhile.
class Device
{
public:
    Device(int fd, QByteArray data)
        : m_data(std::move(data))
        , m_thread([this, fd] { run(fd); })
    {
    }
    ~Device()
    {
        m_stop = true;
        m_thread.join();
    }
    qsizetype written() const { return m_written; }
    bool done() const { return m_written == m_data.size(); }

private:
    void run(int fd)
    {
        qsizetype done = 0;
        while (done < m_data.size() && !m_stop) {
            const ssize_t n
                = ::write(fd, m_data.constData() + done, size_t(std::min<qsizetype>(m_data.size() - done, 4096)));
            if (n > 0) {
                m_written = done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p { fd, POLLOUT, 0 };
                ::poll(&p, 1, 20);
            } else if (n < 0 && errno != EINTR) {
                return;
            }
        }
    }

    const QByteArray m_data;
    std::atomic<qsizetype> m_written = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// The threads of this process, by id.
QSet<QString> threads()
{
    const QStringList ids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return QSet<QString>(ids.cbegin(), ids.cend());
}

// Bytes the given threads have read with read() so far.
qint64 bytesRead(const QSet<QString> &ids)
{
    qint64 sum = 0;
    for (const QString &id : ids) {
        QFile io(QStringLiteral("/proc/self/task/%1/io").arg(id));
        if (io.open(QIODevice::ReadOnly))
            sum += io.readLine().trimmed().sliced(7).toLongLong(); // "rchar: N"
    }
    return sum;
}

// Waits without handling events, so the window stays busy meanwhile.
bool busyUntil(const std::function<bool()> &condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(10000))
            return false;
        ::poll(nullptr, 0, 1);
    }
    return true;
}

// How long the process's threads have been running or ready to run, in seconds. A thread that spins is one or
// the other all the time, however busy the machine is; a thread that waits for its device is neither.
double busySeconds()
{
    double sum = 0;
    for (const QString &id : threads()) {
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(id));
        if (stat.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = stat.readAll().split(' ');
            sum += (fields.value(0).toDouble() + fields.value(1).toDouble()) / 1e9;
        }
    }
    return sum;
}

} // namespace

class TestReader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void windowBehind_data();
    void windowBehind();
    void bytesJustBeforeAHangUpAreShown();

private:
    std::unique_ptr<PtyPair> m_pty;
};

void TestReader::init()
{
    PortMap::setSystemScanner([] { return QStringList(); });
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    qputenv("ZELCOM_PORTS", m_pty->slavePath().toLocal8Bit());
}

void TestReader::windowBehind_data()
{
    // How much the device sends while the window takes nothing.
    QTest::addColumn<qsizetype>("size");
    // More than the read-ahead: the device is held back, and goes on once the window takes again.
    QTest::newRow("longer than the read-ahead") << PortReader::kReadAhead * 2 + (1 << 20);
    // All of it read ahead, more than one Input takes: no new data comes to announce the rest.
    QTest::newRow("a burst of several batches") << PortReader::kReadAhead - (1 << 20);
}

void TestReader::windowBehind()
{
    QFETCH(qsizetype, size);
    MSComm comm;
    comm.setInputMode(MSComm::comInputModeBinary);
    comm.setPortOpen(true);
    const QByteArray data = pattern(size);
    Device device(m_pty->masterFd(), data);

    // The window is busy (nothing takes the data): the reader reads ahead up to its limit, then holds the
    // device back with no more than what the line itself holds beyond it.
    QTRY_VERIFY_WITH_TIMEOUT(device.written() >= std::min(size, PortReader::kReadAhead), 30000);
    if (size > PortReader::kReadAhead)
        QVERIFY(expectNothingFor(500, [&] { return device.written() > PortReader::kReadAhead + (1 << 20); }));
    else
        QTRY_VERIFY(device.done());

    // The window takes what each announcement brings, and everything arrives exact with no more data sent.
    QByteArray got;
    connect(&comm, &MSComm::OnComm, this, [&] { got += std::get<QByteArray>(comm.Input()); });
    QTRY_VERIFY_WITH_TIMEOUT(got.size() >= data.size(), 30000);
    QVERIFY(got == data);
    QVERIFY(device.done());

    // Open and idle, after pausing and resuming: for a second of the event loop's own waiting, no thread spins.
    const double before = busySeconds();
    QEventLoop idle;
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double spent = busySeconds() - before;
    QVERIFY2(spent < 0.3, qPrintable(QString::number(spent)));
}

// The device sends its last bytes and hangs up while the window is busy: the reader has them, and the loss is
// known before their announcement is handled. They are still announced, before the loss.
void TestReader::bytesJustBeforeAHangUpAreShown()
{
    if (!QFile::exists(QStringLiteral("/proc/self/task/%1/io").arg(::gettid())))
        QSKIP("no per-thread I/O accounting here");
    MSComm comm;
    comm.setInputMode(MSComm::comInputModeBinary);
    const QSet<QString> before = threads();
    comm.setPortOpen(true);
    const QSet<QString> reader = threads() - before;
    QCOMPARE(reader.size(), 1);
    const QString readerId = reader.values().value(0);
    QStringList heard;
    connect(&comm, &MSComm::OnComm, this, [&] { heard << QString::fromLatin1(std::get<QByteArray>(comm.Input())); });
    connect(&comm, &MSComm::portLost, this, [&] { heard << QStringLiteral("lost"); });

    const qint64 read = bytesRead(reader);
    m_pty->write(QByteArray("last words"));
    // Read from the device by the reader (and so safe from the hang-up's flush), then the device goes and the
    // reader sees it and ends.
    QVERIFY(busyUntil([&] { return bytesRead(reader) >= read + 10; }));
    m_pty->closeMaster();
    QVERIFY(busyUntil([&] { return !threads().contains(readerId); }));

    QTRY_COMPARE(heard, QStringList({ "last words", "lost" }));
    QVERIFY(!comm.PortOpen());
}

QTEST_MAIN(TestReader)
#include "tst_reader.moc"
