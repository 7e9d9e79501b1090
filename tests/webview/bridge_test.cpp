// What crosses between the page and the dialog (gui/web/bridge.h), and the names the page
// gives its controls (ui/accessible_names.h).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "app/zarn60_tool_dlg.h"
#include "gui/web/bridge.h"
#include "res/resources.h"
#include "ui/accessible_names.h"

namespace {

using gui::web::JsonBytes;
using gui::web::JsonString;
using gui::web::JsonU16;

TEST(WebBridge, TextsBecomeJsonThatAScriptParsesBack) {
    struct Row {
        std::string in;
        std::string json;
    };
    const Row utf8[] = {
        {"Setup ok", "\"Setup ok\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"\r\n\t", "\"\\r\\n\\t\""},
        {std::string("\x00\x1f\x7f", 3), "\"\\u0000\\u001f\\u007f\""},
        {"\xE7\xA1\xAE\xE5\xAE\x9A", "\"\xE7\xA1\xAE\xE5\xAE\x9A\""},  // 确定 stays UTF-8
        {"\xE2\x80\xA8", "\"\\u2028\""},                             // ends a script line
        {"\xF0\x9F\x92\xB3", "\"\xF0\x9F\x92\xB3\""},
        // Not UTF-8: a lone continuation byte, a cut sequence, an overlong form, a surrogate.
        {"a\x80z", "\"a\xEF\xBF\xBDz\""},
        {"\xE7\xA1", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const Row& r : utf8) EXPECT_EQ(JsonString(r.in), r.json) << r.in;

    // An edit's bytes are characters U+0000 to U+00FF, whatever they are as UTF-8.
    EXPECT_EQ(JsonBytes("\xE9\x80%"), "\"\xC3\xA9\xC2\x80%\"");
    EXPECT_EQ(JsonBytes(std::string("\x02\x00", 2)), "\"\\u0002\\u0000\"");
    // The test box as shown: control symbols and pairs of surrogates come out whole, a
    // surrogate alone as U+FFFD.
    EXPECT_EQ(JsonU16(u"\u2402V2.10\n"), "\"\xE2\x90\x82V2.10\\n\"");
    EXPECT_EQ(JsonU16(u"\U0001F4B3"), "\"\xF0\x9F\x92\xB3\"");
    EXPECT_EQ(JsonU16(std::u16string(1, u'\xD800') + u"x"), "\"\xEF\xBF\xBDx\"");
}

TEST(WebBridge, TypedTextBecomesTheEditsBytes) {
    struct Row {
        std::string typed;
        std::string bytes;
    };
    const Row rows[] = {
        {"%", "%"},
        {"\xC3\xA9", "\xE9"},                  // é is a byte
        {"\xE2\x82\xAC", "?"},                 // € is none
        {"\xF0\x9F\x92\xB3" "a", "??a"},       // beyond U+FFFF: '?' for each UTF-16 unit, as
                                               // the desktop windows type it
        {"a\x80", "a?"},                       // nor what is not UTF-8
        {"", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(gui::web::TypedToBytes(r.typed), r.bytes) << r.typed;
    // Every byte comes back as itself through the page: shown as JSON, typed back as UTF-8.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    std::string shown = JsonBytes(all);
    std::string utf8;
    for (int b = 1; b < 256; ++b) {
        if (b < 0x80) {
            utf8 += static_cast<char>(b);
        } else {
            utf8 += static_cast<char>(0xC0 | (b >> 6));
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    EXPECT_EQ(gui::web::TypedToBytes(utf8), all);
    EXPECT_NE(shown.find("\xC3\xBF"), std::string::npos);
}

// The page finds and a screen reader speaks each control by its name: every control a
// user operates has one, no two of one kind share it, and every radio button belongs to a
// named group.
TEST(WebBridge, EveryControlOfTheDialogHasItsOwnName) {
    const res::DialogTemplate& tpl = res::MainDialogTemplate();
    CZARN60TOOLDlg dialog;
    dialog.Create();
    std::map<res::Kind, std::set<std::string>> seen;
    for (size_t i = 0; i < tpl.controls.size(); ++i) {
        const res::ControlTemplate& c = tpl.controls[i];
        if (c.style & res::STYLE_HIDDEN) continue;
        std::string name;
        switch (c.kind) {
            case res::Kind::Edit:
            case res::Kind::Combo:
            case res::Kind::Slider:
                name = ui::AccessibleNameOf(tpl, i);
                break;
            case res::Kind::Radio:
                name = ui::RowNameOf(tpl, i);
                if (name.empty()) name = ui::PlainCaption(c.caption);
                break;
            case res::Kind::Check:
            case res::Kind::Button:
                name = ui::PlainCaption(c.caption);
                break;
            default:
                continue;
        }
        EXPECT_FALSE(name.empty()) << "control " << c.id;
        EXPECT_TRUE(seen[c.kind].insert(name).second) << "two controls named " << name;
        if (c.kind == res::Kind::Radio) {
            const ui::Control& model = dialog.GetControl(c.id);
            size_t leader = 0;
            while (leader < tpl.controls.size() && tpl.controls[leader].id != model.groupLeader)
                ++leader;
            ASSERT_LT(leader, tpl.controls.size()) << c.id;
            EXPECT_FALSE(ui::RadioGroupNameOf(tpl, leader).empty()) << c.id;
        }
    }
    const std::string json = gui::web::TemplateJson(tpl, dialog);
    EXPECT_NE(json.find("\"name\":\"Track 2 End: [Max:2 digits]\""), std::string::npos);
    EXPECT_NE(json.find("\"groupName\":\"End Track 1 with\""), std::string::npos);
    EXPECT_NE(json.find("\"name\":\"SS TRK1\""), std::string::npos);
}

TEST(WebBridge, FileDialogsAndTheSystemMenuAsThePageAsksForThem) {
    ui::FileDialogRequest save;
    save.save = true;
    save.title = "\xE6\x95\xB0\xE6\x8D\xAE";
    save.initialFile = "Setup.cfg";
    save.defaultExt = "cfg";
    save.filter = "Configuration file   (*.cfg)|*.cfg|All   Files   (*.*)|*.*||";
    EXPECT_EQ(gui::web::FileRequestJson(save),
              "{\"save\":true,\"title\":\"\xE6\x95\xB0\xE6\x8D\xAE\",\"file\":\"Setup.cfg\","
              "\"ext\":\".cfg\",\"types\":[{\"name\":\"Configuration file (*.cfg)\","
              "\"patterns\":[\".cfg\"]},{\"name\":\"All Files (*.*)\",\"patterns\":[]}]}");
    ui::FileDialogRequest open;
    open.defaultExt = ".cfg";
    open.filter = "Settings|*.cfg;*.CFG|broken";
    EXPECT_EQ(gui::web::FileRequestJson(open),
              "{\"save\":false,\"title\":\"\",\"file\":\"\",\"ext\":\".cfg\",\"types\":[{"
              "\"name\":\"Settings\",\"patterns\":[\".cfg\",\".CFG\"]}]}");

    CZARN60TOOLDlg dialog;
    dialog.Create();
    // "关于 ZARN TOOLS(&A)...": the mnemonic is the page's access key, the '&' is not shown.
    EXPECT_EQ(gui::web::MenuJson(dialog),
              "[{\"command\":16,\"text\":\"\xE5\x85\xB3\xE4\xBA\x8E ZARN TOOLS(A)...\","
              "\"key\":\"a\"}]");
}

}  // namespace
