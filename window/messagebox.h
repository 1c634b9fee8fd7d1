// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <utility>

// Shows a modal message box with an OK button only and waits until the user dismisses it. Events go on
// being handled meanwhile (receive notifications, timers).
void MsgBox(QWidget *owner, const QString &text, const QString &title, QMessageBox::Icon icon = QMessageBox::NoIcon,
    const QString &informative = {});

// Widens a box until each line of its text and of its informative text fits on one line, up to a bound:
// a narrow box breaks Chinese words and shell commands across lines wherever the width runs out. A
// line longer than the bound still wraps, so long sentences carry their own line breaks.
void fitToText(QMessageBox &box);

// Shows the same box without waiting: the caller goes on at once (a save that ended while the window receives).
// It counts as open until the user dismisses it.
void MsgBoxLater(QWidget *owner, const QString &text, const QString &title,
    QMessageBox::Icon icon = QMessageBox::NoIcon, const QString &informative = {});

// True while a box shown by MsgBox or MsgBoxLater waits for the user.
bool msgBoxOpen();

// Stands in for the user while it exists, so a test sets its answers before the action and never looks for
// windows: every box is recorded as it shows and answered with OK from its own event loop (or held open until
// release()), and the next file dialog answers with the name set here ("" = cancelled). The boxes are the real
// ones, counted as the user's are. One at a time; the program itself never makes one.
class BoxAnswers
{
public:
    struct Box
    {
        QString title;
        QString text;
        QString informative;
        QMessageBox::Icon icon;
    };

    BoxAnswers();
    ~BoxAnswers();
    BoxAnswers(const BoxAnswers &) = delete;
    BoxAnswers &operator=(const BoxAnswers &) = delete;

    // The answer to the next file dialog; without one, a file dialog is cancelled.
    void setNextFileName(const QString &path) { m_fileNames << path; }
    // The file type the next file dialog answers with; without one, its first.
    void setNextFileFilter(const QString &filter) { m_fileFilter = filter; }
    QString takeFileFilter() { return std::exchange(m_fileFilter, QString()); }
    // Runs as each box shows, the box already counted as open and recorded.
    void setWhenShown(std::function<void()> whenShown) { m_whenShown = std::move(whenShown); }
    // Keeps each box open, its caller waiting and events handled as with a user who has not answered yet, until
    // release() (or setHold(false)).
    void setHold(bool hold);
    // Presses OK on every box held open.
    void release();

    const QList<Box> &boxes() const { return m_boxes; }
    // The file dialogs opened so far, with the name each suggested.
    const QStringList &fileDialogs() const { return m_dialogs; }

    // The answers in place, if any.
    static BoxAnswers *current();

    // For the boxes and the file dialog themselves: a box that has just shown, and the answer to a file dialog.
    void shown(QMessageBox *box);
    QString answerFileDialog(const QString &suggested);

private:
    QList<Box> m_boxes;
    QStringList m_fileNames;
    QStringList m_dialogs;
    QString m_fileFilter;
    std::function<void()> m_whenShown;
    bool m_hold = false;
    QList<QPointer<QMessageBox>> m_held;
    BoxAnswers *m_previous;
};
