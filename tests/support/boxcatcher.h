// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

// Watches for message boxes while a test clicks, records what each showed, and presses its OK button.
class BoxCatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QString informative;
        QMessageBox::Icon icon;
    };

    explicit BoxCatcher(QObject *parent = nullptr);

    // While false, boxes are recorded but left open (to test what happens meanwhile).
    void setAutoClose(bool close) { m_autoClose = close; }
    // Presses OK on every box still open.
    void closeAll();

    const QList<Box> &boxes() const { return m_boxes; }

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    QList<QMessageBox *> m_seen;
    bool m_autoClose = true;
};
