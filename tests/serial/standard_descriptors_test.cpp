// A program started with standard output closed: the first thing it opens would take
// descriptor 1, and a serial port opened there would receive everything it prints. Every
// program opens /dev/null on the closed standard descriptors first, says so on standard
// error, and no byte the protocol did not make reaches the reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "pty_peer.h"

namespace {

using serialtest::PtyPeer;

TEST(StandardDescriptors, OutputIntoAClosedStdoutNeverReachesTheReader) {
    PtyPeer peer(3);
    ASSERT_TRUE(peer.Ok());
    char path[] = "/tmp/zarn60-closed-stdout-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    // Opens COM3, then prints: a control, every control, and a dump.
    const std::string script = "click 1061\ntype 1050 3\nclick 1055\nget 1052\ndump\n";
    ASSERT_EQ(::write(fd, script.data(), script.size()), static_cast<ssize_t>(script.size()));
    ::close(fd);

    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, STDIN_FILENO);
        ::close(in);
        ::close(STDOUT_FILENO);
        ::execl(ZARN60_TOOL_PATH, ZARN60_TOOL_PATH, "--script", path, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(errPipe[1]);
    std::string err;
    char buf[1024];
    for (ssize_t n; (n = ::read(errPipe[0], buf, sizeof buf)) > 0;) err.append(buf, size_t(n));
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::unlink(path);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << err;
    EXPECT_NE(err.find("zarn60-tool: standard output was closed"), std::string::npos) << err;
    const std::vector<uint8_t> reached = peer.Receive(65536, 300);
    EXPECT_TRUE(reached.empty()) << reached.size() << " bytes reached the reader: "
                                 << std::string(reached.begin(), reached.end()).substr(0, 80);
}

}  // namespace
