// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/fileslices.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>

struct FileSlices::State
{
    ~State()
    {
        if (fd >= 0)
            ::close(fd);
        if (event >= 0)
            ::close(event);
    }

    void signal() const
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(event, &one, sizeof one);
    }

    int fd = -1;
    int event = -1;
    qsizetype sliceSize = 0;
    std::mutex mutex;
    std::condition_variable room;
    std::deque<Slice> ready;
    bool stop = false;
};

void FileSlices::readAll(const std::shared_ptr<State> &state)
{
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            state->room.wait(lock, [&] { return state->stop || state->ready.size() < kAhead; });
            if (state->stop)
                break;
        }
        Slice slice;
        slice.bytes.resize(state->sliceSize);
        qsizetype filled = 0;
        while (filled < slice.bytes.size()) {
            const ssize_t n
                = ::read(state->fd, slice.bytes.data() + filled, static_cast<size_t>(slice.bytes.size() - filled));
            if (n > 0) {
                filled += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                slice.error = errno;
            break;
        }
        // What was read before an error still goes out; the error follows it as a slice of its own.
        const int error = slice.error;
        slice.error = 0;
        slice.bytes.truncate(filled);
        const bool last = filled < state->sliceSize;
        {
            std::lock_guard lock(state->mutex);
            if (!slice.bytes.isEmpty())
                state->ready.push_back(std::move(slice));
            if (last)
                state->ready.push_back(Slice { QByteArray(), error });
        }
        state->signal();
        if (last)
            break;
    }
    ::close(state->fd);
    state->fd = -1;
}

FileSlices::FileSlices(int fd, qsizetype sliceSize)
    : m_state(std::make_shared<State>())
{
    m_state->fd = fd;
    m_state->sliceSize = sliceSize;
    m_state->event = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->event < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    std::thread(readAll, m_state).detach();
}

FileSlices::~FileSlices()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->room.notify_all();
}

std::optional<FileSlices::Slice> FileSlices::take()
{
    quint64 count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_state->event, &count, sizeof count);
    std::optional<Slice> slice;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->ready.empty())
            return slice;
        slice = std::move(m_state->ready.front());
        m_state->ready.pop_front();
        // Still more ready: the notifier stays readable for the next one.
        if (!m_state->ready.empty())
            m_state->signal();
    }
    m_state->room.notify_all();
    return slice;
}

int FileSlices::notifier() const
{
    return m_state->event;
}
