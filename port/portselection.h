// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

void Combo1_Click(Form1 &form); // a port was chosen from the list
void Timer1_Timer(Form1 &form); // writes the line settings from the selection boxes
