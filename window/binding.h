// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

class Form1;

// Connects every control event of the window to its handler. The only place that knows both sides.
void bindEvents(Form1 &form);

// Creates the window, binds its events and runs its start-up, ready to be shown.
std::unique_ptr<Form1> createForm1();
