// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/savedialog.h"

#include "terminal/receiveview/capturewriter.h"
#include "window/messagebox.h"
#include "window/texts.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>

namespace {

// The folder the last save of this run went to; nothing is kept between runs.
QString &lastFolder()
{
    static QString folder;
    return folder;
}

QString startFolder()
{
    return folderToStartIn(lastFolder());
}

// A box that does not wait: the window goes on receiving behind it.
void tell(QWidget *parent, const QString &text, const QString &reason)
{
    MsgBoxLater(parent, text, Texts::kSaveTitle, QMessageBox::Warning, reason);
}

void tellFailed(QWidget *parent, const QString &path, int error)
{
    tell(parent, Texts::kSaveFailed.arg(QDir::toNativeSeparators(path)),
        Texts::kSaveFailedReason.arg(Texts::systemReason(error)));
}

// Asks where to save, offering a name no earlier save of this run has taken (it carries the time), with
// its stem selected so that typing a new name keeps the extension. Empty when the user cancels.
QString askForPath(QWidget *parent, bool offerHexDump, bool offerTimes, QString &filter)
{
    const QString name
        = Texts::kSaveDefaultName.arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    // A test answers in the user's place.
    if (BoxAnswers *answers = BoxAnswers::current()) {
        filter = answers->takeFileFilter();
        return answers->answerFileDialog(QDir(startFolder()).filePath(name));
    }
    QFileDialog dialog(parent, Texts::kSaveTitle, startFolder(), Texts::kSaveFilter);
    dialog.setObjectName(QStringLiteral("SaveDialog"));
    // The desktop's own dialog would select the whole name, extension included.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters = Texts::kSaveFilter.split(QStringLiteral(";;"));
    if (offerTimes)
        filters.insert(1, Texts::kSaveFilterTimes);
    if (offerHexDump)
        filters.insert(filters.size() - 1, Texts::kSaveFilterHexDump);
    dialog.setNameFilters(filters);
    dialog.selectFile(name);
    // The dialog selects the whole name when it is shown; the stem is selected once it is up.
    QTimer::singleShot(0, &dialog, [&dialog, stem = QFileInfo(name).completeBaseName().size()] {
        if (auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            field->setSelection(0, int(stem));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    filter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}

} // namespace

void saveCapture(
    QWidget *parent, const ReceiveStore &store, qint64 from, qint64 to, bool offerHexDump, const LineTimes *times)
{
    QString filter;
    const QString path = askForPath(parent, offerHexDump, times != nullptr, filter);
    if (path.isEmpty())
        return;
    lastFolder() = QFileInfo(path).absolutePath();
    auto *writer = new CaptureWriter(store, from, to, parent);
    writer->setHexDump(offerHexDump && filter == Texts::kSaveFilterHexDump);
    if (times && filter == Texts::kSaveFilterTimes)
        writer->setTimes(times);
    if (!writer->start(path)) {
        tellFailed(parent, path, writer->error());
        writer->deleteLater();
        return;
    }
    auto *progress = new QProgressDialog(Texts::kSaving, Texts::kSaveCancel, 0, 1000, parent);
    progress->setWindowTitle(Texts::kSaveTitle);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    QObject::connect(writer, &CaptureWriter::progressed, progress,
        [progress](qint64 done, qint64 total) { progress->setValue(total > 0 ? int(done * 1000 / total) : 1000); });
    QObject::connect(progress, &QProgressDialog::canceled, writer, &CaptureWriter::cancel);
    QObject::connect(writer, &CaptureWriter::finished, parent, [=](CaptureWriter::Outcome outcome) {
        progress->deleteLater();
        writer->deleteLater();
        switch (outcome) {
        case CaptureWriter::Saved:
        case CaptureWriter::Cancelled: // the user's own choice: the writer left no file, and there is nothing to say
            break;
        case CaptureWriter::WriteFailed:
            tellFailed(parent, path, writer->error());
            break;
        case CaptureWriter::DataGone:
            tell(parent, Texts::kSaveFailed.arg(QDir::toNativeSeparators(path)), Texts::kSaveDataGone);
            break;
        case CaptureWriter::Edited:
            tell(parent, Texts::kSaveFailed.arg(QDir::toNativeSeparators(path)), Texts::kSaveEdited);
            break;
        }
    });
}

bool mayCopy(QWidget *parent, qint64 characters)
{
    if (characters <= kCopyLimitChars)
        return true;
    MsgBox(parent, Texts::kCopyTooLarge.arg(Texts::count(characters), Texts::count(kCopyLimitChars)),
        Texts::kProgramTitle, QMessageBox::Information, Texts::kCopyTooLargeHint);
    return false;
}

QString folderToStartIn(const QString &lastUsed)
{
    if (!lastUsed.isEmpty() && QDir(lastUsed).exists())
        return lastUsed;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}
