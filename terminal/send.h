// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

void Command6_Click(Form1 &form); // send the send area once
void Command7_Click(Form1 &form); // switch auto-send on or off
void Timer2_Timer(Form1 &form); // one auto-send
void Text3_Change(Form1 &form); // the period box changed: takes effect at the next switch-on
void Text2_PasteRefused(Form1 &form); // a paste did not fit in the send area and was not made
