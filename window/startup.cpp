#include "window/startup.h"

#include "port/mscomm.h"
#include "window/combobox.h"
#include "window/form1.h"
#include "window/optionbutton.h"
#include "window/texts.h"

void Form_Load(Form1 &form)
{
    if (form.MSComm1->PortOpen())
        form.MSComm1->setPortOpen(false);

    for (int n = 1; n <= Form1::kPortCount; ++n)
        form.Combo1->AddItem(Texts::kPortName.arg(n));
    // Raises Combo1's click, which runs to its end here.
    form.Combo1->setListIndex(0);
    form.MSComm1->setCommPort(form.Combo1->ListIndex() + 1);
    form.MSComm1->setSettings(QStringLiteral("9600,n,8,1"));

    form.showPortClosed();

    // Raises Option2's click: character display.
    form.Option2->setValue(true);
    form.Option3->setValue(true);

    for (const QString &baud : Texts::kBaudRates)
        form.Combo2->AddItem(baud);
    for (const QString &parity : Texts::kParities)
        form.Combo3->AddItem(parity);
    for (const QString &bits : Texts::kDataBits)
        form.Combo4->AddItem(bits);
    for (const QString &bits : Texts::kStopBits)
        form.Combo5->AddItem(bits);
}
