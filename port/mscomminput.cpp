// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component's Input: what arrived, as text or bytes, in the pieces the reader thread read.
#include "port/mscomm.h"

#include <algorithm>

namespace {

// Input takes at most this much from the reader at once, so one notification never hands the window more
// than it handles in a few tens of milliseconds (text display takes some 50 MB/s); the rest comes with the next
// frame's. Sixty frames of it are still more than a pty delivers.
constexpr qsizetype kInputBatch = 2 << 20;

} // namespace

void MSComm::setInputLen(int length)
{
    if (length < 0 || length > 32767)
        throw CommError(CommError::InvalidValue, QStringLiteral("InputLen %1 is outside 0 to 32767").arg(length));
    m_inputLen = length;
}

std::variant<QString, QByteArray> MSComm::Input()
{
    auto pieces = InputPieces();
    if (auto *text = std::get_if<QStringList>(&pieces))
        return text->size() == 1 ? text->front() : text->join(QString());
    auto &bytes = std::get<QByteArrayList>(pieces);
    return bytes.size() == 1 ? bytes.front() : bytes.join();
}

std::variant<QStringList, QByteArrayList> MSComm::InputPieces()
{
    if (m_reader) {
        // In text mode the reader thread has decoded what it read; its text serves whenever nothing taken
        // earlier waits here to be joined to it (a lead byte, bytes taken out of order of the reader's
        // reading). Bytes serve as they came whenever nothing waits before them and none is held back.
        // Anything else goes through the bytes waiting here, as before.
        const bool whole = m_inputLen == 0 && !m_marking && m_pending.isEmpty();
        const bool text = m_inputMode == comInputModeText && m_inputLen == 0 && !m_marking;
        std::vector<PortReader::Piece> pieces = m_reader->takePieces(kInputBatch, !text);
        if (text && m_pending.isEmpty()
            && std::all_of(pieces.begin(), pieces.end(), [](const PortReader::Piece &p) { return p.decoded; })) {
            QStringList texts;
            texts.reserve(qsizetype(pieces.size()));
            for (PortReader::Piece &piece : pieces) {
                // The bytes of exactly that text, shared rather than copied.
                if (!piece.bytes.isEmpty())
                    emit inputTaken(piece.bytes);
                if (!piece.text.isEmpty())
                    texts.append(std::move(piece.text));
            }
            return texts;
        }
        if (whole && m_inputMode == comInputModeBinary) {
            QByteArrayList bytes;
            bytes.reserve(qsizetype(pieces.size()));
            for (PortReader::Piece &piece : pieces) {
                if (piece.bytes.isEmpty())
                    continue;
                emit inputTaken(piece.bytes);
                bytes.append(std::move(piece.bytes));
            }
            return bytes;
        }
        for (const PortReader::Piece &piece : pieces)
            takeFromDevice(piece.bytes);
    }

    QByteArray taken;
    if (m_inputLen == 0 || m_pending.size() <= m_inputLen) {
        taken.swap(m_pending);
    } else {
        taken = m_pending.left(m_inputLen);
        m_pending.remove(0, m_inputLen);
    }
    if (m_inputMode == comInputModeBinary) {
        if (taken.isEmpty())
            return QByteArrayList();
        emit inputTaken(taken);
        return QByteArrayList { taken };
    }

    const QByteArray all = taken;
    QString text = m_decoder.take(taken);
    if (taken.size() < all.size())
        emit inputTaken(all.first(all.size() - taken.size()));
    // An incomplete character at the end waits for the rest of its bytes.
    m_pending.prepend(taken);
    if (text.isEmpty())
        return QStringList();
    return QStringList { text };
}
