// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

void Option1_Click(Form1 &form); // show received data as hex
void Option2_Click(Form1 &form); // show received data as text
void MSComm1_OnComm(Form1 &form); // data arrived
