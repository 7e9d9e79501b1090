// zarn60-sim --serial as a user runs it: the printed path, opened by the real serial
// backend through ZARN60_COM3, in real time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/serial_link.h"

namespace {

class SimProcess {
public:
    // Starts zarn60-sim with these arguments and reads its first line.
    bool Start(std::vector<std::string> args, std::string* line) {
        int out[2];
        if (pipe(out) != 0) return false;
        m_pid = fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int devnull = open("/dev/null", O_WRONLY);
            if (devnull >= 0) dup2(devnull, STDERR_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            static std::string path = ZARN60_SIM_PATH;
            argv.push_back(path.data());
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
        // Generous: the machine may be busy building.
        line->clear();
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return false;
            char c;
            if (read(m_out, &c, 1) != 1) return false;
            if (c == '\n') return true;
            *line += c;
        }
    }
    void Signal(int sig) {
        if (m_pid > 0) kill(m_pid, sig);
    }
    // SIGTERM, then the exit status (or -1).
    int Stop() {
        if (m_pid <= 0) return -1;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~SimProcess() {
        Stop();
        if (m_out >= 0) close(m_out);
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

std::string ReadFor(int port, size_t max, uint32_t timeoutMs) {
    std::string got;
    uint8_t b = 0;
    while (got.size() < max && SerialLink::ReadByte(port, &b, timeoutMs) == 0) {
        got += static_cast<char>(b);
    }
    return got;
}

TEST(SimPty, ServesTheReaderOnThePrintedPathUntilStopped) {
    SimProcess sim;
    std::string line;
    ASSERT_TRUE(sim.Start({"--serial", "--version", "PTY 1.0", "--card", "|777|"}, &line));
    const std::string prefix = "ZARN60_COM3=";
    ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
    const std::string path = line.substr(prefix.size());

    // The real serial backend, told where COM3 is.
    ::setenv("ZARN60_COM3", path.c_str(), 1);
    zarn::PortTable::CloseAll();
    ASSERT_EQ(SerialLink::Open(3, 9600, 8, 0), 0);
    ASSERT_EQ(SerialLink::WriteByte(3, 'V'), 0);
    EXPECT_EQ(ReadFor(3, 100, 500), "PTY 1.0");

    ASSERT_EQ(SerialLink::WriteByte(3, 'S'), 0);
    EXPECT_EQ(ReadFor(3, 56, 850).size(), 56u);

    // A swipe, with automatic output on in the factory configuration.
    sim.Signal(SIGUSR1);
    EXPECT_EQ(ReadFor(3, 100, 500), ";777?\r\n");

    // At another line speed the reader understands nothing.
    ASSERT_EQ(SerialLink::Open(3, 19200, 8, 0), 0);
    ASSERT_EQ(SerialLink::WriteByte(3, 'V'), 0);
    EXPECT_EQ(ReadFor(3, 100, 300), "");
    zarn::PortTable::CloseAll();
    ::unsetenv("ZARN60_COM3");

    // A plain termios open of the printed path works as well.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    ASSERT_EQ(write(fd, "A", 1), 1);
    std::string card;
    while (card.size() < 7) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) break;
        char buf[64];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        card.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    EXPECT_EQ(card, ";777?\r\n");

    EXPECT_EQ(sim.Stop(), 0);
}

// What a new user does: the simulator on COM3, the tool opens COM3, swiped cards arrive
// in the test box through the receive poll.
TEST(SimPty, SwipedCardsArriveInTheToolsTestBox) {
    SimProcess sim;
    std::string line;
    ASSERT_TRUE(sim.Start({"--serial", "--swipe-every", "200", "--card", "|4111=2912|"}, &line));
    const std::string path = line.substr(line.find('=') + 1);

    char scriptPath[] = "/tmp/zarn60-sim-test-XXXXXX";
    const int fd = mkstemp(scriptPath);
    ASSERT_GE(fd, 0);
    const std::string script = "click 1061\ntype 1050 3\nclick 1055\nwait 1500\nget 1052\n";
    ASSERT_EQ(write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    close(fd);
    const std::string command = "ZARN60_COM3='" + path + "' '" + ZARN60_TOOL_PATH + "' --script " +
                                scriptPath + " 2>/dev/null";
    FILE* tool = popen(command.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    std::string output;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tool)) > 0) output.append(buf, n);
    EXPECT_EQ(pclose(tool), 0);
    unlink(scriptPath);
    EXPECT_NE(output.find("text=\";4111=2912?\\r\\n"), std::string::npos) << output;
}

TEST(SimPty, ComNumberAndBadOptions) {
    {
        SimProcess sim;
        std::string line;
        ASSERT_TRUE(sim.Start({"--serial", "--com", "12"}, &line));
        EXPECT_EQ(line.rfind("ZARN60_COM12=/dev/", 0), 0u) << line;
        EXPECT_EQ(sim.Stop(), 0);
    }
    {
        SimProcess sim;
        std::string line;
        // Refused options print nothing on stdout and exit with status 2.
        EXPECT_FALSE(sim.Start({"--serial", "--com", "0"}, &line));
        EXPECT_EQ(sim.Stop(), 2);
    }
}

}  // namespace
