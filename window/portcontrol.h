// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

// The port's context menu and what the lamp tells of the port.
void FlowControl_Click(Form1 &form); // a flow control mode was chosen
void LineDtr_Click(Form1 &form); // DTR raised or dropped
void LineRts_Click(Form1 &form); // RTS raised or dropped
void AutoReopen_Click(Form1 &form); // reopening a returned adapter switched on or off

// The port's state changed (opened, closed, lost, awaited, its control lines): the menu's items and the lamp's
// tooltip and description follow it.
void MSComm1_PortStateChanged(Form1 &form);
// The adapter that went away is open again: the window shows it open, under the port number it has now.
void MSComm1_PortReturned(Form1 &form);
