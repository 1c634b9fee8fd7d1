// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/portcontrol.h"

#include "port/commerror.h"
#include "port/mscomm.h"
#include "window/combobox.h"
#include "window/form1.h"
#include "window/messagebox.h"
#include "window/portmenu.h"
#include "window/shape.h"
#include "window/texts.h"

#include <QAction>
#include <QPushButton>
#include <cerrno>
#include <sys/ioctl.h>

namespace {

// A disabled item's reason; an empty one gives the item back its own text as tooltip.
void explain(QAction *action, const QString &why)
{
    action->setToolTip(why);
    action->setStatusTip(why);
}

QString lineState(int bits, int bit)
{
    return (bits & bit) ? Texts::kLineOn : Texts::kLineOff;
}

// What the lamp says in words beyond open or closed.
QString portDescription(const MSComm &comm)
{
    if (comm.PortOpen()) {
        const PortReader::Lines lines = comm.controlLines();
        const QString port = Texts::kPortName.arg(comm.CommPort());
        const QString opened = Texts::kPortOpenTip.arg(port, comm.deviceName());
        if (lines.error != 0)
            return opened + u'\n' + Texts::kNoLines.arg(Texts::systemReason(lines.error));
        const int b = lines.bits;
        return opened + u'\n'
            + Texts::kLinesTip.arg(lineState(b, TIOCM_DTR), lineState(b, TIOCM_RTS), lineState(b, TIOCM_CTS),
                lineState(b, TIOCM_DSR), lineState(b, TIOCM_CD), lineState(b, TIOCM_RI));
    }
    if (comm.lossError() == 0)
        return {};
    const QString reason = comm.lossError() == EIO ? Texts::kHungUp : Texts::systemReason(comm.lossError());
    QString lost = Texts::kPortLostTip.arg(comm.lostDevice(), reason);
    if (comm.waitingForReturn())
        lost += u'\n' + Texts::kWaitingForReturn;
    else if (comm.reopenOnReturn() && !comm.recognisable())
        lost += u'\n' + Texts::kNoReturn;
    return lost;
}

void refused(Form1 &form, const QString &text, const CommError &error)
{
    MsgBox(&form, text.arg(Texts::systemReason(error.systemError() != 0 ? error.systemError() : EINVAL)),
        Texts::kPortErrorTitle, QMessageBox::Warning);
}

} // namespace

void FlowControl_Click(Form1 &form)
{
    const PortMenu &menu = *form.PortMenu1;
    const MSComm::HandshakeConstants mode = menu.FlowRtsCts->isChecked() ? MSComm::comRTS
        : menu.FlowXonXoff->isChecked()                                  ? MSComm::comXOnXoff
                                                                         : MSComm::comNone;
    try {
        form.MSComm1->setHandshaking(mode);
    } catch (const CommError &error) {
        // The menu shows the mode the port kept.
        MSComm1_PortStateChanged(form);
        refused(form, Texts::kFlowRefused, error);
    }
}

void LineDtr_Click(Form1 &form)
{
    try {
        form.MSComm1->setDTREnable(form.PortMenu1->LineDtr->isChecked());
    } catch (const CommError &error) {
        MSComm1_PortStateChanged(form);
        refused(form, Texts::kLineRefused, error);
    }
}

void LineRts_Click(Form1 &form)
{
    try {
        form.MSComm1->setRTSEnable(form.PortMenu1->LineRts->isChecked());
    } catch (const CommError &error) {
        MSComm1_PortStateChanged(form);
        refused(form, Texts::kLineRefused, error);
    }
}

void AutoReopen_Click(Form1 &form)
{
    form.MSComm1->setReopenOnReturn(form.PortMenu1->AutoReopen->isChecked());
}

void MSComm1_PortStateChanged(Form1 &form)
{
    const MSComm &comm = *form.MSComm1;
    PortMenu &menu = *form.PortMenu1;
    const MSComm::HandshakeConstants mode = comm.Handshaking();
    menu.FlowNone->setChecked(mode == MSComm::comNone);
    menu.FlowRtsCts->setChecked(mode == MSComm::comRTS);
    menu.FlowXonXoff->setChecked(mode == MSComm::comXOnXoff);
    menu.AutoReopen->setChecked(comm.reopenOnReturn());

    const PortReader::Lines lines = comm.controlLines();
    const QString noLines = !comm.PortOpen() ? Texts::kLinesNeedOpenPort
        : lines.error != 0                   ? Texts::kNoLines.arg(Texts::systemReason(lines.error))
                                             : QString();
    menu.LineDtr->setEnabled(noLines.isEmpty());
    menu.LineDtr->setChecked(lines.bits & TIOCM_DTR);
    explain(menu.LineDtr, noLines);
    const QString rtsWhy = noLines.isEmpty() && mode == MSComm::comRTS ? Texts::kRtsByFlowControl : noLines;
    menu.LineRts->setEnabled(rtsWhy.isEmpty());
    menu.LineRts->setChecked(lines.bits & TIOCM_RTS);
    explain(menu.LineRts, rtsWhy);

    // A screen reader hears a new description once; the same text set again would be told again.
    const QString description = portDescription(comm);
    form.Shape1->setToolTip(description);
    form.Command5->setToolTip(description);
    if (form.Shape1->accessibleDescription() != description)
        form.Shape1->setAccessibleDescription(description);
}

void MSComm1_PortReturned(Form1 &form)
{
    // Shown without raising the list's click: choosing a port from the list closes the open one.
    form.Combo1->setCurrentIndex(form.MSComm1->CommPort() - 1);
    form.showPortOpen();
}
