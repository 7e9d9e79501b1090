// The real main dialog against the in-process simulated reader on its virtual clock, with
// a host that records what a user would have seen and answers file dialogs from a queue.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../support/controls.h"
#include "../support/startup_config.h"
#include "app/zarn60_tool_dlg.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "sim/inprocess.h"

namespace optest {

class RecordingHost : public ui::NullHost {
public:
    struct Box {
        std::string text, title;
        ui::MsgIcon icon;
    };
    std::vector<Box> boxes;
    std::vector<ui::FileDialogRequest> fileDialogs;
    std::deque<std::optional<std::string>> fileAnswers;  // nullopt = cancel
    std::vector<std::string> testBoxTexts;               // every text 1052 took, in order
    const ui::Dialog* dialog = nullptr;

    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        boxes.push_back({text, title, icon});
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest& request) override {
        fileDialogs.push_back(request);
        if (fileAnswers.empty()) return std::nullopt;
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    void ControlChanged(int id) override {
        if (id == IDC_TEST_BOX && dialog != nullptr)
            testBoxTexts.push_back(dialog->GetText(IDC_TEST_BOX));
    }
};

using testsupport::ControlState;

inline std::vector<ControlState> Snapshot(const ui::Dialog& dlg, bool withTestBox = false) {
    std::vector<ControlState> all = testsupport::Snapshot(dlg);
    return withTestBox ? all : testsupport::WithoutTestBox(std::move(all));
}

// Ids whose state differs between two snapshots.
inline std::vector<int> Differences(const std::vector<ControlState>& a,
                                    const std::vector<ControlState>& b) {
    std::vector<int> ids;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!(a[i] == b[i])) ids.push_back(a[i].id);
    return ids;
}

inline std::string Hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < size; ++i) {
        if (i) s += ' ';
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}
template <typename Bytes>
std::string Hex(const Bytes& bytes) {
    return Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// What the reader received since the last look.
struct SimLog {
    std::vector<std::string> usb;  // one hex line per output report
    std::string serial;            // all serial bytes, hex
};

// The program-wide state of a fresh run, and the main dialog created on `host`.
inline void StartDialog(RecordingHost& host, CZARN60TOOLDlg& dlg) {
    g_connectionMode = CONNECTION_USB;
    g_strReceived.clear();
    host.dialog = &dlg;
    dlg.SetHost(&host);
    dlg.Create();
}

class OperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartDialog(m_host, m_dlg);
        Log();  // start from an empty log
    }
    void TearDown() override {
        g_connectionMode = CONNECTION_USB;
        g_strReceived.clear();
    }

    std::string Sim(const std::string& command) {
        std::ostringstream out;
        std::string error;
        EXPECT_TRUE(m_sim.Command(command, out, &error)) << command << ": " << error;
        return out.str();
    }
    SimLog Log() {
        SimLog log;
        std::istringstream lines(Sim("log"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("sim rx usb ", 0) == 0) log.usb.push_back(line.substr(11));
            if (line.rfind("sim rx serial ", 0) == 0) log.serial = line.substr(14);
        }
        return log;
    }
    // The hex after "sim config " or "sim readimage ".
    std::string SimHex(const std::string& command) {
        std::string line = Sim(command);
        while (!line.empty() && line.back() == '\n') line.pop_back();
        return line.substr(line.find(' ', 4) + 1);
    }
    uint32_t Now() { return m_sim.Clock().NowMs(); }
    // The reader attached, answering normally with 9-byte reports, then `commands`.
    void FreshReaderWith(const std::vector<std::string>& commands) {
        Sim("usb attach");
        Sim("mode normal");
        Sim("reports 9 9");
        for (const auto& c : commands) Sim(c);
    }

    void UseSerial(const std::string& com = "1") {
        m_dlg.UserClick(IDC_SERIAL_PORT);
        m_dlg.UserType(IDC_COM, com);
    }
    // Lets timer 1 tick n times at its period, as the window's event loop would.
    void Ticks(int n) {
        for (int i = 0; i < n && m_dlg.TimerPeriod() != 0; ++i) {
            m_sim.Clock().SleepMs(m_dlg.TimerPeriod());
            m_dlg.TimerTick();
        }
    }
    std::string TestBox() const { return m_dlg.GetText(IDC_TEST_BOX); }

    sim::InProcessSimulation m_sim;
    RecordingHost m_host;
    CZARN60TOOLDlg m_dlg;
};

// A HID device under test control, for payloads the simulated reader would never send:
// zero filler, exact report splits, endless streams, failing writes.
class ScriptedHid : public zarn::HidBackend {
public:
    explicit ScriptedHid(zarn::VirtualClock& clock) : m_clock(clock) {
        m_previous = &zarn::GetHidBackend();
        zarn::SetHidBackend(this);
    }
    ~ScriptedHid() override { zarn::SetHidBackend(m_previous); }

    uint16_t inputLength = 9, outputLength = 9;
    std::deque<std::vector<uint8_t>> replies;  // payloads, answered in order after a request
    int failWrite = 0;                         // the n-th write fails (1 = first)
    bool endless = false;                      // answers every read with `replies.front()`
    std::vector<std::vector<uint8_t>> written;
    int opened = 0, closed = 0, reads = 0;

    std::vector<std::string> EnumerateInterfaces() override { return {"scripted"}; }
    std::unique_ptr<zarn::HidDevice> OpenInterface(const std::string&, std::string*) override {
        ++opened;
        return std::make_unique<Device>(*this);
    }

private:
    class Device : public zarn::HidDevice {
    public:
        explicit Device(ScriptedHid& owner) : m_owner(owner) {}
        ~Device() override { ++m_owner.closed; }
        bool GetAttributes(uint16_t* vid, uint16_t* pid) override {
            *vid = 0x0801;
            *pid = 0x0005;
            return true;
        }
        bool GetReportLengths(uint16_t* in, uint16_t* out) override {
            *in = m_owner.inputLength;
            *out = m_owner.outputLength;
            return true;
        }
        int Write(const uint8_t* buffer, uint32_t length, uint32_t, bool* atOnce) override {
            *atOnce = true;
            m_owner.written.emplace_back(buffer, buffer + length);
            return static_cast<int>(m_owner.written.size()) == m_owner.failWrite ? 0 : 1;
        }
        int Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs, bool* atOnce) override {
            *atOnce = true;
            ++m_owner.reads;
            if (m_owner.replies.empty()) {
                m_owner.m_clock.SleepMs(timeoutMs);
                return 0;
            }
            m_owner.m_clock.SleepMs(1);
            std::vector<uint8_t> payload = m_owner.replies.front();
            if (!m_owner.endless) m_owner.replies.pop_front();
            // Bytes past the payload are noise the caller must never show.
            for (uint32_t i = 0; i < length; ++i) buffer[i] = 0xEE;
            buffer[0] = 0;
            for (size_t i = 0; i < 8; ++i) buffer[1 + i] = i < payload.size() ? payload[i] : 0;
            return 1;
        }

    private:
        ScriptedHid& m_owner;
    };

    zarn::VirtualClock& m_clock;
    zarn::HidBackend* m_previous;
};

}  // namespace optest
