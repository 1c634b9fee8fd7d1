// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "window/messagebox.h"

#include <QList>
#include <QMessageBox>
#include <QObject>

// Answers every message box with OK while it exists and records what each showed, through the boxes' own
// stand-in for the user (BoxAnswers): nothing polls.
class BoxCatcher : public QObject
{
    Q_OBJECT

public:
    using Box = BoxAnswers::Box;

    explicit BoxCatcher(QObject *parent = nullptr);

    // While false, a box stays open (its caller waiting, events handled) until closeAll(), to test what happens
    // meanwhile.
    void setAutoClose(bool close) { m_answers.setHold(!close); }
    // Presses OK on every box still open.
    void closeAll() { m_answers.release(); }

    const QList<Box> &boxes() const { return m_answers.boxes(); }
    BoxAnswers &answers() { return m_answers; }

private:
    BoxAnswers m_answers;
};
