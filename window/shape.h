// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QWidget>

// The status lamp: a circle with a solid fill, its diameter the smaller side of its box, centred.
class Shape : public QWidget
{
    Q_OBJECT

public:
    explicit Shape(QWidget *parent = nullptr);

    QColor FillColor() const { return m_fill; }
    void setFillColor(const QColor &color);

signals:
    // The fill changed: whatever describes the lamp to the user follows it.
    void fillColorChanged(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill = Qt::black;
};
