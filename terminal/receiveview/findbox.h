// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/receiveview/finder.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class ReceiveArea;

// The receive area's find box: a small window of its own at the top of the area, away from the newest rows.
// Text (matching case or not) in character display, bytes written as hex ("0D 0A") in hex display; Enter
// or F3 finds the next match, Shift+F3 the previous one, and the match is selected and scrolled into view.
class FindBox : public QDialog
{
    Q_OBJECT

public:
    explicit FindBox(ReceiveArea &area);

    void find(bool forward);

private:
    void onFound(qint64 from, qint64 to);
    void onNotFound();
    void endProgress();

    ReceiveArea &m_area;
    Finder m_finder;
    QLineEdit *m_text;
    QCheckBox *m_case;
    QLabel *m_status;
    QProgressDialog *m_progress = nullptr;
};
