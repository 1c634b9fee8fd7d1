// SPDX-License-Identifier: GPL-3.0-or-later
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
        form.Combo1->AddItem(Texts::kPortName.arg(n));
    // Raises Combo1's click, which runs to its end here.
    form.Combo1->setListIndex(0);
    form.MSComm1->setCommPort(form.Combo1->ListIndex() + 1);
    form.MSComm1->setSettings(kDefaultLineSettings);

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
