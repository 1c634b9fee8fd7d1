// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "terminal/capture/receivestore.h"
#include "terminal/receiveview/linetimes.h"
#include "terminal/receiveview/receivecursor.h"
#include "terminal/receiveview/receivelayout.h"
#include "terminal/receiveview/receivenotifier.h"
#include "terminal/receiveview/stampformat.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>

#include <functional>

class FindBox;
class RecordWriter;
class TimeGutter;
class QMenu;

// The receive area: multi-line, wrapping at its width, no scroll bars, editable by the user. Received
// data is appended at the end without moving the caret; the view follows the end unless the user has
// scrolled away from it.
//
// The area is cut as a viewer over a long stream is: the store holds the text, the layout lays out the
// rows on screen and keeps the top row, the cursor holds the caret and the selection, the notifier tells
// a screen reader what changed. This widget measures, paints and routes input among them.
class ReceiveArea : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit ReceiveArea(QWidget *parent = nullptr);
    ~ReceiveArea() override;

    QString text() const;
    void setText(const QString &text);
    // Received data, appended exactly; hex is held as bytes and shown as "AB " per byte.
    void appendText(QStringView text);
    void appendHex(QByteArrayView bytes);
    // The same as appending each piece in turn, kept as they stand and told to a reader as one append.
    void appendText(const QStringList &pieces);
    void appendHex(const QByteArrayList &pieces);

    qint64 characterCount() const;
    const ReceiveStore &store() const { return m_store; }
    const ReceiveLayout &layout() const { return m_layout; }
    ReceiveNotifier &notifier() { return m_notifier; }
    const ReceiveNotifier &notifier() const { return m_notifier; }
    QString textBetween(qint64 from, qint64 to) const;
    void setMaximumCharacters(qint64 characters);

    // The caret, the selection and edits, as the keyboard, the mouse and a screen reader reach them.
    qint64 cursorPosition() const { return m_cursor.position(); }
    qint64 selectionStart() const { return m_cursor.selectionStart(); }
    qint64 selectionEnd() const { return m_cursor.selectionEnd(); }
    void setSelection(qint64 anchor, qint64 caret);
    void replace(qint64 from, qint64 to, QStringView text);
    // Recording what arrives to a file, appended to what it holds: the bytes as they came from the port
    // (recordReceived), or the text as the area shows it, as UTF-8. It goes on until stopped, whatever
    // happens to the port or to the area's text. startRecording gives the system's error number when the
    // file cannot be opened, else 0.
    enum class RecordFormat { Raw, Shown, ShownWithTimes };
    int startRecording(const QString &path, RecordFormat format);
    void stopRecording();
    bool recording() const { return m_record != nullptr; }
    void recordReceived(const QByteArray &bytes);
    // Whether the newest data arrived in hex display.
    bool showingHex() const { return m_showingHex; }
    // Opens the find box (Ctrl+F); F3 and Shift+F3 find again from the area.
    void openFind();

    // When each line began to arrive, and the margin that shows it (off at every start).
    const LineTimes &lineTimes() const { return m_lineTimes; }
    void setTimesShown(bool shown);
    bool timesShown() const { return m_gutter != nullptr; }
    void setStampFormat(StampFormat format);
    StampFormat stampFormat() const { return m_stampFormat; }
    // In hex display, a run of bytes that came after the line was idle for at least `ms` starts on a row
    // of its own (0, at every start: none does). Display only, as the margin is.
    void setIdleGap(qint64 ms);
    qint64 idleGap() const { return m_layout.idleGapMs(); }
    // Milliseconds since the epoch; tests set a clock of their own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // In viewport coordinates; an empty rectangle for a character off screen.
    QRect characterRect(qint64 position) const;
    // The position nearest to a point in viewport coordinates.
    qint64 positionAt(QPointF point) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    // One received piece into the store (and the record), without telling anyone yet; how many characters
    // made way at the start.
    qint64 keep(QStringView text);
    qint64 keep(QByteArrayView bytes);
    template <typename Pieces> void keepAll(const Pieces &pieces);
    void afterAppend(qint64 dropped);
    void moveCaret(qint64 position, bool select);
    void caretMoved(bool selectionChanged);
    void insertAtCaret(QStringView text);
    bool moveByKey(QKeyEvent *event);
    // False when there was nothing to copy or the selection is too large for the clipboard.
    bool copy();
    void cut();
    void paste();
    void pasteSelection(QPointF at);
    void restartBlink();
    void syncGeometry();
    void askToRecord();
    // What is about to be appended at `at`, as shown (with times, when so chosen), to the record.
    void recordShown(QStringView shown, qint64 at);
    // The tooltip and accessible description: where the capture lives when that is worth saying, and where
    // it is recorded to.
    void showNotices();
    void addTimeActions(QMenu &menu);
    void placeGutter();

    ReceiveStore m_store;
    ReceiveLayout m_layout { m_store };
    ReceiveCursor m_cursor { m_store };
    ReceiveNotifier m_notifier { this, m_store };
    QString m_preedit;
    int m_preeditCursor = 0;
    bool m_caretShown = false;
    QBasicTimer m_blink;
    QBasicTimer m_paintTimer;
    QBasicTimer m_primaryTimer;
    // Running for a double-click interval after a double click: a press close by within it selects the line.
    QBasicTimer m_tripleClickTimer;
    QPointF m_doubleClickAt;
    int m_wheelDelta = 0;
    QString m_captureNotice;
    RecordWriter *m_record = nullptr; // a child; once stopped it goes by itself
    RecordFormat m_recordFormat = RecordFormat::Raw;
    QString m_recordPath;
    QChar m_recordLast; // the last character recorded as shown
    bool m_showingHex = false; // the newest data arrived in hex display
    FindBox *m_findBox = nullptr; // a child, made when first asked for
    LineTimes m_lineTimes;
    std::function<qint64()> m_clock;
    TimeGutter *m_gutter = nullptr; // a child while the times are shown
    StampFormat m_stampFormat = StampFormat::Clock;
};
