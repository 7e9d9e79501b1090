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
#include <cstring>
#include <string>
#include <vector>

#include "../support/child_process.h"
#include "link/serial_link.h"

namespace {

// zarn60-sim with its first line read at start.
class SimProcess {
public:
    bool Start(std::vector<std::string> args, std::string* line) {
        args.insert(args.begin(), ZARN60_SIM_PATH);
        line->clear();
        bool got = false;
        return m_child.Start(std::move(args), /*quietStderr=*/true) &&
               m_child.ReadLinesUntil([&] { return got; },
                                      [&](const std::string& l) {
                                          if (!got) *line = l;
                                          got = true;
                                      });
    }
    void Signal(int sig) { m_child.Signal(sig); }
    // SIGTERM, then the exit status (or -1).
    int Stop() {
        const int status = m_child.Stop();
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    testsupport::ChildProcess m_child;
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

// A signal whose default would end the simulator where it stands stops it in order instead:
// it exits 0, its line hung up (the FUSE attachment, in the same way, unmounts
// its trees). SIGUSR1 and SIGUSR2 are its own (a swipe, the --log file).
TEST(SimPty, EndingSignalsStopItInOrder) {
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGVTALRM, SIGPROF}) {
        SCOPED_TRACE(::strsignal(sig));
        SimProcess sim;
        std::string line;
        ASSERT_TRUE(sim.Start({"--serial"}, &line));
        sim.Signal(sig);
        EXPECT_EQ(sim.Stop(), 0);
    }
}

// --log FILE: what the reader received, in the runner's `sim log` form, appended on SIGUSR2
// (each time only what came since) and when it ends; SIGUSR2 does not stop it.
TEST(SimPty, ReceivedBytesGoToTheLogFileOnSignal) {
    char logPath[] = "/tmp/zarn60-sim-log-XXXXXX";
    const int logFd = mkstemp(logPath);
    ASSERT_GE(logFd, 0);
    close(logFd);
    auto readLog = [&logPath](int ends) {
        std::string text;
        for (int i = 0; i < 200; ++i) {
            text.clear();
            FILE* f = std::fopen(logPath, "r");
            if (f) {
                char buf[512];
                size_t n;
                while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
                std::fclose(f);
            }
            int found = 0;
            for (size_t at = text.find("sim log end\n"); at != std::string::npos;
                 at = text.find("sim log end\n", at + 1))
                ++found;
            if (found >= ends) break;
            ::usleep(10000);
        }
        return text;
    };

    SimProcess sim;
    std::string line;
    ASSERT_TRUE(sim.Start({"--serial", "--log", logPath}, &line));
    const std::string path = line.substr(line.find('=') + 1);
    ::setenv("ZARN60_COM3", path.c_str(), 1);
    zarn::PortTable::CloseAll();
    ASSERT_EQ(SerialLink::Open(3, 9600, 8, 0), 0);
    ASSERT_EQ(SerialLink::WriteByte(3, 'V'), 0);
    EXPECT_EQ(ReadFor(3, 100, 500), "V2.10");
    sim.Signal(SIGUSR2);
    EXPECT_EQ(readLog(1), "sim rx serial 56\nsim log end\n");
    sim.Signal(SIGUSR2);
    EXPECT_EQ(readLog(2), "sim rx serial 56\nsim log end\nsim log end\n");
    ASSERT_EQ(SerialLink::WriteByte(3, 'S'), 0);
    EXPECT_EQ(ReadFor(3, 56, 850).size(), 56u);
    zarn::PortTable::CloseAll();
    ::unsetenv("ZARN60_COM3");
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(readLog(3), "sim rx serial 56\nsim log end\nsim log end\nsim rx serial 53\nsim log end\n");
    ::unlink(logPath);
}

}  // namespace
