#pragma once

#include <QByteArrayView>
#include <QPlainTextEdit>

class QTextBlock;

// The receive area: multi-line, wrapping at its width, no scroll bars, editable by the user. Received
// data is appended at the end without moving the caret; the view follows the end only while the user
// has not scrolled away from it.
//
// Received data often has no line break at all (a hex dump never has one), and a text widget lays out
// a whole paragraph again whenever it changes, so one growing paragraph gets slower with every byte.
// The area therefore cuts long paragraphs into blocks where their lines wrap anyway: the screen looks
// the same, and an append only lays out the last line and the new data. Each block records what
// separates it from the one before (nothing, LF, CR, CR LF, ...), so the text read back, copied or
// pasted is exactly what was received or typed.
class ReceiveArea : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveArea(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

    // The same as setText(text() + more), without copying what is already there.
    void appendText(const QString &more);

    // Received bytes shown in hex: each as two digits and a blank ("0A FF ").
    void appendHex(QByteArrayView bytes);

    // The length of text(); this area has to read its text to tell (0 at once when empty).
    qint64 characterCount() const;

    // The text between two document positions, as the reader sees it.
    QString textBetween(int from, int to) const;

    // The area keeps at most this many characters, a line break counting as one (kMaxCharacters unless
    // set): past it, received data pushes the oldest lines out. The text document counts in 32-bit
    // positions and takes 2 to 7 bytes a character, so an area that grew without end would break after
    // hours of fast data (minutes of a hex flood).
    static constexpr int kMaxCharacters = 1 << 29;
    void setMaximumCharacters(int characters);

protected:
    QMimeData *createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void insertExact(QTextCursor &cursor, QStringView text);
    void splitLongBlocks(QTextBlock block);
    QList<int> layoutLineStarts(const QString &text) const;
    int hexTokensPerLine();
    static bool isHexTokens(QStringView text);
    void forgetLayoutsAbove();
    int dropOldest();

    qreal m_wrapWidth = 0;
    // Blocks before this number have had their layout forgotten (see forgetLayoutsAbove).
    int m_laidOutFrom = 0;
    int m_maxCharacters = kMaxCharacters;
    // How many hex tokens ("AB ") fill a line at m_hexWidth in m_hexFont; 0 when they differ in width.
    qreal m_hexWidth = -1;
    QFont m_hexFont;
    int m_hexPerLine = 0;
};
