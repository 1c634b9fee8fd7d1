// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <memory>
#include <optional>

// Reads a file in slices on a thread of its own, a couple of slices ahead of whoever takes them, so a slow
// disk holds up the sending and never the window. Memory stays at a few slices whatever the file's size.
class FileSlices
{
public:
    static constexpr qsizetype kSliceSize = 64 << 10;
    static constexpr int kAhead = 2;

    struct Slice
    {
        QByteArray bytes; // empty at the end of the file or on an error
        int error = 0; // the system's error number when reading failed
    };

    // Takes over `fd` (closed when reading ends, or at once when this throws std::system_error).
    explicit FileSlices(int fd, qsizetype sliceSize = kSliceSize);
    // Returns at once: a read still running ends on the reader's thread, which then closes the file.
    ~FileSlices();
    FileSlices(const FileSlices &) = delete;
    FileSlices &operator=(const FileSlices &) = delete;

    // The next slice, if read; nothing while the reader is still at it.
    std::optional<Slice> take();
    // Readable (an eventfd) when a slice or the end is ready; each take() clears it.
    int notifier() const;

private:
    struct State;
    static void readAll(const std::shared_ptr<State> &state);

    std::shared_ptr<State> m_state;
};
