// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/commands.h"

#include "port/commerror.h"
#include "port/mscomm.h"
#include "terminal/receiveview/receivearea.h"
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
    switch (error.code()) {
    case CommError::PortInvalid:
        return Texts::kReasonNoDevice.arg(comm.CommPort());
    case CommError::PermissionDenied:
        return Texts::kReasonPermission.arg(device);
    case CommError::DeviceBusy:
        return Texts::kReasonBusy.arg(device);
    case CommError::SettingsRefused:
        return Texts::kReasonSettings.arg(
            device, comm.lineSettings().toString(), Texts::errorNumber(error.systemError(), error.portError()));
    default:
        // The system's reason in Chinese, then its number for a search or a bug report.
        return Texts::kReasonOther.arg(device.isEmpty() ? Texts::kPortName.arg(comm.CommPort()) : device,
            (error.systemError() != 0 ? Texts::kReasonWhy.arg(Texts::systemReason(error.systemError())) : QString())
                + Texts::errorNumber(error.systemError(), error.portError()));
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
