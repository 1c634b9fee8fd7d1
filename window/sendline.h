// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QClipboard>
#include <QLineEdit>

// The send area: a single-line box that holds kCapacity characters and refuses a paste or drop that would
// not fit whole, raising PasteRefused instead of keeping only the part that fits. Line breaks pasted into
// it are kept as they are and go on the wire unchanged.
class SendLine : public QLineEdit
{
    Q_OBJECT

public:
    static constexpr int kCapacity = 1 << 20;

    explicit SendLine(QWidget *parent = nullptr);

    // The length of the text the last refused paste would have inserted.
    qsizetype refusedLength() const { return m_refusedLength; }

signals:
    void PasteRefused();

protected:
    void keyPressEvent(QKeyEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    bool fits(const QString &incoming);
    void checkedPaste();

    qsizetype m_refusedLength = 0;
};
