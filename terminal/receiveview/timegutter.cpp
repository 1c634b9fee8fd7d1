// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/timegutter.h"

#include "terminal/receiveview/receivearea.h"
#include "window/texts.h"

#include <QActionGroup>
#include <QMenu>
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

// --- The receive area's side of the margin ---------------------------------------------------------------

void ReceiveArea::setTimesShown(bool shown)
{
    if (shown == timesShown())
        return;
    if (shown) {
        m_gutter = new TimeGutter(this, m_stampFormat);
        m_gutter->show();
    } else {
        delete m_gutter;
        m_gutter = nullptr;
    }
    placeGutter();
}

void ReceiveArea::setStampFormat(StampFormat format)
{
    m_stampFormat = format;
    if (m_gutter) {
        m_gutter->setFormat(format);
        placeGutter();
    }
}

// The text narrows by the margin's width; the layout, hit testing and the rest stay in the viewport's
// coordinates.
void ReceiveArea::placeGutter()
{
    const int width = m_gutter ? m_gutter->preferredWidth() : 0;
    if (viewportMargins().left() != width)
        setViewportMargins(width, 0, 0, 0);
    if (m_gutter)
        m_gutter->setGeometry(QRect(contentsRect().topLeft(), QSize(width, contentsRect().height())));
    syncGeometry();
    viewport()->update();
}

void ReceiveArea::setIdleGap(qint64 ms)
{
    m_layout.setIdleBreaks(&m_lineTimes, std::max<qint64>(ms, 0));
    viewport()->update();
    if (m_gutter)
        m_gutter->update();
}

void ReceiveArea::addTimeActions(QMenu &menu)
{
    QAction *shown = menu.addAction(Texts::kMenuTimesShown, this, [this](bool on) { setTimesShown(on); });
    shown->setCheckable(true);
    shown->setChecked(timesShown());
    QMenu *formats = menu.addMenu(Texts::kMenuStampFormat);
    auto *group = new QActionGroup(formats);
    const std::pair<QString, StampFormat> choices[] = {
        { Texts::kMenuStampClock, StampFormat::Clock },
        { Texts::kMenuStampDate, StampFormat::DateAndClock },
        { Texts::kMenuStampSincePrevious, StampFormat::SincePrevious },
    };
    for (const auto &[text, format] : choices) {
        QAction *action = formats->addAction(text, this, [this, format = format] { setStampFormat(format); });
        action->setCheckable(true);
        action->setChecked(format == m_stampFormat);
        group->addAction(action);
    }
    // The pauses kept are kRunGapMs or longer: a shorter gap would break no more rows than that.
    QMenu *gaps = menu.addMenu(Texts::kMenuIdleGap);
    gaps->setAccessibleName(Texts::kIdleGapName);
    auto *gapGroup = new QActionGroup(gaps);
    const qint64 pauses[] = { 0, LineTimes::kRunGapMs, 50, 100, 200, 500, 1000 };
    for (int i = 0; i < int(std::size(pauses)); ++i) {
        const qint64 ms = pauses[i];
        const QChar key(char16_t(u'A' + i - 1));
        const QString text = ms == 0 ? Texts::kMenuIdleGapNone
            : ms < 1000              ? Texts::kMenuIdleGapMs.arg(ms).arg(key)
                                     : Texts::kMenuIdleGapSecond.arg(key);
        QAction *action = gaps->addAction(text, this, [this, ms] { setIdleGap(ms); });
        action->setCheckable(true);
        action->setChecked(ms == idleGap());
        gapGroup->addAction(action);
    }
}
