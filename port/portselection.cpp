#include "port/portselection.h"

#include "port/mscomm.h"
#include "window/combobox.h"
#include "window/form1.h"

void Combo1_Click(Form1 &form)
{
    if (form.MSComm1->PortOpen())
        form.MSComm1->setPortOpen(false);
    form.MSComm1->setCommPort(form.Combo1->ListIndex() + 1);
}

void Timer1_Timer(Form1 &)
{
}
