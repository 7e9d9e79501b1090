// What the settings-file tests share: images with a recognisable pattern, files written
// whole, and work done in a child process, as another user or in a mount namespace.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "protocol/reader_config.h"

namespace settingstest {

inline protocol::ConfigReadImage Pattern(uint8_t seed) {
    protocol::ConfigReadImage image{};
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(seed + i * 7);
    return image;
}

inline void Spit(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string AsString(const protocol::ConfigReadImage& image) {
    return std::string(image.begin(), image.end());
}

// Runs `body` in a child process and returns its exit status (-1 when it did not exit).
inline int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Users and a group no account uses, for acting as several people on one machine.
constexpr uid_t USER_A = 64101;
constexpr uid_t USER_B = 64102;
constexpr gid_t SHARED_GROUP = 64100;

// `body` in a child that has become `uid` (its own primary group, plus the shared group
// when `inShared`); 125 when the switch failed.
inline int AsUser(uid_t uid, bool inShared, const std::function<int()>& body) {
    return InChild([&] {
        const gid_t groups[] = {SHARED_GROUP};
        if (::setgroups(inShared ? 1 : 0, groups) != 0) return 125;
        if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) return 125;
        return body();
    });
}

}  // namespace settingstest
