// The fault matrix: every operation of the dialog against every fault the simulated reader
// can put on, over USB and over the serial port, in-process on the virtual clock. What a
// cell must end with comes from a small model of its exchange (what it writes, how many
// answers it waits for and how long) and of the fault, never from a list of cells.
#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "../operations/fixture.h"
#include "../support/temp_dir.h"
#include "protocol/read_exchange.h"
#include "protocol/special_exchange.h"
#include "protocol/write_exchange.h"
#include "settings_file/settings_file.h"
#include "sim/pty.h"
#include "sim/reader.h"

namespace optest {
namespace {

namespace fs = std::filesystem;

enum Op { DOWNLOAD, FACTORY, UPLOAD, SAVE, LOAD, VERSION, CARD, OPEN, POLL };
struct OpInfo {
    const char* name;
    int button;        // the poll cell clicks "Open"; then a card is swiped
    const char* done;  // the text of success; none where the reader's answer is shown
};
const OpInfo OPS[] = {
    {"Download", IDC_DOWNLOAD, "Setup ok"},
    {"Factory", IDC_FACTORY, "Setup ok"},
    {"Upload", IDC_UPLOAD, "Get Setting Ok"},
    {"Save", IDC_SAVE_FILE, "Save CFG file Setup.cfg Ok"},
    {"Load", IDC_LOAD_FILE, "Load setting ok!"},
    {"Version", IDC_GET_VERSION, nullptr},
    {"Card", IDC_READ_CARD, nullptr},
    {"Open", IDC_OPEN, "Port is opened now"},
    {"Poll", IDC_OPEN, nullptr},
};

enum Kind { SILENT, REJECT, GARBAGE, PARTIAL, SLOW_WITHIN, SLOW_PAST, EXTRA, REPORTS, VANISH };
struct Fault {
    Kind kind;
    int a = 0, b = 0;  // PARTIAL, EXTRA, VANISH: N; SLOW_*: the time-out; REPORTS: in, out
};

// The first answer is ready 1 ms (USB) or one line time, 1.042 ms rounded up (serial),
// plus the delay after the request, which the pause after the last piece written partly
// covers; a read gives up past its time-out. The delay that lands just within or past it:
uint32_t SlowMs(const Fault& f, bool usb, uint32_t writePause) {
    return f.a - (usb ? 1 : 2) + writePause + (f.kind == SLOW_PAST ? 1 : 0);
}
bool IsSlow(const Fault& f) {
    return f.kind == SLOW_WITHIN || f.kind == SLOW_PAST;
}

const char* const KIND_NAMES[] = {"Silent",   "Reject", "Garbage", "Partial", "SlowWithin",
                                  "SlowPast", "Extra",  "Reports", "Vanish"};
std::string SimCommand(const Fault& f, bool usb, uint32_t writePause) {
    const char* const modes[] = {"silent", "reject", "garbage", "partial", "slow",
                                 "slow",   "extra",  "",        "vanish"};
    if (f.kind == REPORTS) return "reports " + std::to_string(f.a) + " " + std::to_string(f.b);
    const std::string mode = std::string("mode ") + modes[f.kind];
    if (f.kind < PARTIAL) return mode;
    return mode + " " + std::to_string(IsSlow(f) ? SlowMs(f, usb, writePause) : f.a);
}

const std::string VERSION_TEXT = "V2.10";
const std::string& CardText() {
    static const std::string text = sim::FormatCardData(
        protocol::ParseConfigWriteImage(sim::UsbFactoryImage()), sim::DefaultCard());
    return text;
}

// One exchange as the reader sees it; units are reports (USB) or bytes (serial).
constexpr int POLLED = INT_MAX;  // the handler reads nothing: the receive poll takes the answer
struct Exchange {
    int writes = 0;           // units the request takes
    uint32_t writePause = 0;  // after each unit written
    int answer = 0;           // units the reader answers when all is well
    int maxReads = 0;         // units the exchange reads at most
    uint32_t timeout = 0;     // per read
    uint32_t pause = 0;       // after each unit read
};

Exchange ExchangeOf(Op op, bool usb) {
    const int card = static_cast<int>(CardText().size());
    const int version = static_cast<int>(VERSION_TEXT.size());
    // In the order of Op: download, factory, upload, save, load, version, card, open, poll.
    const Exchange onUsb[] = {
        {8, protocol::REPORT_PAUSE_MS, 1, 1, protocol::WRITE_REPLY_TIMEOUT_MS},
        {8, protocol::REPORT_PAUSE_MS, 1, 0},  // the verdict is not read
        {1, 0, 7, 7, protocol::READ_REPORT_TIMEOUT_MS, protocol::UPLOAD_REPORT_PAUSE_MS},
        {1, 0, 7, 7, protocol::READ_REPORT_TIMEOUT_MS, protocol::SAVE_REPORT_PAUSE_MS},
        {},
        {1, 0, 1, 1, protocol::VERSION_REPLY_TIMEOUT_MS},
        {1, 0, (card + 7) / 8, protocol::CARD_MAX_REPORTS, protocol::CARD_REPORT_TIMEOUT_MS,
         protocol::CARD_REPORT_PAUSE_MS},
        {},
        {},
    };
    const Exchange onSerial[] = {
        {64, 0, 1, protocol::SERIAL_WRITE_REPLY_MAX, protocol::DOWNLOAD_SERIAL_REPLY_TIMEOUT_MS},
        {64, 0, 1, protocol::SERIAL_WRITE_REPLY_MAX, protocol::FACTORY_SERIAL_REPLY_TIMEOUT_MS},
        {1, 0, 56, 56, protocol::READ_SERIAL_BYTE_TIMEOUT_MS},
        {1, 0, 56, 56, protocol::READ_SERIAL_BYTE_TIMEOUT_MS},
        {},
        {1, 0, version, POLLED},
        {1, 0, card, POLLED},
        {},
        {0, 0, card, POLLED},  // a swipe
    };
    return usb ? onUsb[op] : onSerial[op];
}

enum Result { OK, NOT_FOUND, WRITE_FAILED, NO_ANSWER, REFUSED, PORT_FAILED, BYTE_FAILED };
struct Outcome {
    Result result = OK;
    int failedWrite = 0;     // WRITE_FAILED: report 1 to 8; BYTE_FAILED: byte 1 to 64
    int got = 0;             // answer units taken
    bool waitedOut = false;  // the last read waited out its time-out
};

Outcome Predict(Op op, bool usb, const Fault& f) {
    const Exchange x = ExchangeOf(op, usb);
    if (op == LOAD) return {};
    if (f.kind == VANISH && f.a == 0) return {usb ? NOT_FOUND : PORT_FAILED};
    // Reports shorter than 9 bytes cannot carry a request or a payload: nothing is sent.
    if (f.kind == REPORTS && (f.b < 9 || (x.maxReads > 0 && f.a < 9))) return {WRITE_FAILED, 1};
    // A write after the reader vanished fails and ends the exchange there; over serial
    // only a configuration write has more than its first byte to lose.
    if (f.kind == VANISH && f.a < x.writes) {
        if (usb) return {WRITE_FAILED, f.a + 1};
        if (op == DOWNLOAD || op == FACTORY) return {BYTE_FAILED, f.a + 1};
    }

    int available = f.kind == SILENT ? 0 : x.answer + (f.kind == EXTRA ? f.a : 0);
    if (f.kind == PARTIAL) available = std::min(available, f.a);
    const uint32_t firstWait = SlowMs(f, usb, x.writePause) + (usb ? 1 : 2) - x.writePause;
    if (IsSlow(f) && x.timeout && firstWait > x.timeout) available = 0;
    // Once N units have moved, the next read fails at once instead of waiting.
    const int beforeVanish = f.kind == VANISH ? std::max(0, f.a - x.writes) : INT_MAX;
    Outcome o;
    o.got = std::min({available, x.maxReads, beforeVanish});
    o.waitedOut = o.got < x.maxReads && o.got != beforeVanish;
    if (op == DOWNLOAD && usb) {
        // The verdict byte: garbage is never zero.
        o.result = o.got == 0 ? NO_ANSWER : f.kind == REJECT || f.kind == GARBAGE ? REFUSED : OK;
    }
    if ((op == UPLOAD || op == SAVE || (op == VERSION && usb)) && o.got < x.maxReads)
        o.result = NO_ANSWER;
    return o;
}

// What a data operation shows of the units it got: the version text up to its first zero
// and the card bytes as hex over USB, the bytes as they are over serial.
std::string Shown(Op op, bool usb, const Fault& f, int got) {
    std::string units = op == VERSION ? VERSION_TEXT : CardText();
    if (usb) units.resize((units.size() + 7) / 8 * 8, '\0');
    if (f.kind == GARBAGE) units.assign(units.size(), '#');  // noise is never zero
    units += std::string((f.kind == EXTRA ? f.a : 0) * (usb ? 8 : 1), 'X');
    std::string taken = units.substr(0, std::min<size_t>(units.size(), got * (usb ? 8 : 1)));
    if (!usb) return taken;
    if (op == VERSION) return taken.substr(0, std::min(taken.find('\0'), size_t{8}));
    std::erase(taken, '\0');
    return protocol::CardDataToHex(taken);
}

std::string Text(Op op, bool usb, const Fault& f, const Outcome& o) {
    const std::string n = std::to_string(o.failedWrite);
    if (o.result == NOT_FOUND) return "Open USB Device Failure!!!";
    if (o.result == PORT_FAILED) return "Port Number Error";
    if (o.result == REFUSED) return "Setup Error";
    if (o.result == BYTE_FAILED) return "COM WRITE ERROR";
    if (o.result == WRITE_FAILED && op == FACTORY)
        return o.failedWrite <= 3 ? "USB WRITE ERROR" + n + " !!!" : "USB WRITE ERROR 3";
    if (o.result == WRITE_FAILED)
        return op == DOWNLOAD && o.failedWrite >= 3 ? "USB WRITE ERROR 3" : "USB WRITE ERROR" + n;
    if (o.result == NO_ANSWER && op == DOWNLOAD) return "ZARN60 NO RESPONSE3";
    if (o.result == NO_ANSWER) return usb ? "ZARN60 NO RESPONSE1" : "Get Configuration Error";
    if (OPS[op].done) return OPS[op].done;
    // Nothing reached the poll: the box keeps what it showed.
    if (!usb && o.got == 0) return op == POLL ? "Port is opened now" : "before";
    return Shown(op, usb, f, o.got);
}

uint32_t TimerAfter(Op op, bool usb, const Outcome& o, uint32_t before) {
    if (op == LOAD) return 0;
    if (op == OPEN || op == POLL) return o.result == OK ? OPEN_POLL_PERIOD_MS : before;
    if (!usb) return o.result == OK ? POLL_PERIOD_MS : 0;
    if (op == UPLOAD) return 0;
    return op == SAVE && o.result == OK ? POLL_PERIOD_MS : before;
}

// 1013 and 1014: the write operations leave them enabled; the USB read operations enable
// them on a failure; nothing else touches them.
bool ButtonsAfter(Op op, bool usb, const Outcome& o) {
    if (op == DOWNLOAD || op == FACTORY) return true;
    return usb && o.result != OK && (op == UPLOAD || op == SAVE || op == VERSION || op == CARD);
}

// Units that went out, and the virtual time the handler may take: each pause it makes,
// each read it waited out in full, and up to a time-out for every unit that came.
int UnitsWritten(const Exchange& x, const Outcome& o) {
    if (o.result == WRITE_FAILED || o.result == BYTE_FAILED) return o.failedWrite - 1;
    return o.result == NOT_FOUND || o.result == PORT_FAILED ? 0 : x.writes;
}
std::pair<uint32_t, uint32_t> TimeBounds(const Exchange& x, const Outcome& o) {
    const uint32_t lower =
        UnitsWritten(x, o) * x.writePause + o.got * x.pause + (o.waitedOut ? x.timeout : 0);
    return {lower, lower + (x.maxReads == POLLED ? 0 : o.got * x.timeout)};
}

struct Cell {
    Op op;
    bool usb;
    Fault fault;
};

std::string CellName(const Cell& c) {
    std::string name =
        std::string(c.usb ? "Usb_" : "Serial_") + OPS[c.op].name + "_" + KIND_NAMES[c.fault.kind];
    if (c.fault.kind >= PARTIAL) name += std::to_string(c.fault.a);
    if (c.fault.kind == REPORTS) name += "x" + std::to_string(c.fault.b);
    return name;
}

std::vector<Cell> AllCells() {
    std::vector<Fault> faults = {{SILENT}, {REJECT}, {GARBAGE}, {EXTRA, 1}, {EXTRA, 9}};
    // Answers end one short of, or at, each length: 1 verdict or version report, 5 version
    // bytes, 7 reports or 56 bytes of a read image, 9 reports or 66 bytes of card data.
    for (int n : {0, 1, 4, 5, 6, 7, 8, 9, 55, 56, 65, 66}) faults.push_back({PARTIAL, n});
    for (int t : {350, 450, 500, 850, 1000}) {
        faults.push_back({SLOW_WITHIN, t});
        faults.push_back({SLOW_PAST, t});
    }
    // Gone before the request, after its first piece, in its middle, after its last
    // piece, after the first answer, before and after the last answer.
    for (int n : {0, 1, 4, 7, 8, 9, 56, 57}) faults.push_back({VANISH, n});
    for (int in : {0, 8, 9, 65})
        for (int out : {0, 8, 9, 65})
            if (in != 9 || out != 9) faults.push_back({REPORTS, in, out});
    std::vector<Cell> cells;
    // "Open" and the poll belong to the serial port, report lengths to USB.
    for (bool usb : {true, false})
        for (int op = DOWNLOAD; op <= POLL; ++op)
            for (const Fault& f : faults)
                if (!(usb && op >= OPEN) && !(!usb && f.kind == REPORTS))
                    cells.push_back({static_cast<Op>(op), usb, f});
    return cells;
}

using testsupport::Slurp;
std::string ReaderImageBytes() {
    const protocol::ConfigReadImage image = sim::ReaderReadImage(sim::UsbFactoryImage());
    return {image.begin(), image.end()};
}

class FaultMatrix : public testsupport::WithTempDir<OperationsTest>,
                    public ::testing::WithParamInterface<Cell> {};

TEST_P(FaultMatrix, EndsAsTheExchangeModelSays) {
    const auto& [op, usb, fault] = GetParam();
    const Exchange x = ExchangeOf(op, usb);
    const Outcome o = Predict(op, usb, fault);

    // A settings file already there: a load reads it, a save must replace it whole or not
    // at all.
    const fs::path file = m_dir / settings_file::SETTINGS_FILE_DEFAULT_NAME;
    const std::string old = op == LOAD ? ReaderImageBytes() : std::string(100, 'o');
    std::ofstream(file, std::ios::binary) << old;
    m_host.fileAnswers.push_back(file.string());

    // The tick counter wraps 300 ms into the cell, as it does after 49.7 days.
    m_sim.Clock().SleepMs(0u - 300u);
    // A dialog in use: options changed, the poll running (except before "Open"), and the
    // write buttons off where only some outcomes switch them on.
    m_dlg.UserClick(IDC_BEEP_OFF);
    m_dlg.UserType(IDC_TRACK1_END, "9");
    if (!usb) UseSerial("1");
    if (op < OPEN && usb) m_dlg.SetTimer(OPEN_POLL_PERIOD_MS);
    ASSERT_TRUE(op >= OPEN || usb || m_dlg.UserClick(IDC_OPEN));
    const uint32_t timerBefore = m_dlg.TimerPeriod();
    m_dlg.EnableControl(IDC_DOWNLOAD, op == DOWNLOAD || op == FACTORY);
    m_dlg.EnableControl(IDC_FACTORY, op == DOWNLOAD || op == FACTORY);
    m_dlg.ShowStatus("before");
    Sim(SimCommand(fault, usb, x.writePause));
    Log();
    const auto before = Snapshot(m_dlg);

    const uint32_t start = Now();
    ASSERT_TRUE(m_dlg.UserClick(OPS[op].button));
    const auto [lower, upper] = TimeBounds(x, o);
    EXPECT_GE(Now() - start, lower);
    EXPECT_LE(Now() - start, upper);
    EXPECT_EQ(m_dlg.TimerPeriod(), TimerAfter(op, usb, o, timerBefore));
    EXPECT_EQ(m_dlg.IsEnabled(IDC_DOWNLOAD), ButtonsAfter(op, usb, o));
    EXPECT_EQ(m_dlg.IsEnabled(IDC_FACTORY), ButtonsAfter(op, usb, o));
    const SimLog log = Log();  // what reached the reader: nothing after a failed piece
    const int written = UnitsWritten(x, o);
    EXPECT_EQ(usb ? log.usb.size() : (log.serial.size() + 1) / 3,
              fault.kind == VANISH ? std::min(written, fault.a) : written);

    // Over serial the answer to a command or a swipe comes through the poll, at most one
    // byte a tick, each read waiting at most 1 ms.
    if (x.maxReads == POLLED && o.result == OK) {
        if (op == POLL) Sim("swipe");
        const uint32_t period = m_dlg.TimerPeriod(), ticksFrom = Now();
        const uint32_t slow = IsSlow(fault) ? SlowMs(fault, usb, x.writePause) : 0;
        const int ticks = o.got + o.got * static_cast<int>((slow + 2) / period + 1) + 20;
        Ticks(ticks);
        EXPECT_LE(Now() - ticksFrom, ticks * (period + 1));
    }

    // Noise is shown as it came: its length is known, its bytes are not.
    const std::string expected = Text(op, usb, fault, o);
    if (fault.kind == GARBAGE && o.result == OK && (op == VERSION || op == CARD || op == POLL)) {
        EXPECT_EQ(TestBox().size(), expected.size()) << TestBox();
        EXPECT_NE(TestBox(), Text(op, usb, {REJECT}, o));
    } else {
        EXPECT_EQ(TestBox(), expected);
    }
    EXPECT_TRUE(m_host.boxes.empty());

    // Only a completed upload, load or factory reset may change an option control: the
    // end position typed since the last saving exchange survives everything else.
    if (!(o.result == OK && (op == UPLOAD || op == LOAD || op == FACTORY))) {
        std::vector<int> changed = Differences(before, Snapshot(m_dlg));
        std::erase_if(changed, [](int id) { return id == IDC_DOWNLOAD || id == IDC_FACTORY; });
        EXPECT_EQ(changed, std::vector<int>{});
    }
    // The folder holds the one file, either as it was or as the 56 bytes the reader sent.
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
    const bool saved = op == SAVE && o.result == OK;
    EXPECT_EQ(Slurp(file).size(), saved ? protocol::CONFIG_READ_IMAGE_SIZE : old.size());
    EXPECT_TRUE(saved || Slurp(file) == old) << "a failed save left the old file alone";
    EXPECT_TRUE(!saved || fault.kind == GARBAGE || Slurp(file) == ReaderImageBytes());
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<Cell>& cell) {
                             return CellName(cell.param);
                         });

// Over a real pseudo-terminal, in real time (the USB side over a FUSE node runs end to end
// in tests/operations and tests/hid): the reader hangs the line up in the middle of its
// answer to a save. The model's text and timer, no file, no hang.
TEST(FaultMatrixOnARealLink, SerialSaveOnAPseudoTerminalThatHangsUp) {
    sim::PtyReader pty;
    std::string error;
    ASSERT_TRUE(pty.Open(&error)) << error;
    pty.GetReader().SetFaults(sim::Faults{.vanishAfter = 20});
    std::atomic<bool> stop{false};
    std::thread serving([&] { pty.Serve([&] { return stop.load(); }, [] { return false; }, 0); });
    ::setenv("ZARN60_COM3", pty.SlavePath().c_str(), 1);
    char dir[] = "/tmp/zarn60-faults-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    RecordingHost host;
    host.fileAnswers.push_back(std::string(dir) + "/Setup.cfg");
    CZARN60TOOLDlg dlg;
    dlg.SetHost(&host);
    dlg.Create();
    dlg.UserClick(IDC_SERIAL_PORT);
    dlg.UserType(IDC_COM, "3");

    const Fault fault{VANISH, 20};
    const Outcome o = Predict(SAVE, false, fault);
    const auto t0 = std::chrono::steady_clock::now();
    dlg.UserClick(IDC_SAVE_FILE);
    const auto upper = TimeBounds(ExchangeOf(SAVE, false), o).second + 1500;  // a loaded machine
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(upper));
    EXPECT_EQ(dlg.GetText(IDC_TEST_BOX), Text(SAVE, false, fault, o));
    EXPECT_EQ(dlg.TimerPeriod(), TimerAfter(SAVE, false, o, 0));
    EXPECT_TRUE(fs::is_empty(dir));

    stop = true;
    serving.join();
    ::unsetenv("ZARN60_COM3");
    zarn::PortTable::CloseAll();
    g_connectionMode = CONNECTION_USB;
    fs::remove_all(dir);
}

}  // namespace
}  // namespace optest
