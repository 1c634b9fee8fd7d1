// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

void Command1_Click(Form1 &form); // open the home web page
void Command3_Click(Form1 &form); // clear the receive area
void Command4_Click(Form1 &form); // clear the send area
void Command5_Click(Form1 &form); // open or close the port
void Command8_Click(Form1 &form); // reset both counters

// The device went away while open: the port is already closed, so show it closed.
void MSComm1_PortLost(Form1 &form);
