// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/receiveview/stampformat.h"

#include <QWidget>

class ReceiveArea;

// The margin left of the receive area's text that shows when each line began to arrive: on the first row
// of each line (in hex display, of each run of bytes) on screen. Display only: the text, its selection,
// copying and what a screen reader reads stay as they are.
class TimeGutter : public QWidget
{
    Q_OBJECT

public:
    TimeGutter(ReceiveArea *area, StampFormat format);
    void setFormat(StampFormat format);
    StampFormat format() const { return m_format; }
    int preferredWidth() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ReceiveArea *m_area;
    StampFormat m_format;
};
