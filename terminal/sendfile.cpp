// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/sendfile.h"

#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/filesender.h"
#include "window/form1.h"
#include "window/messagebox.h"
#include "window/texts.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// The progress bar's steps: a file's size does not fit the dialog's int.
constexpr int kProgressSteps = 1000;

QString askForFile(QWidget *owner)
{
    // Qt's own dialog rather than the desktop's: the same everywhere, and a test can drive it.
    QFileDialog dialog(owner, Texts::kSendFileTitle);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setObjectName(QStringLiteral("SendFileDialog"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

// Told once the sending has ended and its dialog is gone, from the event loop rather than from inside the
// sender's own signal.
void tell(Form1 &form, const QString &text, QMessageBox::Icon icon)
{
    QTimer::singleShot(0, &form, [&form, text, icon] { MsgBox(&form, text, Texts::kProgramTitle, icon); });
}

QString outcomeText(const FileSender &sender, FileSender::Outcome outcome, const QString &name, qint64 size)
{
    const QString sent = Texts::count(sender.written());
    const QString total = Texts::count(size);
    switch (outcome) {
    case FileSender::Outcome::Sent:
        return QString();
    case FileSender::Outcome::Cancelled:
        return Texts::kSendFileCancelled.arg(name, sent, total);
    case FileSender::Outcome::ReadFailed:
        return Texts::kSendFileReadFailed.arg(name, Texts::systemReason(sender.error()), sent, total);
    case FileSender::Outcome::PortClosed:
        return Texts::kSendFilePortClosed.arg(name, sent, total);
    case FileSender::Outcome::WriteFailed:
        return Texts::kSendFileWriteFailed.arg(Texts::systemReason(sender.error()), name, sent, total);
    }
    return QString();
}

} // namespace

QString (*chooseFileToSend)(QWidget *owner) = askForFile;

bool sendingFile(const Form1 &form)
{
    const auto *sender = form.findChild<FileSender *>(QString(), Qt::FindDirectChildrenOnly);
    return sender && !sender->isFinished();
}

void Text2_SendFile(Form1 &form)
{
    if (sendingFile(form)) {
        MsgBox(&form, Texts::kSendFileBusy, Texts::kProgramTitle, QMessageBox::Warning);
        return;
    }
    if (!form.MSComm1->PortOpen()) {
        MsgBox(&form, Texts::kOpenThePortFirst, Texts::kProgramTitle);
        return;
    }
    const QString path = chooseFileToSend(&form);
    if (path.isEmpty())
        return;
    // The port may have gone while the user was choosing.
    if (!form.MSComm1->PortOpen()) {
        MsgBox(&form, Texts::kOpenThePortFirst, Texts::kProgramTitle);
        return;
    }
    const QString name = QFileInfo(path).fileName();
    // Not blocking: a named pipe would otherwise hold the window until something writes to it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st
    {
    };
    const int error = fd < 0 ? errno : ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        MsgBox(&form,
            error != 0 ? Texts::kSendFileUnreadable.arg(name, Texts::systemReason(error))
                       : Texts::kSendFileNotRegular.arg(name),
            Texts::kProgramTitle, QMessageBox::Warning);
        return;
    }
    ::fcntl(fd, F_SETFL, O_RDONLY);
    const qint64 size = st.st_size;

    FileSender *sender = nullptr;
    try {
        sender = new FileSender(*form.MSComm1, fd, &form);
    } catch (const std::system_error &e) {
        MsgBox(&form, Texts::kSendFileUnreadable.arg(name, Texts::systemReason(e.code().value())), Texts::kProgramTitle,
            QMessageBox::Warning);
        return;
    }
    auto *dialog = new QProgressDialog(
        Texts::kSendingFile.arg(name, Texts::count(size)), Texts::kSendFileCancel, 0, kProgressSteps, &form);
    dialog->setObjectName(QStringLiteral("SendFileProgress"));
    dialog->setWindowTitle(Texts::kSendFileTitle);
    dialog->setAccessibleName(Texts::kSendFileTitle);
    // Not modal: a modal progress dialog handles events inside every update, in the middle of a write. The
    // window stays usable meanwhile; sends wait for the file (sendingFile).
    dialog->setWindowModality(Qt::NonModal);
    dialog->setMinimumDuration(500);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    QObject::connect(dialog, &QProgressDialog::canceled, sender, &FileSender::cancel);
    QObject::connect(sender, &FileSender::progress, &form, [&form, sender, dialog, size](qint64 bytes) {
        form.Label11->setText(addToCounter(form.Label11->text(), bytes));
        dialog->setValue(size > 0 ? static_cast<int>(sender->written() * kProgressSteps / size) : kProgressSteps);
    });
    QObject::connect(
        sender, &FileSender::finished, &form, [&form, sender, dialog, name, size](FileSender::Outcome outcome) {
            const QString text = outcomeText(*sender, outcome, name, size);
            dialog->hide();
            dialog->deleteLater();
            sender->deleteLater();
            if (!text.isEmpty())
                tell(form, text,
                    outcome == FileSender::Outcome::Cancelled ? QMessageBox::Information : QMessageBox::Warning);
        });
    sender->start();
}
