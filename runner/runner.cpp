// The headless runner: each script line is read and checked in full before it acts, so a
// line that cannot run changes nothing; then it acts on the real dialog as a user would.
#include "runner/runner.h"

#include <cctype>
#include <cstdio>
#include <deque>
#include <optional>
#include <sstream>
#include <vector>

#include "app/zarn60_tool_dlg.h"
#include "base/clock.h"
#include "link/serial_link.h"
#include "runner/control_names.h"
#include "runner/script_text.h"
#include "ui/dialog_keys.h"

namespace runner {

namespace {

// Tick counts wrap: compare by signed distance.
bool Before(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}

class ScriptHost : public ui::Host {
public:
    explicit ScriptHost(std::ostream& out) : m_out(out) {}

    std::deque<std::optional<std::string>> saveAnswers, openAnswers;
    std::optional<std::string> lastMessage;  // the text of the last message box
    // Timer 1 as the runner runs it: its period, when the next tick is due, and a count
    // of restarts so that a tick that restarts the timer keeps the new schedule.
    uint32_t timerPeriod = 0;
    uint32_t timerDue = 0;
    unsigned timerStarts = 0;

    void MessageBox(const std::string& text, const std::string& title, ui::MsgIcon icon) override {
        lastMessage = text;
        m_out << "msgbox icon=" << (icon == ui::MsgIcon::Exclamation ? "exclamation" : "none")
              << " title=" << Quote(title) << " text=" << Quote(text) << "\n";
    }

    std::optional<std::string> FileDialog(const ui::FileDialogRequest& r) override {
        auto& answers = r.save ? saveAnswers : openAnswers;
        std::optional<std::string> answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%04x", static_cast<unsigned>(r.flags));
        m_out << "filedialog " << (r.save ? "save" : "open") << " title=" << Quote(r.title)
              << " file=" << Quote(r.initialFile) << " ext=" << Quote(r.defaultExt)
              << " filter=" << Quote(r.filter) << " flags=" << flags << " -> "
              << (answer ? *answer : "cancel") << "\n";
        return answer;
    }

    void ShowAbout() override { m_out << "about\n"; }
    void DialogEnded(int) override {}
    void ControlChanged(int) override {}
    void TimerChanged(uint32_t periodMs) override {
        timerPeriod = periodMs;
        timerDue = zarn::GetClock().NowMs() + periodMs;
        ++timerStarts;
    }
    void FocusChanged(int) override {}

private:
    std::ostream& m_out;
};

const char* KindName(res::Kind k) {
    switch (k) {
        case res::Kind::Edit:
            return "edit";
        case res::Kind::Check:
            return "check";
        case res::Kind::Radio:
            return "radio";
        case res::Kind::Button:
            return "button";
        case res::Kind::Combo:
            return "combo";
        case res::Kind::Slider:
            return "slider";
        case res::Kind::Label:
            return "label";
        case res::Kind::Group:
            return "group";
        case res::Kind::Icon:
            return "icon";
    }
    return "?";
}

std::string ControlLine(const ui::Control& c) {
    std::string line = "ctl " + std::to_string(c.id) + " kind=" + KindName(c.kind) +
                       " visible=" + (c.visible ? "1" : "0") +
                       " enabled=" + (c.enabled ? "1" : "0") +
                       " checked=" + (c.checked ? "1" : "0") + " limit=" + std::to_string(c.limit);
    if (c.kind == res::Kind::Slider) {
        line += " pos=" + std::to_string(c.pos) + " min=" + std::to_string(c.rangeMin) +
                " max=" + std::to_string(c.rangeMax);
        return line;
    }
    line += " text=" + Quote(c.text);
    if (c.kind == res::Kind::Combo) {
        std::string items;
        for (size_t i = 0; i < c.items.size(); ++i) items += (i ? "," : "") + c.items[i];
        line += " items=" + Quote(items);
    }
    return line;
}

// One script line, read and checked.
struct Command {
    enum Op {
        Click,
        DblClick,
        Type,
        Paste,
        Slider,
        Enter,
        Escape,
        Close,
        Tick,
        Wait,
        AnswerSave,
        AnswerOpen,
        SysAbout,
        Dump,
        Get,
        Clock,
        Sim,
        Key,
        Focus,
        GetFocus
    } op;
    int id = 0;
    long long number = 0;
    std::optional<std::string> text;
};

class LineReader {
public:
    explicit LineReader(const std::string& line) : m_line(line) {}

    std::string Word() {
        SkipBlanks();
        size_t start = m_pos;
        while (m_pos < m_line.size() && m_line[m_pos] != ' ' && m_line[m_pos] != '\t') ++m_pos;
        return m_line.substr(start, m_pos - start);
    }
    std::string Rest() {
        if (m_pos < m_line.size()) ++m_pos;  // the blank that ends the previous word
        std::string rest = m_line.substr(std::min(m_pos, m_line.size()));
        m_pos = m_line.size();
        return rest;
    }
    bool AtEnd() {
        SkipBlanks();
        return m_pos >= m_line.size();
    }

private:
    void SkipBlanks() {
        while (m_pos < m_line.size() && (m_line[m_pos] == ' ' || m_line[m_pos] == '\t')) ++m_pos;
    }
    const std::string& m_line;
    size_t m_pos = 0;
};

bool ParseNumber(const std::string& word, long long min, long long max, long long* value) {
    if (word.empty() || word.size() > 12) return false;
    size_t i = 0;
    bool negative = false;
    if (word[0] == '-' || word[0] == '+') {
        negative = word[0] == '-';
        i = 1;
    }
    if (i >= word.size()) return false;
    long long v = 0;
    for (; i < word.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(word[i]))) return false;
        v = v * 10 + (word[i] - '0');
    }
    if (negative) v = -v;
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

enum class LineRead { Line, End, TooLong, Failed };

// One line without its '\n', taking its bytes from *budget.
LineRead ReadLine(std::istream& in, std::string* line, size_t* budget) {
    line->clear();
    std::streambuf* buf = in.rdbuf();
    if (!buf || !in.good()) return in.bad() ? LineRead::Failed : LineRead::End;
    using Traits = std::char_traits<char>;
    for (;;) {
        Traits::int_type c;
        try {
            c = buf->sbumpc();
        } catch (...) {
            in.setstate(std::ios::badbit);
            return LineRead::Failed;
        }
        if (Traits::eq_int_type(c, Traits::eof())) {
            in.setstate(std::ios::eofbit);
            return line->empty() ? LineRead::End : LineRead::Line;
        }
        if (*budget == 0) return LineRead::TooLong;
        --*budget;
        if (Traits::to_char_type(c) == '\n') return LineRead::Line;
        line->push_back(Traits::to_char_type(c));
    }
}

std::optional<ui::DialogKey> DialogKeyByName(const std::string& name) {
    static const std::pair<const char*, ui::DialogKey> keys[] = {
        {"tab", ui::DialogKey::Tab},   {"shift+tab", ui::DialogKey::BackTab},
        {"left", ui::DialogKey::Left}, {"right", ui::DialogKey::Right},
        {"up", ui::DialogKey::Up},     {"down", ui::DialogKey::Down},
    };
    for (const auto& [keyName, key] : keys)
        if (name == keyName) return key;
    return std::nullopt;
}

// The control with the focus by its name in scripts, else its id; "none" for no control.
std::string FocusName(int id) {
    if (id == res::IDC_STATIC) return "none";
    for (const auto& [name, named] : ControlNames())
        if (named == id) return std::string(name);
    return std::to_string(id);
}

class Runner {
public:
    Runner(CZARN60TOOLDlg& dlg, ScriptHost& host, std::ostream& out, const SimCommand& sim,
           uint32_t startMs)
        : m_dlg(dlg), m_host(host), m_out(out), m_sim(sim), m_startMs(startMs) {}

    int Run(std::istream& script) {
        std::string line;
        int number = 0;
        size_t budget = static_cast<size_t>(kMaxScriptSize);
        while (!m_dlg.IsEnded()) {
            const LineRead got = ReadLine(script, &line, &budget);
            if (got == LineRead::End) break;
            ++number;
            if (got != LineRead::Line) {
                m_out << "error line " << number << ": "
                      << (got == LineRead::TooLong ? "the script is longer than 16 MiB"
                                                   : "the script cannot be read")
                      << "\n";
                m_out.flush();
                return m_out ? 2 : 1;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == '#') continue;
            line = WithoutComment(line);
            std::string why;
            std::optional<Command> cmd = Parse(line, &why);
            if (cmd && !Execute(*cmd, &why)) cmd.reset();
            if (!cmd) {
                m_out << "error line " << number << ": " << why << "\n";
                m_out.flush();
                return m_out ? 2 : 1;
            }
            if (m_dlg.IsEnded()) m_out << "end " << m_dlg.Result() << "\n";
            m_out.flush();
            // Nobody sees what follows: stop rather than act unseen.
            if (!m_out) return 1;
        }
        return 0;
    }

private:
    // The control a user command names, checked against the kinds it accepts.
    bool ControlId(const std::string& word, std::initializer_list<res::Kind> kinds,
                   const char* kindText, int* id, std::string* why) {
        long long v = 0;
        if (std::optional<int> named = ControlIdByName(word)) {
            v = *named;
        } else if (!ParseNumber(word, 0, 0x7fffffff, &v)) {
            *why = word.empty() ? "missing control id" : "bad control id " + QuoteCut(word);
            return false;
        }
        *id = static_cast<int>(v);
        if (!m_dlg.HasControl(*id)) {
            *why = "no control " + word;
            return false;
        }
        if (kinds.size() == 0) return true;
        for (res::Kind k : kinds) {
            if (m_dlg.GetControl(*id).kind == k) return true;
        }
        *why = "control " + word + " is not " + kindText;
        return false;
    }

    std::optional<Command> Parse(const std::string& line, std::string* why) {
        LineReader r(line);
        std::string word = r.Word();
        Command c{};
        auto noMore = [&]() {
            if (r.AtEnd()) return true;
            *why = "unexpected text after " + QuoteCut(word);
            return false;
        };
        auto text = [&]() {
            std::string bytes;
            if (!ParseText(r.Rest(), &bytes, why)) return false;
            c.text = bytes;
            return true;
        };
        using K = res::Kind;
        if (word == "click" || word == "dblclick") {
            c.op = word == "click" ? Command::Click : Command::DblClick;
            if (!ControlId(r.Word(), {K::Button, K::Check, K::Radio},
                           "a button, check box or radio button", &c.id, why) ||
                !noMore())
                return std::nullopt;
        } else if (word == "type" || word == "paste") {
            c.op = word == "type" ? Command::Type : Command::Paste;
            if (!ControlId(r.Word(), {K::Edit, K::Combo}, "an edit or combo box", &c.id, why) ||
                !text())
                return std::nullopt;
        } else if (word == "slider") {
            c.op = Command::Slider;
            std::string pos = r.Word();
            if (!ParseNumber(pos, -0x7fffffffLL, 0x7fffffffLL, &c.number)) {
                *why = "bad position " + QuoteCut(pos);
                return std::nullopt;
            }
            if (!noMore()) return std::nullopt;
        } else if (word == "key") {
            std::string key = r.Word();
            if (key == "enter") {
                c.op = Command::Enter;
            } else if (key == "escape") {
                c.op = Command::Escape;
            } else if (std::optional<ui::DialogKey> dialogKey = DialogKeyByName(key)) {
                c.op = Command::Key;
                c.number = static_cast<long long>(*dialogKey);
            } else {
                *why = "unknown key " + QuoteCut(key) +
                       " (enter, escape, tab, shift+tab, left, right, up or down)";
                return std::nullopt;
            }
            if (!noMore()) return std::nullopt;
        } else if (word == "close" || word == "dump" || word == "clock") {
            c.op = word == "close" ? Command::Close
                                   : (word == "dump" ? Command::Dump : Command::Clock);
            if (!noMore()) return std::nullopt;
        } else if (word == "tick" || word == "wait") {
            c.op = word == "tick" ? Command::Tick : Command::Wait;
            std::string n = r.Word();
            if (n.empty() && c.op == Command::Tick) {
                c.number = 1;
            } else if (!ParseNumber(n, 0, c.op == Command::Tick ? 1000000000LL : 0xffffffffLL,
                                    &c.number)) {
                *why = n.empty() ? "missing milliseconds" : "bad count " + QuoteCut(n);
                return std::nullopt;
            }
            if (!noMore()) return std::nullopt;
        } else if (word == "answer") {
            std::string which = r.Word();
            if (which != "save" && which != "open") {
                *why = "answer save|open PATH|cancel";
                return std::nullopt;
            }
            c.op = which == "save" ? Command::AnswerSave : Command::AnswerOpen;
            // A path is taken as written (backslashes of a Windows path are no escapes);
            // double quotes around it keep outer blanks.
            std::string path = r.Rest();
            size_t first = path.find_first_not_of(" \t");
            size_t last = path.find_last_not_of(" \t");
            path = first == std::string::npos ? "" : path.substr(first, last - first + 1);
            bool quoted = path.size() >= 2 && path.front() == '"' && path.back() == '"';
            if (quoted) path = path.substr(1, path.size() - 2);
            if (path.empty()) {
                *why = "missing path (or cancel)";
                return std::nullopt;
            }
            if (quoted || path != "cancel") c.text = path;
        } else if (word == "sysmenu") {
            std::string item = r.Word();
            if (item != "about") {
                *why = "unknown system menu item " + QuoteCut(item) + " (about)";
                return std::nullopt;
            }
            c.op = Command::SysAbout;
            if (!noMore()) return std::nullopt;
        } else if (word == "get") {
            c.op = Command::Get;
            const std::string what = r.Word();
            if (what == "focus") {
                c.op = Command::GetFocus;
            } else if (!ControlId(what, {}, "", &c.id, why)) {
                return std::nullopt;
            }
            if (!noMore()) return std::nullopt;
        } else if (word == "focus") {
            // The focus put on a control without clicking it (as a mouse press on an
            // edit, or a screen reader's focus).
            c.op = Command::Focus;
            if (!ControlId(r.Word(), {}, "", &c.id, why) || !noMore()) return std::nullopt;
        } else if (word == "sim") {
            c.op = Command::Sim;
            if (!m_sim) {
                *why = "no simulated reader (run with --simulate)";
                return std::nullopt;
            }
            std::string rest = r.Rest();
            size_t b = rest.find_first_not_of(" \t");
            c.text = b == std::string::npos ? "" : rest.substr(b);
        } else {
            *why = "unknown command " + QuoteCut(word);
            return std::nullopt;
        }
        return c;
    }

    bool Execute(const Command& c, std::string* why) {
        switch (c.op) {
            case Command::Click:
                m_dlg.UserClick(c.id);
                break;
            case Command::DblClick:
                m_dlg.UserDoubleClick(c.id);
                break;
            case Command::Type:
                m_dlg.UserType(c.id, *c.text);
                break;
            case Command::Paste:
                m_dlg.UserPaste(c.id, *c.text);
                break;
            case Command::Slider:
                m_dlg.UserSetSlider(IDC_USB_SPEED, static_cast<int>(c.number));
                break;
            case Command::Enter:
                m_dlg.UserPressEnter();
                break;
            case Command::Escape:
                m_dlg.UserPressEscape();
                break;
            case Command::Close:
                m_dlg.UserClose();
                break;
            case Command::Tick:
                for (long long i = 0; i < c.number && !m_dlg.IsEnded(); ++i) {
                    if (m_dlg.TimerPeriod() == 0) break;
                    NextTick();
                }
                break;
            case Command::Wait:
                Wait(static_cast<uint32_t>(c.number));
                break;
            case Command::AnswerSave:
                m_host.saveAnswers.push_back(c.text);
                break;
            case Command::AnswerOpen:
                m_host.openAnswers.push_back(c.text);
                break;
            case Command::SysAbout:
                m_dlg.UserSysCommand(IDM_ABOUTBOX);
                break;
            case Command::Dump:
                for (int id : m_dlg.ControlIds())
                    m_out << ControlLine(m_dlg.GetControl(id)) << "\n";
                if (m_dlg.TimerPeriod() == 0) {
                    m_out << "timer off\n";
                } else {
                    m_out << "timer " << m_dlg.TimerPeriod() << "\n";
                }
                m_out << "mode " << (g_connectionMode == CONNECTION_SERIAL ? "serial" : "usb")
                      << "\n";
                m_out << "received " << Quote(g_strReceived) << "\n";
                break;
            case Command::Get:
                m_out << ControlLine(m_dlg.GetControl(c.id)) << "\n";
                break;
            case Command::Clock:
                m_out << "clock " << static_cast<uint32_t>(zarn::GetClock().NowMs() - m_startMs)
                      << "\n";
                break;
            case Command::Sim:
                return m_sim(*c.text, m_out, why);
            case Command::Key:
                ui::UserKey(m_dlg, static_cast<ui::DialogKey>(c.number));
                break;
            case Command::Focus:
                if (!ui::TakesFocus(m_dlg.GetControl(c.id))) {
                    *why = "control " + std::to_string(c.id) + " cannot take the focus";
                    return false;
                }
                m_dlg.SetFocus(c.id);
                break;
            case Command::GetFocus:
                m_out << "focus " << FocusName(m_dlg.Focus()) << "\n";
                break;
        }
        return true;
    }

    // Timer 1 keeps its schedule from the moment it was (re)started: a tick comes when it
    // is due, so time passes up to that moment first. A poll that overran its period is
    // followed at once by a single pending tick, as the platform coalesces them.
    void NextTick() {
        zarn::Clock& clock = zarn::GetClock();
        const uint32_t now = clock.NowMs();
        if (Before(now, m_host.timerDue)) clock.SleepMs(m_host.timerDue - now);
        const unsigned starts = m_host.timerStarts;
        const uint32_t due = m_host.timerDue;
        m_dlg.TimerTick();
        if (m_host.timerStarts == starts && m_host.timerPeriod != 0) {
            m_host.timerDue = due + m_host.timerPeriod;
            const uint32_t after = clock.NowMs();
            if (Before(m_host.timerDue, after)) m_host.timerDue = after;
        }
    }

    // Time passes on the program's clock, timer 1 ticking whenever it is due. Ticks compare
    // within half the counter's range only, so a longer wait goes in pieces.
    void Wait(uint32_t ms) {
        constexpr uint32_t PIECE_MS = 0x7FFFFFFF;
        for (; ms > PIECE_MS && !m_dlg.IsEnded(); ms -= PIECE_MS) WaitUpTo(PIECE_MS);
        WaitUpTo(ms);
    }

    void WaitUpTo(uint32_t ms) {
        zarn::Clock& clock = zarn::GetClock();
        const uint32_t end = clock.NowMs() + ms;
        while (!m_dlg.IsEnded()) {
            if (m_dlg.TimerPeriod() == 0 || Before(end, m_host.timerDue)) {
                const uint32_t now = clock.NowMs();
                if (Before(now, end)) clock.SleepMs(end - now);
                return;
            }
            NextTick();
        }
    }

    CZARN60TOOLDlg& m_dlg;
    ScriptHost& m_host;
    std::ostream& m_out;
    const SimCommand& m_sim;
    uint32_t m_startMs;
};

}  // namespace

namespace {

// Each script is one run of the program: its program-wide state starts afresh.
void FreshProgramState() {
    g_connectionMode = CONNECTION_USB;
    g_strReceived.clear();
}

}  // namespace

int RunScript(std::istream& script, std::ostream& out, const SimCommand& sim) {
    FreshProgramState();
    const uint32_t startMs = zarn::GetClock().NowMs();
    ScriptHost host(out);
    int status = 0;
    CZARN60TOOLApp app;
    app.InitInstance(host, [&](CZARN60TOOLDlg& dlg) {
        Runner runner(dlg, host, out, sim, startMs);
        status = runner.Run(script);
    });
    zarn::PortTable::CloseAll();  // the run ends, and its ports are left as they were found
    out.flush();
    return status;
}

int RunAccount(std::ostream& out, const SimCommand& sim) {
    struct Step {
        const char* operation;
        const char* link;
        const char* script;
    };
    static const Step kSteps[] = {
        {"Download Setting to Device", "USB 0801:0005", "click IDC_DOWNLOAD\n"},
        {"Upload Setting from Device", "USB 0801:0005", "click IDC_UPLOAD\n"},
        {"Get Version", "USB 0801:0005", "click IDC_GET_VERSION\n"},
        {"Read Card", "USB 0801:0005",
         "sim card B4111111111111111^DOE/JOHN^2912101|4111111111111111=2912101|\n"
         "click IDC_READ_CARD\n"},
        {"Open", "COM1", "click IDC_SERIAL_PORT\nclick IDC_OPEN\n"},
        {"Get Version", "COM1", "click IDC_GET_VERSION\nwait 200\n"},
    };
    FreshProgramState();
    std::ostringstream sink;  // what the runner would print; the account says less
    ScriptHost host(sink);
    int status = 0;
    out << "The dialog, run headless against the simulated reader:\n";
    CZARN60TOOLApp app;
    app.InitInstance(host, [&](CZARN60TOOLDlg& dlg) {
        Runner runner(dlg, host, sink, sim, zarn::GetClock().NowMs());
        for (const Step& step : kSteps) {
            sink.str("");
            host.lastMessage.reset();
            std::istringstream script(step.script);
            if (runner.Run(script) != 0) {
                status = 2;
                out << "  " << step.operation << ": " << sink.str();
                return;
            }
            // A message box is the operation's answer where it shows one.
            const std::string result = host.lastMessage ? "message box " + Quote(*host.lastMessage)
                                                        : Quote(dlg.GetText(IDC_TEST_BOX));
            char line[160];
            std::snprintf(line, sizeof line, "  %-27s over %-14s -> ", step.operation, step.link);
            out << line << result << "\n";
        }
        dlg.UserClick(IDC_EXIT);
    });
    out.flush();
    return out ? status : 1;
}

}  // namespace runner
