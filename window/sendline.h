// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/sendhistory.h"

#include <QClipboard>
#include <QLineEdit>

class QAction;
class QActionGroup;

// The send area: a single-line box that holds kCapacity characters and refuses a paste or drop that would
// not fit whole, raising PasteRefused instead of keeping only the part that fits. Line breaks pasted into
// it are kept as they are and go on the wire unchanged; the box shows each CR as a small left arrow and
// each LF as a small down arrow where the stock box shows a blank.
//
// Its context menu also holds the line end added to each text send (none at every start) and "send a
// file", which it only announces with SendFile. Up and Down walk through what was sent (see SendHistory).
class SendLine : public QLineEdit
{
    Q_OBJECT

public:
    static constexpr int kCapacity = 1 << 20;

    explicit SendLine(QWidget *parent = nullptr);

    // The length of the text the last refused paste would have inserted.
    qsizetype refusedLength() const { return m_refusedLength; }

    // The characters a text send adds after the send area's text: "", "\r", "\n" or "\r\n".
    QString lineEnd() const;

    // A send of this text went out: it becomes the newest entry of the history.
    void remember(const QString &sent) { m_history.add(sent); }

signals:
    void PasteRefused();
    void SendFile();

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    bool fits(const QString &incoming);
    void checkedPaste();

    qsizetype m_refusedLength = 0;
    QActionGroup *m_lineEnds;
    QAction *m_sendFile;
    SendHistory m_history;
};
