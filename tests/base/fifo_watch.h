// Tells whether anything opened a FIFO (or any file): inotify reports each open of the
// watched file, and a bare O_PATH reference is no open.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <string>

namespace basetest {

class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0 && ::inotify_add_watch(m_fd, path.c_str(), IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool Valid() const { return m_fd >= 0; }
    // The opens seen since the last call.
    int Opens() {
        int n = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0) return n;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) ++n;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int m_fd = -1;
};

}  // namespace basetest
