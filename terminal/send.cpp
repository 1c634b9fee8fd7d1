#include "terminal/send.h"

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "terminal/counter.h"
#include "terminal/hexformat.h"
#include "window/form1.h"
#include "window/intervaltimer.h"
#include "window/messagebox.h"
#include "window/optionbutton.h"
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

void addToSent(Form1 &form, qint64 amount)
{
    form.Label11->setText(addToCounter(form.Label11->text(), amount));
}

void send(Form1 &form, SendOrigin origin)
{
    MSComm &comm = *form.MSComm1;
    if (form.Option5->Value()) {
        // Hex: one or more bytes, 00 to FF, separated by blanks, all in one write.
        const auto bytes = parseHexBytes(form.Text2->text());
        if (!bytes) {
            refuse(form, origin, Texts::kBadHexBytes, QMessageBox::Warning);
            return;
        }
        if (!comm.PortOpen()) {
            refuse(form, origin, Texts::kOpenThePortFirst, QMessageBox::NoIcon);
            return;
        }
        try {
            comm.setOutput(*bytes);
        } catch (const CommError &) {
            return;
        }
        addToSent(form, bytes->size());
        return;
    }

    const QString text = form.Text2->text();
    if (!comm.PortOpen()) {
        refuse(form, origin, Texts::kOpenThePortFirst, QMessageBox::NoIcon);
        return;
    }
    try {
        comm.setOutput(text);
    } catch (const CommError &) {
        return;
    }
    addToSent(form, text.size());
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
    send(form, SendOrigin::Click);
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
