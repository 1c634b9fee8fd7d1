// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the receive area as a user does it: the context menu, the file dialog, the progress and the box at
// the end, with the file on disk checked byte for byte, and nothing left behind when a save does not go
// through. Boxes and the file dialog are answered through BoxAnswers, set before the action.

#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/savedialog.h"
#include "tests/support/boxcatcher.h"
#include "tests/support/contextmenu.h"
#include "tests/support/expectnothing.h"
#include "tests/support/files.h"
#include "tests/support/formfixture.h"
#include "tests/support/rows.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden);
}

// Lines as a device sends them, with CR LF, a lone CR, Chinese and a character outside the BMP, then hex bytes.
void fill(ReceiveArea *area, int lines)
{
    for (int i = 0; i < lines; ++i)
        area->appendText(QStringLiteral("第%1行 温度=23.5℃ \U0001F600\r\n").arg(i));
    area->appendText(u"\rend");
    area->appendHex(QByteArray("\x0A\xFF\x41", 3));
}

} // namespace

class TestSave : public QObject
{
    Q_OBJECT

private slots:
    void savesOrSaysWhy_data();
    void savesOrSaysWhy();
    void progressMovesAndCancelLeavesNothing_data();
    void progressMovesAndCancelLeavesNothing();
    void theDialogAsTheUserMeetsIt();
};

void TestSave::savesOrSaysWhy_data()
{
    // Where the file goes (in a fresh folder; "" = the dialog is cancelled), the menu entry's key, and the reason
    // under "未能保存到 FILE。" in the box the save ends with ("" = no box). A save that ends with a box leaves the
    // folder as it was, already when the box shows.
    addColumns<QString, int, QString>("where", "key", "box");
    const QString failed = QStringLiteral("%1。");
    QTest::newRow("whole capture") << "接收数据.txt" << int(Qt::Key_S) << QString();
    QTest::newRow("selection") << "part.txt" << int(Qt::Key_V) << QString();
    QTest::newRow("over an older file") << "old.txt" << int(Qt::Key_S) << QString();
    QTest::newRow("dialog cancelled") << "" << int(Qt::Key_S) << QString();
    QTest::newRow("folder missing") << "no/such/x.txt" << int(Qt::Key_S) << failed.arg("文件或文件夹不存在");
    QTest::newRow("a folder by that name") << "sub" << int(Qt::Key_S) << failed.arg("这是一个文件夹");
    QTest::newRow("disk full") << "full/x.txt" << int(Qt::Key_S) << failed.arg("磁盘空间已满");
    QTest::newRow("file size limit") << "limit.txt" << int(Qt::Key_S) << failed.arg("文件超过了允许的最大长度");
    // A device is written into, never replaced by a file of that name (as root the folder would allow it).
    QTest::newRow("a full device") << "full-device" << int(Qt::Key_S) << failed.arg("磁盘空间已满");
}

void TestSave::savesOrSaysWhy()
{
    const auto [where, key, box] = fetchRow<QString, int, QString>("where", "key", "box");
    FormFixture f;
    auto *area = f.get<ReceiveArea>("Text1");
    fill(area, 200); // about 7 KB
    QTemporaryDir dir;
    QString path = where.isEmpty() ? QString() : dir.filePath(where);
    if (where == u"full-device" && ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        path = QStringLiteral("/dev/full"); // where no device node can be made here

    const QByteArray full = QFile::encodeName(dir.filePath(QStringLiteral("full")));
    if (where.startsWith(u"full/")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("full")));
        if (::mount("tmpfs", full.constData(), "tmpfs", 0, "size=4k") != 0)
            QSKIP("no tmpfs can be mounted here (needs root)");
    }
    const auto unmount = qScopeGuard([&] {
        if (where.startsWith(u"full/"))
            ::umount2(full.constData(), MNT_DETACH);
    });
    rlimit unlimited {};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    if (where == u"limit.txt") {
        // Past the limit a write fails with EFBIG instead of ending the program.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = unlimited;
        limit.rlim_cur = 1000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }
    const auto unlimit = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
    if (where == u"sub")
        QVERIFY(QDir(dir.path()).mkdir(where));
    if (where == u"old.txt")
        QVERIFY(writeFile(path, QByteArray(20000, 'o')));
    const QStringList before = entries(dir.path());
    QStringList atTheBox;

    BoxCatcher boxes;
    boxes.answers().setNextFileName(path);
    boxes.answers().setWhenShown([&] { atTheBox = entries(dir.path()); });
    const qint64 from = key == Qt::Key_V ? 3 : 0;
    const qint64 to = key == Qt::Key_V ? area->characterCount() - 2 : area->characterCount();
    if (key == Qt::Key_V)
        area->setSelection(from, to);
    const QString shown = area->textBetween(from, to);
    chooseFromMenu(area, Qt::Key(key));

    // The dialog starts in a folder that exists.
    QCOMPARE(boxes.answers().fileDialogs().size(), 1);
    QVERIFY(QFileInfo(boxes.answers().fileDialogs()[0]).dir().exists());
    if (box.isEmpty() && !path.isEmpty()) {
        // The file appears only once it is whole.
        QTRY_VERIFY(QFileInfo::exists(path) && QFileInfo(path).size() != 20000);
        QCOMPARE(readFile(path), shown.toUtf8());
        QCOMPARE(entries(dir.path()), QStringList(QFileInfo(path).fileName()));
        QVERIFY(boxes.boxes().isEmpty());
        return;
    }
    if (box.isEmpty()) {
        QVERIFY(expectNothingFor(100, [&] { return !boxes.boxes().isEmpty(); }));
    } else {
        QTRY_COMPARE(boxes.boxes().size(), 1);
        const BoxCatcher::Box told = boxes.boxes()[0];
        QCOMPARE(told.text, QStringLiteral("未能保存到 %1。").arg(path));
        QCOMPARE(told.informative, box);
        QCOMPARE(told.title, QStringLiteral("保存接收内容"));
        QCOMPARE(told.icon, QMessageBox::Warning);
        QCOMPARE(atTheBox, before);
    }
    QCOMPARE(entries(dir.path()), before);
    if (where.startsWith(u"full/"))
        QCOMPARE(entries(dir.filePath(QStringLiteral("full"))), QStringList());
    if (where == u"full-device")
        QVERIFY(!QFileInfo(path).isFile() && QFileInfo(path).exists());
}

void TestSave::progressMovesAndCancelLeavesNothing_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("saved") << false;
    QTest::newRow("cancelled midway") << true;
}

// A save of several slices shows its progress while the window goes on; cancelled midway, it says so and the
// file is gone by the time the box shows.
void TestSave::progressMovesAndCancelLeavesNothing()
{
    QFETCH(bool, cancel);
    FormFixture f;
    auto *area = f.get<ReceiveArea>("Text1");
    const QString line = QStringLiteral("0123456789abcdef中文\n");
    for (int i = 0; i < 200; ++i)
        area->appendText(line.repeated(1000)); // 3.6 Mi characters: four slices
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    BoxCatcher boxes;
    boxes.answers().setNextFileName(path);
    chooseFromMenu(area, Qt::Key_S);

    const QPointer<QProgressDialog> progress = area->findChild<QProgressDialog *>();
    QVERIFY(progress);
    QList<int> values;
    connect(progress->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this, [&](int value) {
        values << value;
        if (cancel && value > 0)
            progress->findChild<QPushButton *>()->click();
    });
    if (cancel) {
        // The user's own choice: no box, and no file once the save has ended.
        QTRY_VERIFY(!progress);
        QCOMPARE(entries(dir.path()), QStringList());
        QVERIFY(expectNothingFor(100, [&] { return !boxes.boxes().isEmpty(); }));
        QVERIFY(!values.isEmpty() && values[0] > 0 && values[0] < 1000);
        return;
    }
    QTRY_COMPARE(QFileInfo(path).size(), line.toUtf8().size() * 200'000);
    QVERIFY(boxes.boxes().isEmpty());
    // It moved through the middle, never back, and ended full.
    QVERIFY(values.size() >= 3 && values.first() > 0 && values.last() == 1000);
    QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
}

// The dialog itself, not its stand-in: a name with the date and time whose stem alone is selected, so typing
// keeps the extension; a hex dump as the second file type; the next save starts where the last one went.
void TestSave::theDialogAsTheUserMeetsIt()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("dump.txt"));
    ReceiveArea area;
    area.appendText(u"30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66 ");
    QStringList asked; // per dialog: the folder it started in, the name offered, what of it is selected
    QStringList filters;
    QTimer poll;
    poll.callOnTimeout([&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *field = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!field || !field->hasSelectedText())
            return;
        asked << dialog->directory().absolutePath() << field->text() << field->selectedText();
        if (asked.size() > 3)
            return dialog->reject();
        filters = dialog->nameFilters();
        dialog->selectNameFilter(filters.value(1));
        dialog->selectFile(path);
        static_cast<QDialog *>(dialog)->accept();
    });
    poll.start(5);
    saveCapture(&area, area.store(), 0, area.characterCount(), true);
    QCOMPARE(filters.value(1), QStringLiteral("十六进制转储，每行 16 字节 (*.txt)"));
    QVERIFY2(QRegularExpression(QStringLiteral("^接收数据-20\\d{6}-\\d{6}\\.txt$")).match(asked.value(1)).hasMatch(),
        qPrintable(asked.join(u'|')));
    QCOMPARE(asked.value(2), asked.value(1).chopped(4));
    QTRY_VERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(readFile(path),
        QByteArray("00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\n00000010\n"));
    saveCapture(&area, area.store(), 0, 1);
    QCOMPARE(asked.value(3), folder.path());
    QCOMPARE(entries(folder.path()), QStringList(QStringLiteral("dump.txt")));
}

QTEST_MAIN(TestSave)
#include "tst_save.moc"
