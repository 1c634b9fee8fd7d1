// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/shape.h"

#include <QPainter>

Shape::Shape(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void Shape::setFillColor(const QColor &color)
{
    if (color == m_fill)
        return;
    m_fill = color;
    update();
    emit fillColorChanged(m_fill);
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal d = std::min(width(), height()) - 1.0;
    const QRectF circle((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    painter.setPen(QPen(Qt::black, 1.0));
    painter.setBrush(m_fill);
    painter.drawEllipse(circle);
}
