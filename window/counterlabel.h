// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

// A counter's label: its caption is the exact number, and the whole number is always shown inside the
// box, in a smaller font where the window's font would cut it. Cutting digits off would show a number
// ten or a hundred times too small with nothing to tell.
class CounterLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    // The font the caption is drawn in: the label's own font, or the largest smaller one in which the
    // whole caption fits the box.
    QFont shownFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
};
