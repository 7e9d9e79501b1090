// A configuration write over the serial port whose bytes stop going out: the port vanishes
// part way, or the peer never takes the bytes and the write deadline passes. Either way
// the reader got part of an image at most, so the operation must say so, skip the reply
// wait, leave the receive poll stopped and never reset the dialog.
#include "fixture.h"
#include "protocol/write_exchange.h"

namespace optest {
namespace {

// A line whose peer takes `accepted` bytes and then none (its input is full): every
// later write attempt comes back "not yet", so only the link's deadline ends it.
class StuckLine : public zarn::SerialBackend {
public:
    explicit StuckLine(int accepted) : m_accepted(accepted) {
        m_previous = &zarn::GetSerialBackend();
        zarn::SetSerialBackend(this);
    }
    ~StuckLine() override {
        zarn::PortTable::CloseAll();
        zarn::SetSerialBackend(m_previous);
    }
    int written = 0;
    int reads = 0;

    std::unique_ptr<zarn::SerialPort> OpenPort(int, zarn::SerialOpenError*) override {
        return std::make_unique<Port>(*this);
    }
    std::vector<zarn::SerialPortInfo> ListPorts() override { return {}; }

private:
    class Port : public zarn::SerialPort {
    public:
        explicit Port(StuckLine& line) : m_line(line) {}
        bool ReadSettings() override { return true; }
        bool ApplySettings(uint32_t, uint8_t, uint8_t) override { return true; }
        void Purge() override {}
        int WriteOne(uint8_t) override {
            if (m_line.written >= m_line.m_accepted) return 0;
            ++m_line.written;
            return 1;
        }
        int ReadOne(uint8_t*, uint32_t) override {
            ++m_line.reads;
            return 0;
        }

    private:
        StuckLine& m_line;
    };

    int m_accepted;
    zarn::SerialBackend* m_previous;
};

class SerialWriteFailure : public OperationsTest {
protected:
    // The dialog in use: serial mode on COM1 opened (the poll running), options changed.
    void PrepareDialog() {
        UseSerial("1");
        ASSERT_TRUE(m_dlg.UserClick(IDC_OPEN));
        m_dlg.UserClick(IDC_BEEP_OFF);
        m_dlg.UserType(IDC_TRACK1_END, "9");
        m_dlg.UserClick(IDC_DISABLE_SS);
        ASSERT_NE(m_dlg.TimerPeriod(), 0u);
        Log();
    }
};

TEST_F(SerialWriteFailure, APortThatVanishesPartWayEndsInComWriteError) {
    struct Case {
        int button;
        int vanishAfter;  // bytes that reached the reader
    } cases[] = {{IDC_DOWNLOAD, 1}, {IDC_DOWNLOAD, 10}, {IDC_DOWNLOAD, 63},
                 {IDC_FACTORY, 1},  {IDC_FACTORY, 10},  {IDC_FACTORY, 63}};
    for (const Case& c : cases) {
        SCOPED_TRACE("button " + std::to_string(c.button) + ", gone after " +
                     std::to_string(c.vanishAfter));
        Sim("serial attach 1");
        Sim("mode normal");
        PrepareDialog();
        Sim("mode vanish " + std::to_string(c.vanishAfter));
        const auto before = Snapshot(m_dlg);
        const uint32_t start = Now();
        m_dlg.UserClick(c.button);
        EXPECT_EQ(TestBox(), "COM WRITE ERROR");
        // Nothing waited for a reply that cannot come.
        EXPECT_LT(Now() - start, protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS);
        EXPECT_EQ((Log().serial.size() + 1) / 3, static_cast<size_t>(c.vanishAfter));
        EXPECT_EQ(m_dlg.TimerPeriod(), 0u) << "the poll stays stopped, as after a port error";
        EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{})
            << "the dialog is never reset after a failed write";
        EXPECT_TRUE(m_dlg.IsEnabled(IDC_DOWNLOAD));
        EXPECT_TRUE(m_dlg.IsEnabled(IDC_FACTORY));
    }
}

TEST_F(SerialWriteFailure, APeerThatNeverReadsEndsAtTheFirstWriteDeadline) {
    for (int button : {IDC_DOWNLOAD, IDC_FACTORY}) {
        SCOPED_TRACE("button " + std::to_string(button));
        StuckLine line(5);
        PrepareDialog();
        const auto before = Snapshot(m_dlg);
        const uint32_t start = Now();
        m_dlg.UserClick(button);
        EXPECT_EQ(TestBox(), "COM WRITE ERROR");
        EXPECT_EQ(line.written, 5);
        EXPECT_EQ(line.reads, 0) << "no reply wait after a failed write";
        // One deadline, not one per remaining byte.
        EXPECT_GE(Now() - start, SERIAL_WRITE_DEADLINE_MS);
        EXPECT_LT(Now() - start, SERIAL_WRITE_DEADLINE_MS + 100);
        EXPECT_EQ(m_dlg.TimerPeriod(), 0u);
        EXPECT_EQ(Differences(before, Snapshot(m_dlg)), std::vector<int>{});
    }
}

}  // namespace
}  // namespace optest
