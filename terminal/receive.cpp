#include "terminal/receive.h"

#include "port/mscomm.h"
#include "window/form1.h"

void Option1_Click(Form1 &form)
{
    form.MSComm1->setInputMode(MSComm::comInputModeBinary);
}

void Option2_Click(Form1 &form)
{
    form.MSComm1->setInputMode(MSComm::comInputModeText);
}

void MSComm1_OnComm(Form1 &)
{
}
