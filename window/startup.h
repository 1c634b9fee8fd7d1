// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Form1;

// Brings the window into its working state before it is first shown.
void Form_Load(Form1 &form);
