// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/savedialog.h"

#include "terminal/receiveview/capturewriter.h"
#include "window/texts.h"

#include <QDir>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStandardPaths>

namespace {

// A box that does not wait: the window goes on receiving behind it.
void tell(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, Texts::kSaveTitle, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->show();
}

} // namespace

void saveCapture(QWidget *parent, const ReceiveStore &store, qint64 from, qint64 to)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString path = QFileDialog::getSaveFileName(
        parent, Texts::kSaveTitle, QDir(folder).filePath(Texts::kSaveDefaultName), Texts::kSaveFilter);
    if (path.isEmpty())
        return;
    auto *writer = new CaptureWriter(store, from, to, parent);
    if (!writer->start(path)) {
        tell(parent, Texts::kSaveFailed.arg(QDir::toNativeSeparators(path), writer->errorString()));
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
            tell(parent, Texts::kSaveFailed.arg(QDir::toNativeSeparators(path), writer->errorString()));
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
    QMessageBox::information(parent, Texts::kProgramTitle,
        Texts::kCopyTooLarge.arg(locale.toString(characters), locale.toString(kCopyLimitChars)));
    return false;
}
