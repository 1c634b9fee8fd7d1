#include "terminal/send.h"

#include "window/form1.h"

void Command6_Click(Form1 &)
{
}

void Command7_Click(Form1 &)
{
}

void Timer2_Timer(Form1 &form)
{
    Command6_Click(form);
}

void Text3_Change(Form1 &)
{
}
