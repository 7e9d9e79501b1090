// A main dialog on a recording host, a virtual clock and a serial backend whose ports
// are byte queues.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "link/serial_link.h"

namespace apptest {

class RecordingHost : public ui::Host {
public:
    struct Box {
        std::string text, title;
        ui::MsgIcon icon;
    };
    std::vector<Box> boxes;
    int abouts = 0;
    std::vector<int> ended;
    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        boxes.push_back({text, title, icon});
    }
    std::optional<std::string> FileDialog(const ui::FileDialogRequest&) override {
        return std::nullopt;
    }
    void ShowAbout() override { ++abouts; }
    void DialogEnded(int result) override { ended.push_back(result); }
    void ControlChanged(int) override {}
    void TimerChanged(uint32_t) override {}
    void FocusChanged(int) override {}
};

// Ports 1 to 9 exist; what a test puts into a port's queue is read back byte by byte.
class QueueSerialBackend : public zarn::SerialBackend {
public:
    std::map<int, std::deque<uint8_t>> input;
    std::map<int, int> opens;

    class Port : public zarn::SerialPort {
    public:
        Port(QueueSerialBackend& backend, int number) : m_backend(backend), m_number(number) {}
        bool ReadSettings() override { return true; }
        bool ApplySettings(uint32_t, uint8_t, uint8_t) override { return true; }
        void Purge() override {}
        int WriteOne(uint8_t) override { return 1; }
        int ReadOne(uint8_t* byte, uint32_t timeoutMs) override {
            auto& q = m_backend.input[m_number];
            if (q.empty()) {
                zarn::GetClock().SleepMs(timeoutMs);
                return 0;
            }
            *byte = q.front();
            q.pop_front();
            return 1;
        }

    private:
        QueueSerialBackend& m_backend;
        int m_number;
    };

    std::unique_ptr<zarn::SerialPort> OpenPort(int number, zarn::SerialOpenError* error) override {
        if (number < 1 || number > 9) {
            if (error) *error = zarn::SerialOpenError::NoDevice;
            return nullptr;
        }
        ++opens[number];
        return std::make_unique<Port>(*this, number);
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return {}; }
    void Send(int port, const std::string& bytes) {
        for (char c : bytes) input[port].push_back(static_cast<uint8_t>(c));
    }
};

class AppTest : public ::testing::Test {
protected:
    AppTest() : clockScope(clock) {
        g_connectionMode = CONNECTION_USB;
        g_strReceived.clear();
        zarn::SetSerialBackend(&serial);
        dlg.SetHost(&host);
        dlg.Create();
    }
    ~AppTest() override {
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(nullptr);
    }

    std::string Text(int id) const { return dlg.GetText(id); }
    bool Checked(int id) const { return dlg.IsChecked(id); }
    bool Enabled(int id) const { return dlg.IsEnabled(id); }
    int Limit(int id) const { return dlg.GetControl(id).limit; }

    zarn::VirtualClock clock;
    zarn::ScopedClock clockScope;
    QueueSerialBackend serial;
    RecordingHost host;
    CZARN60TOOLDlg dlg;
};

}  // namespace apptest
