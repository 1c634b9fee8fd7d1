// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/send.h"

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "terminal/sendfile.h"
#include "window/form1.h"
#include "window/intervaltimer.h"
#include "window/messagebox.h"
#include "window/optionbutton.h"
#include "window/sendline.h"
#include "window/texts.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

enum class SendOrigin { Click, AutoSend };

void stopAutoSend(Form1 &form)
{
    form.Command7->setText(Texts::kAutoSend);
    form.Timer2->setEnabled(false);
}

// A send that cannot go tells the user once. From auto-send it also switches auto-send off first: with a
// short period a box after every tick would leave the user no moment to reach any button.
void refuse(Form1 &form, SendOrigin origin, const QString &text, QMessageBox::Icon icon)
{
    if (origin == SendOrigin::AutoSend)
        stopAutoSend(form);
    MsgBox(&form, text, Texts::kProgramTitle, icon);
}

bool autoSendSkipping = false; // the last auto-send tick failed and was logged

// The tail every send shares once its bytes (or text) and its amount are known: the port must be open, the
// data goes to the port whole or not at all, and only data handed over is counted.
template <typename Data> bool transmit(Form1 &form, SendOrigin origin, const Data &data, qint64 amount)
{
    if (!form.MSComm1->PortOpen()) {
        refuse(form, origin, Texts::kOpenThePortFirst, QMessageBox::NoIcon);
        return false;
    }
    // A file going out keeps the line to itself; an auto-send tick meanwhile is skipped, as when the queue is full.
    if (sendingFile(form)) {
        if (origin == SendOrigin::Click)
            MsgBox(&form, Texts::kSendFileBusy, Texts::kProgramTitle, QMessageBox::Warning);
        return false;
    }
    try {
        form.MSComm1->setOutput(data);
    } catch (const CommError &e) {
        if (origin == SendOrigin::Click) {
            MsgBox(&form, e.code() == CommError::OutputFull ? Texts::kOutputBusy : Texts::kSendFailed,
                Texts::kProgramTitle, QMessageBox::Warning);
            return false;
        }
        // An auto-send tick fails without a box. A full queue means the line is slower than the period: the
        // tick is skipped and the queue drains meanwhile, so a later tick sends again. A write error means
        // the device is going away: the loss handler closes the port and the next tick asks to open it.
        // Only the first of a run of skipped ticks is logged, or a short period would flood the log.
        if (!autoSendSkipping)
            qWarning("Auto-send skipped (error %d): %s", e.code(), qPrintable(e.message()));
        autoSendSkipping = true;
        return false;
    }
    autoSendSkipping = false;
    form.Label11->setText(addToCounter(form.Label11->text(), amount));
    return true;
}

bool send(Form1 &form, SendOrigin origin)
{
    if (!form.Option5->Value()) {
        // The line end goes out with the text in the same write, so a send stays whole or nothing.
        const QString text = form.Text2->text() + form.Text2->lineEnd();
        return transmit(form, origin, text, text.size());
    }
    // Hex: one or more bytes, 00 to FF, separated by blanks, all in one write.
    const auto bytes = parseHexBytes(form.Text2->text());
    if (!bytes) {
        refuse(form, origin, Texts::kBadHexBytes, QMessageBox::Warning);
        return false;
    }
    return transmit(form, origin, *bytes, bytes->size());
}

// A whole number of milliseconds a timer can take; blanks around it are ignored.
std::optional<int> parsePeriod(const QString &text)
{
    const auto value = parsePlainDigits(QStringView(text).trimmed());
    if (!value || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace

void Command6_Click(Form1 &form)
{
    // Only sends by hand go into the history: auto-send repeats one text.
    if (send(form, SendOrigin::Click))
        form.Text2->remember(form.Text2->text());
}

void Command7_Click(Form1 &form)
{
    // The caption is the auto-send state by design; no member keeps a second copy of it.
    if (form.Command7->text() != Texts::kAutoSend) {
        stopAutoSend(form);
        return;
    }
    const auto period = parsePeriod(form.Text3->text());
    if (!period) {
        MsgBox(&form, Texts::kBadPeriod, Texts::kProgramTitle, QMessageBox::Warning);
        return;
    }
    form.Command7->setText(Texts::kStopAutoSend);
    form.Timer2->setInterval(*period);
    form.Timer2->setEnabled(true);
}

void Timer2_Timer(Form1 &form)
{
    // Ticks that fall due while a box waits for the user are dropped, so boxes never stack.
    if (msgBoxOpen())
        return;
    send(form, SendOrigin::AutoSend);
}

void Text3_Change(Form1 &) { }

void Text2_PasteRefused(Form1 &form)
{
    MsgBox(&form,
        Texts::kPasteTooLong.arg(Texts::count(form.Text2->refusedLength()), Texts::count(form.Text2->maxLength())),
        Texts::kProgramTitle, QMessageBox::Warning);
}
