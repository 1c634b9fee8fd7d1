// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QObject;

// Qt's AT-SPI bridge sends a text change with the length of the text the event carries, so a change told
// with only part of its text would reach a screen reader with a wrong length. This sends the AT-SPI
// "object:text-changed" signal itself, on the bridge's own connection and in its form, with the true
// length. False when there is no AT-SPI connection to send it on (another platform, the bus gone).
namespace AccessibleBus {

bool sendTextChanged(QObject *object, bool inserted, int position, int length, const QString &text);

} // namespace AccessibleBus
