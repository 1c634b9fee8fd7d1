// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/timegutter.h"

#include "terminal/receiveview/receivearea.h"
#include "window/texts.h"

#include <QPainter>
#include <QTextLayout>

namespace {

constexpr int kPadding = 4;

} // namespace

TimeGutter::TimeGutter(ReceiveArea *area, StampFormat format)
    : QWidget(area)
    , m_area(area)
    , m_format(format)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(Texts::kTimeGutter);
}

void TimeGutter::setFormat(StampFormat format)
{
    m_format = format;
    update();
}

int TimeGutter::preferredWidth() const
{
    return fontMetrics().horizontalAdvance(widestStamp(m_format)) + 2 * kPadding;
}

void TimeGutter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().brush(QPalette::Window));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.setFont(m_area->font());
    const qint64 origin = m_area->store().origin();
    const QRect viewport = m_area->viewport()->geometry();
    const int offset = viewport.top() - geometry().top();
    for (const ReceiveLayout::ScreenRow &row : m_area->layout().screenRows()) {
        const QTextLine line = row.layout->lineAt(row.row);
        const qint64 from = row.segment.start + line.textStart();
        const qint64 to = std::min(from + line.textLength(), row.segment.end);
        // A wrapped line shows its time on its first row only: its other rows hold no line start.
        const std::optional<ArrivalTimes::Stamp> stamp = m_area->lineTimes().firstIn(from + origin, to + origin);
        if (!stamp)
            continue;
        const QRectF place(0, row.top + offset, width() - kPadding, line.height());
        painter.drawText(place, Qt::AlignRight | Qt::AlignVCenter, formatStamp(*stamp, m_format));
    }
}
