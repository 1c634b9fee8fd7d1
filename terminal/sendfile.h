// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;
class QString;
class QWidget;

void Text2_SendFile(Form1 &form); // "send a file" in the send area's menu: pick one and send its bytes raw

// True while a file is going out: other sends wait, or they would land in the middle of the file.
bool sendingFile(const Form1 &form);

// Asks which file to send; "" when the user gives none. Tests put their own answer here.
extern QString (*chooseFileToSend)(QWidget *owner);
