// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receive.h"

#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/receiveview/receivearea.h"
#include "window/form1.h"

#include <QLabel>

void Option1_Click(Form1 &form)
{
    form.MSComm1->setInputMode(MSComm::comInputModeBinary);
}

void Option2_Click(Form1 &form)
{
    form.MSComm1->setInputMode(MSComm::comInputModeText);
}

void MSComm1_OnComm(Form1 &form)
{
    MSComm &comm = *form.MSComm1;
    if (comm.CommEvent() != MSComm::comEvReceive)
        return;
    // A disk slower than the line: what arrives stays with the port's reader, which is told again next
    // frame and stops reading at its read-ahead, rather than the window waiting for the disk or holding
    // ever more in memory. A port that was lost hands over its last bytes all the same.
    if (form.Text1->store().behind() && comm.PortOpen()) {
        comm.remindNextFrame();
        return;
    }
    comm.setInputLen(0);
    // Input in the pieces the port read it in, each kept by the area as it stands: the bytes of a flood are
    // copied once on this thread, not joined first.
    const auto input = comm.InputPieces();

    // The mode was read by Input itself: what it returned is what was waiting, in the mode of this moment.
    if (const auto *bytes = std::get_if<QByteArrayList>(&input)) {
        qint64 amount = 0;
        for (const QByteArray &piece : *bytes)
            amount += piece.size();
        form.Label10->setText(addToCounter(form.Label10->text(), amount));
        form.Text1->appendHex(*bytes);
    } else {
        const QStringList &text = std::get<QStringList>(input);
        qint64 amount = 0;
        for (const QString &piece : text)
            amount += piece.size();
        form.Label10->setText(addToCounter(form.Label10->text(), amount));
        form.Text1->appendText(text);
    }
}
