// SPDX-License-Identifier: GPL-3.0-or-later
// The receive area's record: the dialog that starts it, the writer that keeps it, and what the area says
// while it runs.
#include "terminal/receiveview/receivearea.h"
#include "terminal/receiveview/recordwriter.h"
#include "terminal/receiveview/savedialog.h"
#include "window/messagebox.h"
#include "window/texts.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

// The folder the last record of this run went to; nothing is kept between runs.
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
void tell(QWidget *parent, const QString &text, const QString &informative)
{
    MsgBoxLater(parent, text, Texts::kRecordTitle, QMessageBox::Warning, informative);
}

} // namespace

void ReceiveArea::askToRecord()
{
    const QString name
        = Texts::kRecordDefaultName.arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString path;
    QString filter;
    if (BoxAnswers *answers = BoxAnswers::current()) {
        // A test answers in the user's place, as it does for the save dialog.
        filter = answers->takeFileFilter();
        path = answers->answerFileDialog(QDir(startFolder()).filePath(name));
    } else {
        QFileDialog dialog(this, Texts::kRecordTitle, startFolder());
        dialog.setObjectName(QStringLiteral("RecordDialog"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        // The record is appended to a file that exists: nothing is replaced, so there is nothing to confirm.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setLabelText(QFileDialog::Accept, Texts::kRecordAccept);
        dialog.setNameFilters({ Texts::kRecordFilterRaw, Texts::kRecordFilterShown, Texts::kRecordFilterShownTimes });
        dialog.selectFile(name);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().constFirst();
            filter = dialog.selectedNameFilter();
        }
    }
    if (path.isEmpty())
        return;
    lastFolder() = QFileInfo(path).absolutePath();
    const RecordFormat format = filter == Texts::kRecordFilterShown ? RecordFormat::Shown
        : filter == Texts::kRecordFilterShownTimes                  ? RecordFormat::ShownWithTimes
                                                                    : RecordFormat::Raw;
    if (const int error = startRecording(path, format); error != 0)
        tell(this, Texts::kRecordNotStarted.arg(QDir::toNativeSeparators(path)),
            Texts::kRecordReason.arg(Texts::systemReason(error)));
}

int ReceiveArea::startRecording(const QString &path, RecordFormat format)
{
    stopRecording();
    auto *writer = new RecordWriter(this);
    if (const int error = writer->open(path); error != 0) {
        delete writer;
        return error;
    }
    connect(writer, &RecordWriter::failed, this,
        [this, writer, shown = QDir::toNativeSeparators(path)](RecordWriter::Failure failure, int error) {
            if (writer == m_record)
                stopRecording();
            const QString reason
                = failure == RecordWriter::FellBehind ? Texts::kRecordFellBehind : Texts::systemReason(error);
            tell(this, Texts::kRecordStopped.arg(shown), Texts::kRecordKept.arg(reason));
        });
    m_record = writer;
    m_recordFormat = format;
    m_recordLast = QChar();
    m_recordPath = QFileInfo(path).absoluteFilePath();
    showNotices();
    return 0;
}

void ReceiveArea::stopRecording()
{
    if (!m_record)
        return;
    // The writer ends on its own thread and goes once the file is closed; the window does not wait for it.
    RecordWriter *writer = m_record;
    m_record = nullptr;
    connect(writer, &RecordWriter::finished, writer, &QObject::deleteLater);
    writer->finish();
    showNotices();
}

void ReceiveArea::recordReceived(const QByteArray &bytes)
{
    if (m_record && m_recordFormat == RecordFormat::Raw)
        m_record->append(bytes);
}

void ReceiveArea::recordShown(QStringView shown, qint64 at)
{
    if (m_recordFormat == RecordFormat::ShownWithTimes) {
        m_record->append(m_lineTimes.stamped(shown, at, StampFormat::DateAndClock, m_recordLast).toUtf8());
    } else {
        m_record->append(shown.toUtf8());
    }
}

void ReceiveArea::showNotices()
{
    QStringList notices;
    if (!m_captureNotice.isEmpty())
        notices << m_captureNotice;
    if (m_record)
        notices << (m_recordFormat == RecordFormat::Raw ? Texts::kRecordingRaw
                : m_recordFormat == RecordFormat::Shown ? Texts::kRecordingShown
                                                        : Texts::kRecordingShownTimes)
                       .arg(QDir::toNativeSeparators(m_recordPath));
    const QString notice = notices.join(u'\n');
    setToolTip(notice);
    setAccessibleDescription(notice);
}
