// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/savedialog.h"

#include "terminal/receiveview/capturewriter.h"
#include "window/messagebox.h"
#include "window/texts.h"

#include <QDir>
#include <QLocale>
#include <QProgressDialog>
#include <QStandardPaths>

namespace {

// A box that does not wait: the window goes on receiving behind it.
void tell(QWidget *parent, const QString &text)
{
    MsgBoxLater(parent, text, Texts::kSaveTitle, QMessageBox::Warning);
}

// Why the file could not be written, in Chinese where the system gave its number.
QString failure(const QString &path, const CaptureWriter &writer)
{
    return Texts::kSaveFailed.arg(QDir::toNativeSeparators(path),
        writer.systemError() != 0 ? Texts::systemReason(writer.systemError()) : writer.errorString());
}

} // namespace

void saveCapture(QWidget *parent, const ReceiveStore &store, qint64 from, qint64 to)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString path = askSaveFileName(
        parent, Texts::kSaveTitle, QDir(folder).filePath(Texts::kSaveDefaultName), Texts::kSaveFilter);
    if (path.isEmpty())
        return;
    auto *writer = new CaptureWriter(store, from, to, parent);
    if (!writer->start(path)) {
        tell(parent, failure(path, *writer));
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
            break;
        case CaptureWriter::Cancelled:
            tell(parent, Texts::kSaveCancelled);
            break;
        case CaptureWriter::WriteFailed:
            tell(parent, failure(path, *writer));
            break;
        case CaptureWriter::DataGone:
            tell(parent, Texts::kSaveDataGone);
            break;
        case CaptureWriter::Edited:
            tell(parent, Texts::kSaveEdited);
            break;
        }
    });
}

bool mayCopy(QWidget *parent, qint64 characters)
{
    if (characters <= kCopyLimitChars)
        return true;
    const QLocale locale(QLocale::Chinese, QLocale::China);
    MsgBox(parent, Texts::kCopyTooLarge.arg(locale.toString(characters), locale.toString(kCopyLimitChars)),
        Texts::kProgramTitle, QMessageBox::Information);
    return false;
}
