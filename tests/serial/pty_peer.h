// A pseudo-terminal standing in for a reader on a COM port: the test holds the master
// side, the program opens the slave by its path through ZARN60_COM<n>.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/serial_link.h"

namespace serialtest {

class PtyPeer {
public:
    // Maps COM `number` to the slave of a new pseudo-terminal.
    explicit PtyPeer(int number) : m_number(number) {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) return;
        m_path = name;
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        ::setenv(EnvName().c_str(), m_path.c_str(), 1);
    }
    ~PtyPeer() {
        zarn::PortTable::CloseAll();
        ::unsetenv(EnvName().c_str());
        CloseMaster();
        if (m_slave >= 0) ::close(m_slave);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return m_master >= 0 && !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    int Number() const { return m_number; }
    // The slave descriptor openpty gave us: shows the line's settings.
    int SlaveFd() const { return m_slave; }
    std::string EnvName() const { return "ZARN60_COM" + std::to_string(m_number); }

    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    bool Send(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            struct pollfd p = {m_master, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;
        }
        return true;
    }
    bool Send(const std::string& s) { return Send(std::vector<uint8_t>(s.begin(), s.end())); }

    // What the program wrote, until `count` bytes came or nothing came for `quietMs`.
    std::vector<uint8_t> Receive(size_t count, int quietMs = 500) {
        std::vector<uint8_t> got;
        while (got.size() < count) {
            struct pollfd p = {m_master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) break;
            uint8_t buf[4096];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    int m_number;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

inline double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace serialtest
