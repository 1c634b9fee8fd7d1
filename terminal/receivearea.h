#pragma once

#include <QPlainTextEdit>

// The receive area: multi-line, wrapping at its width, no scroll bars, editable by the user. Received
// data is appended at the end without moving the caret; the view follows the end only while the user
// has not scrolled away from it.
class ReceiveArea : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveArea(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

    // The same as setText(text() + more), without copying what is already there.
    void appendText(const QString &more);
};
