// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/findbox.h"

#include "terminal/receiveview/receivearea.h"
#include "window/texts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>

FindBox::FindBox(ReceiveArea &area)
    : QDialog(area.window(), Qt::Tool)
    , m_area(area)
    , m_finder(area.store(), this)
    , m_text(new QLineEdit(this))
    , m_case(new QCheckBox(Texts::kFindCase, this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("FindBox"));
    setWindowTitle(Texts::kFindTitle);
    m_text->setObjectName(QStringLiteral("FindText"));
    m_text->setAccessibleName(Texts::kFindWhat);
    m_case->setObjectName(QStringLiteral("FindCase"));
    m_status->setObjectName(QStringLiteral("FindStatus"));
    auto *next = new QPushButton(Texts::kFindNext, this);
    next->setObjectName(QStringLiteral("FindNext"));
    next->setDefault(true);
    auto *previous = new QPushButton(Texts::kFindPrevious, this);
    previous->setObjectName(QStringLiteral("FindPrevious"));
    auto *what = new QLabel(Texts::kFindWhatLabel, this);
    what->setBuddy(m_text);
    auto *layout = new QGridLayout(this);
    layout->addWidget(what, 0, 0);
    layout->addWidget(m_text, 0, 1);
    layout->addWidget(next, 0, 2);
    layout->addWidget(m_case, 1, 1);
    layout->addWidget(previous, 1, 2);
    layout->addWidget(m_status, 2, 0, 1, 3);
    connect(next, &QPushButton::clicked, this, [this] { find(true); });
    connect(previous, &QPushButton::clicked, this, [this] { find(false); });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this, [this] { find(true); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this, [this] { find(false); });
    connect(&m_finder, &Finder::found, this, &FindBox::onFound);
    connect(&m_finder, &Finder::notFound, this, &FindBox::onNotFound);
    connect(&m_finder, &Finder::progressed, this, [this](qint64 done, qint64 total) {
        if (m_progress)
            m_progress->setValue(total > 0 ? int(std::min<qint64>(done * 1000 / total, 1000)) : 1000);
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
            m_text->text(), hex, m_case->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive, from, forward)) {
        m_status->setText(Texts::kFindBadHex);
        return;
    }
    m_status->setText(Texts::kFindSearching);
    m_progress = new QProgressDialog(Texts::kFindSearching, Texts::kSaveCancel, 0, 1000, this);
    m_progress->setWindowTitle(Texts::kFindTitle);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, [this] {
        m_finder.cancel();
        m_status->setText(Texts::kFindCancelled);
        endProgress();
    });
}

void FindBox::onFound(qint64 from, qint64 to)
{
    endProgress();
    m_status->setText(Texts::kFindFound);
    m_area.setSelection(from, to);
}

void FindBox::onNotFound()
{
    endProgress();
    m_status->setText(Texts::kFindNotFound.arg(m_text->text()));
}

void FindBox::endProgress()
{
    if (m_progress)
        m_progress->deleteLater();
    m_progress = nullptr;
}

void ReceiveArea::openFind()
{
    if (!m_findBox)
        m_findBox = new FindBox(*this);
    // At the top of the area, so the newest rows stay in sight.
    m_findBox->adjustSize();
    m_findBox->move(mapToGlobal(QPoint(std::max(0, width() - m_findBox->width()), 0)));
    m_findBox->show();
    m_findBox->raise();
    m_findBox->activateWindow();
    if (auto *text = m_findBox->findChild<QLineEdit *>(QStringLiteral("FindText"))) {
        text->setFocus();
        text->selectAll();
    }
}
