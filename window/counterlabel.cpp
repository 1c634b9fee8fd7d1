// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/counterlabel.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

qreal advance(const QFont &font, const QString &text, const QWidget *on)
{
    return QFontMetricsF(font, on).horizontalAdvance(text);
}

} // namespace

QFont CounterLabel::shownFont() const
{
    QFont shown = font();
    const QString caption = text();
    const qreal room = contentsRect().width() - 2 * margin();
    if (caption.isEmpty() || room <= 0 || advance(shown, caption, this) <= room)
        return shown;
    // Whole pixel sizes: a text's advance grows with its size but not in proportion (hinting), so the size
    // is found by measuring, from the largest that may fit downwards.
    const qreal full = QFontInfo(shown).pixelSize();
    int size = std::max(1, int(full * room / advance(shown, caption, this)));
    shown.setPixelSize(size);
    while (size > 1 && advance(shown, caption, this) > room)
        shown.setPixelSize(--size);
    return shown;
}

void CounterLabel::paintEvent(QPaintEvent *event)
{
    const QFont shown = shownFont();
    if (shown == font())
        return QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setFont(shown);
    const QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, box, int(alignment()), palette(), isEnabled(), text(), foregroundRole());
}

bool CounterLabel::event(QEvent *event)
{
    // The number in the window's own font, for when the box had to make it small.
    if (event->type() == QEvent::ToolTip) {
        if (shownFont() != font())
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}
