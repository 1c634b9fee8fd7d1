// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/portselection.h"

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "window/combobox.h"
#include "window/form1.h"
#include "window/texts.h"

namespace {

// Combo3's text as a parity letter; anything else as no letter, which the parser refuses.
QString parityLetter(const QString &text)
{
    if (text == Texts::kParityNone)
        return QStringLiteral("N");
    if (text == Texts::kParityOdd)
        return QStringLiteral("O");
    if (text == Texts::kParityEven)
        return QStringLiteral("E");
    return {};
}

// Shows a box's problem (red text, the reason as its tooltip), or clears it. Touches the box only when its
// problem changes: the timer runs ten times a second.
void mark(ComboBox *box, QString &shown, const QString &problem)
{
    if (shown == problem)
        return;
    shown = problem;
    box->setToolTip(problem);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Text, problem.isEmpty() ? QPalette().color(QPalette::Text) : QColor(Qt::red));
    box->setPalette(palette);
}

} // namespace

void Combo1_Click(Form1 &form)
{
    if (form.MSComm1->PortOpen()) {
        form.MSComm1->setPortOpen(false);
        // The port is closed now; showing it open would invite a close that closes nothing.
        form.showPortClosed();
    }
    form.MSComm1->setCommPort(form.Combo1->ListIndex() + 1);
}

void Timer1_Timer(Form1 &form)
{
    MSComm &comm = *form.MSComm1;
    SettingsState &state = form.settingsState;
    // Blanks around a typed number do not count.
    const auto [shown, invalid] = parseLineFields(form.Combo2->text().trimmed(), parityLetter(form.Combo3->text()),
        form.Combo4->text().trimmed(), form.Combo5->text().trimmed());

    if (state.refusal && !comm.PortOpen())
        state.refusal->open = false;
    const auto &refused = state.refusal;
    if (invalid.isEmpty()
        && (!refused || refused->settings != shown || refused->port != comm.CommPort()
            || refused->open != comm.PortOpen())) {
        try {
            comm.setSettings(shown.toString());
            state.refusal.reset();
        } catch (const CommError &error) {
            state.refusal = SettingsState::Refusal { shown, comm.CommPort(), comm.PortOpen(), error };
        }
    }

    // A box is red exactly while what it shows is not what the port has.
    const LineSettings &has = comm.lineSettings();
    const QString notApplied = refused
        ? Texts::kSettingsRefused.arg(Texts::failureReason(refused->error.systemError(), refused->error.portError()))
        : Texts::kSettingsWaiting;
    const struct
    {
        LineField field;
        ComboBox *box;
        const QString &bad;
    } boxes[] = {
        { LineField::Baud, form.Combo2, Texts::kBadBaud },
        { LineField::Parity, form.Combo3, Texts::kBadParity },
        { LineField::DataBits, form.Combo4, Texts::kBadDataBits },
        { LineField::StopBits, form.Combo5, Texts::kBadStopBits },
    };
    for (const auto &[field, box, bad] : boxes) {
        const QString problem = invalid.contains(field) ? bad
            : shown.value(field) == has.value(field)    ? QString()
                                                        : notApplied;
        // Whatever is wrong with the box, the user is told what the port goes on using meanwhile.
        mark(box, state.marks[static_cast<size_t>(field)],
            problem.isEmpty() ? problem : problem + u'\n' + Texts::kSettingsInUse.arg(has.toString()));
    }
}
