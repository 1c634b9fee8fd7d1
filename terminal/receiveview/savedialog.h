// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;
class LineTimes;
class ReceiveStore;

// Asks for a file and saves characters [from, to) of the store to it as the area shows them, with a
// progress dialog that can be cancelled when it takes more than a moment; says how it went when it did
// not go well.
// With offerHexDump (in hex display), the dialog also offers a dump of 16 bytes a row (HexDump); with
// times, the text with the time each line began to arrive before it.
void saveCapture(QWidget *parent, const ReceiveStore &store, qint64 from, qint64 to, bool offerHexDump = false,
    const LineTimes *times = nullptr);

// Copying more than this many characters is refused with a message that points to saving: 16 MiB of
// UTF-16, and more again once the clipboard hands it out as UTF-8.
constexpr qint64 kCopyLimitChars = qint64(8) << 20;
// False, after telling the user why, when the selection is too large to copy.
bool mayCopy(QWidget *parent, qint64 characters);

// Where a file dialog of this run starts: the folder last used for the same purpose while it exists,
// else the documents folder, else home.
QString folderToStartIn(const QString &lastUsed);
