// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Turns the receive area's hex display ("41 42 0D 0A ...") into a dump of 16 bytes a row with an offset
// column and an ASCII column, as `hexdump -C` writes it:
//   00000000  41 42 0d 0a 00 01 02 03  04 05 06 07 08 09 0a 0b  |AB..............|
// followed by a last line with the number of bytes. Fed a stretch of the area's text in slices of any size
// (a token may be cut between two); memory stays at one row. Anything in the stretch that is not a hex byte
// (text received in character display, or typed) is kept as it stands, on lines of its own between rows.
class HexDump
{
public:
    QByteArray feed(QStringView shown);
    QByteArray finish();

private:
    void takeByte(quint8 byte, QByteArray &out);
    void endRow(QByteArray &out);
    void keepAsText(QStringView text, QByteArray &out);

    qint64 m_offset = 0; // bytes dumped so far
    QByteArray m_row; // at most 16 bytes not yet written
    QString m_token; // the start of a token cut off by the end of a slice ("4", "41")
    bool m_inText = false; // the last thing written was kept text without its line end
};
