#include "window/startup.h"

#include "port/linesettings.h"
#include "port/mscomm.h"
#include "port/portmap.h"
#include "window/combobox.h"
#include "window/form1.h"
#include "window/optionbutton.h"
#include "window/texts.h"

void Form_Load(Form1 &form)
{
    if (form.MSComm1->PortOpen())
        form.MSComm1->setPortOpen(false);

    for (int n = 1; n <= PortMap::kListedPorts; ++n)
        form.Combo1->AddItem(QStringLiteral("COM%1").arg(n));
    // Raises Combo1's click, which runs to its end here.
    form.Combo1->setListIndex(0);
    form.MSComm1->setCommPort(form.Combo1->ListIndex() + 1);
    form.MSComm1->setSettings(kDefaultLineSettings);

    form.showPortClosed();

    // Raises Option2's click: character display.
    form.Option2->setValue(true);
    form.Option3->setValue(true);

    for (const char *baud :
        { "256000", "128000", "115200", "57600", "38400", "28800", "19200", "9600", "4800", "2400", "1200", "600" })
        form.Combo2->AddItem(QString::fromLatin1(baud));
    for (const QString &parity : { Texts::kParityNone, Texts::kParityOdd, Texts::kParityEven })
        form.Combo3->AddItem(parity);
    for (const char *bits : { "4", "5", "6", "7", "8" })
        form.Combo4->AddItem(QString::fromLatin1(bits));
    for (const char *bits : { "1", "2" })
        form.Combo5->AddItem(QString::fromLatin1(bits));
}
