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

// Shows which box holds a text the port cannot use (red text, the reason as its tooltip), or clears that.
// Touches the box only when its state changes: the timer runs ten times a second.
void mark(ComboBox *box, const QString &problem)
{
    if (box->toolTip() == problem)
        return;
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
    const auto parity = parityLetter(form.Combo3->text());
    mark(form.Combo3, parity ? QString() : Texts::kBadParity);
    if (!parity)
        return;

    const auto baud = readNumber(form.Combo2->text());
    const auto dataBits = readNumber(form.Combo4->text());
    const auto stopBits = readNumber(form.Combo5->text());
    const bool baudOk = baud && *baud > 0 && *baud <= std::numeric_limits<qint32>::max();
    const bool dataOk = dataBits && *dataBits >= 5 && *dataBits <= 8;
    const bool stopOk = stopBits && (*stopBits == 1 || *stopBits == 2);
    mark(form.Combo4, dataOk ? QString() : Texts::kBadDataBits);
    mark(form.Combo5, stopOk ? QString() : Texts::kBadStopBits);
    if (!baudOk)
        mark(form.Combo2, Texts::kBadBaud);
    else if (form.Combo2->toolTip() == Texts::kBadBaud)
        mark(form.Combo2, QString());
    if (!baudOk || !dataOk || !stopOk)
        return;

    const QString settings = QStringLiteral("%1,%2,%3,%4").arg(*baud).arg(*parity).arg(*dataBits).arg(*stopBits);
    // A string the device refused is not offered again until a box changes.
    if (form.Combo2->property("refusedSettings").toString() == settings)
        return;
    try {
        form.MSComm1->setSettings(settings);
        form.Combo2->setProperty("refusedSettings", QString());
        mark(form.Combo2, QString());
    } catch (const CommError &error) {
        form.Combo2->setProperty("refusedSettings", settings);
        mark(form.Combo2,
            Texts::kSettingsRefused.arg(
                Texts::errorNumber(error.systemError(), error.portError()), form.MSComm1->Settings()));
    }
}
