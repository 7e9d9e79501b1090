// What the fuzz targets share: a fresh main dialog per input on a host that counts what a
// user would have seen, a snapshot of the controls, a private scratch folder, and a check
// that stops the run the way a crash does, so that libFuzzer keeps the input.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "link/serial_link.h"
#include "tests/support/controls.h"
#include "ui/host.h"

#define FUZZ_CHECK(cond, ...)                                                         \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: broken: %s\n  ", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                        \
            std::fprintf(stderr, "\n");                                               \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

namespace fuzz {

// Counts message boxes and answers file dialogs from a queue (empty = cancel).
class CountingHost : public ui::NullHost {
public:
    int messageBoxes = 0;
    std::vector<std::string> messages;
    std::deque<std::optional<std::string>> fileAnswers;

    void MessageBox(const std::string& text, const std::string&, ui::MsgIcon) override {
        ++messageBoxes;
        messages.push_back(text);
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest&) override {
        if (fileAnswers.empty()) return std::nullopt;
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

// A main dialog as the program starts it, with the program-wide state of a fresh run.
class FreshDialog {
public:
    FreshDialog() {
        g_connectionMode = CONNECTION_USB;
        g_strReceived.clear();
        zarn::PortTable::CloseAll();
        dlg.SetHost(&host);
        dlg.Create();
    }
    ~FreshDialog() { zarn::PortTable::CloseAll(); }
    FreshDialog(const FreshDialog&) = delete;
    FreshDialog& operator=(const FreshDialog&) = delete;

    CountingHost host;
    CZARN60TOOLDlg dlg;
};

using testsupport::ControlState;
using testsupport::Snapshot;
using testsupport::WithoutTestBox;

// The first control that differs between two snapshots of one dialog, or 0.
inline int FirstDifference(const std::vector<ControlState>& a, const std::vector<ControlState>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!(a[i] == b[i])) return a[i].id;
    return a.size() == b.size() ? 0 : -1;
}

// A folder of our own for files the targets write; left for the system to clean up
// (libFuzzer may end the process from a signal handler).
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/zarn60-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::string(buf.data());
    }();
    return dir;
}

inline bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

inline std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

}  // namespace fuzz
