#include "window/commands.h"

#include "port/commerror.h"
#include "port/mscomm.h"
#include "terminal/receivearea.h"
#include "window/form1.h"
#include "window/messagebox.h"
#include "window/sendline.h"
#include "window/texts.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

namespace {

// One line a Linux user can act on, under "端口号不可用".
QString openFailureReason(const MSComm &comm, const CommError &error)
{
    const QString device = comm.deviceName();
    switch (comm.lastOpenFailure()) {
    case MSComm::OpenFailure::NoDevice:
        return Texts::kReasonNoDevice.arg(comm.CommPort());
    case MSComm::OpenFailure::PermissionDenied:
        return Texts::kReasonPermission.arg(device);
    case MSComm::OpenFailure::Busy:
        return Texts::kReasonBusy.arg(device);
    default:
        return Texts::kReasonOther.arg(
            device.isEmpty() ? Texts::kPortName.arg(comm.CommPort()) : device, error.message());
    }
}

} // namespace

void Command1_Click(Form1 &)
{
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://") + Texts::kHomeAddress));
}

void Command3_Click(Form1 &form)
{
    form.Text1->setText(QString());
}

void Command4_Click(Form1 &form)
{
    form.Text2->setText(QString());
}

void Command5_Click(Form1 &form)
{
    try {
        // The caption is the shown port state by design; no member keeps a second copy of it.
        if (form.Command5->text() == Texts::kClosePort) {
            form.MSComm1->setPortOpen(false);
            form.showPortClosed();
        } else {
            form.MSComm1->setPortOpen(true);
            form.showPortOpen();
        }
    } catch (const CommError &error) {
        MsgBox(&form, Texts::kPortUnavailable, Texts::kPortErrorTitle, QMessageBox::Warning,
            openFailureReason(*form.MSComm1, error));
    }
}

void Command8_Click(Form1 &form)
{
    form.Label10->setText(Texts::kZero);
    form.Label11->setText(Texts::kZero);
}

void MSComm1_PortLost(Form1 &form)
{
    form.showPortClosed();
}
