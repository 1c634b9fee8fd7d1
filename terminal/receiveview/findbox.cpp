// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/findbox.h"

#include "terminal/receiveview/receivearea.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>

namespace {

// A search that ends sooner shows no progress at all.
constexpr int kShowProgressMs = 500;

} // namespace

FindBox::FindBox(ReceiveArea &area)
    : QDialog(area.window(), Qt::Tool)
    , m_area(area)
    , m_finder(area.store(), this)
    , m_text(new QLineEdit(this))
    , m_case(new QCheckBox(Texts::kFindCase, this))
    , m_status(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_cancel(new QPushButton(Texts::kFindCancel, this))
{
    setObjectName(QStringLiteral("FindBox"));
    setWindowTitle(Texts::kFindTitle);
    m_text->setObjectName(QStringLiteral("FindText"));
    m_text->setAccessibleName(Texts::kFindWhat);
    m_case->setObjectName(QStringLiteral("FindCase"));
    m_status->setObjectName(QStringLiteral("FindStatus"));
    m_status->setAccessibleName(Texts::kFindStatusName);
    m_status->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_progress->setObjectName(QStringLiteral("FindProgress"));
    m_progress->setAccessibleName(Texts::kFindProgressName);
    m_progress->setRange(0, 1000);
    m_progress->hide();
    m_cancel->setObjectName(QStringLiteral("FindCancel"));
    m_cancel->setToolTip(Texts::kFindCancelTip);
    m_cancel->setAutoDefault(false);
    m_cancel->hide();
    auto *next = new QPushButton(Texts::kFindNext, this);
    next->setObjectName(QStringLiteral("FindNext"));
    next->setDefault(true);
    auto *previous = new QPushButton(Texts::kFindPrevious, this);
    previous->setObjectName(QStringLiteral("FindPrevious"));
    previous->setAutoDefault(false);
    auto *what = new QLabel(Texts::kFindWhatLabel, this);
    what->setBuddy(m_text);
    auto *layout = new QGridLayout(this);
    layout->addWidget(what, 0, 0);
    layout->addWidget(m_text, 0, 1);
    layout->addWidget(next, 0, 2);
    layout->addWidget(m_case, 1, 1);
    layout->addWidget(previous, 1, 2);
    layout->addWidget(m_status, 2, 0, 1, 3);
    layout->addWidget(m_progress, 3, 0, 1, 2);
    layout->addWidget(m_cancel, 3, 2);
    connect(next, &QPushButton::clicked, this, [this] { find(true); });
    connect(previous, &QPushButton::clicked, this, [this] { find(false); });
    connect(m_cancel, &QPushButton::clicked, this, &FindBox::cancel);
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this, [this] { find(true); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this, [this] { find(false); });
    connect(&m_finder, &Finder::found, this, &FindBox::onFound);
    connect(&m_finder, &Finder::notFound, this, [this] {
        endProgress();
        say(Texts::kFindNotFound.arg(m_text->text()));
    });
    connect(&m_finder, &Finder::failed, this, [this] {
        endProgress();
        say(Texts::kFindFailed.arg(Texts::systemReason(ENOMEM)));
    });
    connect(&m_finder, &Finder::progressed, this, [this](qint64 done, qint64 total) {
        m_progress->setValue(total > 0 ? int(std::clamp<qint64>(done * 1000 / total, 0, 1000)) : 0);
    });
}

void FindBox::find(bool forward)
{
    if (m_text->text().isEmpty())
        return;
    const bool hex = m_area.showingHex();
    // Next starts one past the current match's start, so overlapping matches are found; previous before it.
    const qint64 from = m_area.selectionStart() != m_area.selectionEnd()
        ? (forward ? m_area.selectionStart() + 1 : m_area.selectionStart())
        : m_area.cursorPosition();
    endProgress();
    if (!m_finder.start(
            m_text->text(), hex, m_case->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive, from, forward, true)) {
        say(Texts::kFindBadHex);
        return;
    }
    say(Texts::kFindSearching);
    m_progress->setValue(0);
    m_showProgress.start(kShowProgressMs, this);
}

void FindBox::cancel()
{
    if (!m_finder.running())
        return;
    m_finder.cancel();
    const bool cancelFocused = m_cancel->hasFocus();
    endProgress();
    say(Texts::kFindCancelled);
    if (cancelFocused)
        m_text->setFocus();
}

// Esc stops a running search first; once nothing runs, it closes the box.
void FindBox::reject()
{
    if (m_finder.running())
        return cancel();
    QDialog::reject();
}

void FindBox::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_showProgress.timerId())
        return QDialog::timerEvent(event);
    m_showProgress.stop();
    if (!m_finder.running())
        return;
    m_progress->show();
    m_cancel->show();
}

void FindBox::onFound(qint64 from, qint64 to, qint64 line, bool wrapped)
{
    endProgress();
    const QString where = QString::number(line);
    say(wrapped ? (m_finder.forward() ? Texts::kFindWrappedToStart : Texts::kFindWrappedToEnd).arg(where)
                : Texts::kFindFound.arg(where));
    m_area.setSelection(from, to);
}

// The status line's text is also its accessible name: a screen reader hears each new status as it comes.
void FindBox::say(const QString &status)
{
    m_status->setText(status);
    m_status->setAccessibleName(status.isEmpty() ? Texts::kFindStatusName : status);
}

void FindBox::endProgress()
{
    m_showProgress.stop();
    m_progress->hide();
    m_cancel->hide();
}

void ReceiveArea::openFind()
{
    if (!m_findBox)
        m_findBox = new FindBox(*this);
    // Just below the window, or just above it, where the screen has room, so that neither the newest rows
    // nor the match scrolled into view lie under the box; else over the top of the area, where the newest
    // rows stay in sight.
    m_findBox->adjustSize();
    const QRect frame = window()->frameGeometry();
    const QRect screen = window()->screen()->availableGeometry();
    const int height = m_findBox->frameGeometry().height();
    const int right = mapToGlobal(QPoint(width(), 0)).x();
    const int x = std::clamp(right - m_findBox->frameGeometry().width(), screen.left(), screen.right());
    if (frame.bottom() + height < screen.bottom())
        m_findBox->move(x, frame.bottom() + 1);
    else if (frame.top() - height > screen.top())
        m_findBox->move(x, frame.top() - height);
    else
        m_findBox->move(mapToGlobal(QPoint(std::max(0, width() - m_findBox->width()), 0)));
    m_findBox->show();
    m_findBox->raise();
    m_findBox->activateWindow();
    if (auto *text = m_findBox->findChild<QLineEdit *>(QStringLiteral("FindText"))) {
        text->setFocus();
        text->selectAll();
    }
}
