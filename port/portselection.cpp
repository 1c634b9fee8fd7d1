#include "port/portselection.h"

#include "port/commerror.h"
#include "port/linesettings.h"
#include "port/mscomm.h"
#include "window/combobox.h"
#include "window/form1.h"
#include "window/texts.h"

#include <optional>

namespace {

// A box's text as the plain decimal number it holds, blanks around it ignored.
std::optional<qint64> readNumber(const QString &text)
{
    return parsePlainDigits(QStringView(text).trimmed());
}

std::optional<QChar> parityLetter(const QString &text)
{
    if (text == Texts::kParityNone)
        return u'N';
    if (text == Texts::kParityOdd)
        return u'O';
    if (text == Texts::kParityEven)
        return u'E';
    return std::nullopt;
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
    const auto parity = parityLetter(form.Combo3->text());
    const auto baud = readNumber(form.Combo2->text());
    const auto dataBits = readNumber(form.Combo4->text());
    const auto stopBits = readNumber(form.Combo5->text());
    const bool baudOk = baud && *baud > 0 && *baud <= std::numeric_limits<qint32>::max();
    const bool dataOk = dataBits && *dataBits >= 5 && *dataBits <= 8;
    const bool stopOk = stopBits && (*stopBits == 1 || *stopBits == 2);

    if (state.refusal && !comm.PortOpen())
        state.refusal->open = false;
    if (parity && baudOk && dataOk && stopOk) {
        const LineSettings shown { static_cast<qint32>(*baud), static_cast<char>(parity->toLatin1()),
            static_cast<int>(*dataBits), static_cast<int>(*stopBits) };
        const auto &refused = state.refusal;
        if (!refused || refused->settings != shown || refused->port != comm.CommPort()
            || refused->open != comm.PortOpen()) {
            try {
                comm.setSettings(shown.toString());
                state.refusal.reset();
            } catch (const CommError &error) {
                state.refusal = SettingsState::Refusal { shown, comm.CommPort(), comm.PortOpen(), error };
            }
        }
    }

    // A box is red exactly while what it shows is not what the port has.
    const LineSettings &has = comm.lineSettings();
    const QString notApplied = state.refusal
        ? Texts::kSettingsRefused.arg(
            Texts::errorNumber(state.refusal->error.systemError(), state.refusal->error.portError()), has.toString())
        : Texts::kSettingsWaiting.arg(has.toString());
    const auto problem = [&](bool usable, const QString &bad, bool applied) {
        return !usable ? bad : applied ? QString() : notApplied;
    };
    mark(form.Combo2, state.marks[0], problem(baudOk, Texts::kBadBaud, baudOk && *baud == has.baud));
    mark(form.Combo3, state.marks[1],
        problem(parity.has_value(), Texts::kBadParity, parity && parity->toLatin1() == has.parity));
    mark(form.Combo4, state.marks[2], problem(dataOk, Texts::kBadDataBits, dataOk && *dataBits == has.dataBits));
    mark(form.Combo5, state.marks[3], problem(stopOk, Texts::kBadStopBits, stopOk && *stopBits == has.stopBits));
}
