// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/receiveview/finder.h"

#include <QBasicTimer>
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class ReceiveArea;

// The receive area's find box: a small window of its own at the top of the area, away from the newest rows.
// Text (matching case or not) in character display, bytes written as hex ("0D 0A") in hex display; Enter
// or F3 finds the next match, Shift+F3 the previous one, going on once from the other end; the match is
// selected and scrolled into view, and the status line says on which line. A search that takes longer than
// half a second shows its progress and a Cancel button; Esc cancels it.
class FindBox : public QDialog
{
    Q_OBJECT

public:
    explicit FindBox(ReceiveArea &area);

    void find(bool forward);
    // Stops a running search (the area was cleared, or the user asked).
    void cancel();

protected:
    void reject() override;
    void timerEvent(QTimerEvent *event) override;

private:
    void onFound(qint64 from, qint64 to, qint64 line, bool wrapped);
    void say(const QString &status);
    void endProgress();

    ReceiveArea &m_area;
    Finder m_finder;
    QLineEdit *m_text;
    QCheckBox *m_case;
    QLabel *m_status;
    QProgressBar *m_progress;
    QPushButton *m_cancel;
    QBasicTimer m_showProgress;
};
