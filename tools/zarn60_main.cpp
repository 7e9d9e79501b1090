// zarn60: the reader from the command line. The same exchanges as the window, without the
// dialog: list, show, apply, save, factory, version, read-card, and file work without a
// reader (decode, encode, diff, preview, schema).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/fields.h"
#include "cli/reader_link.h"
#include "link/hid_link.h"
#include "link/serial_link.h"
#include "protocol/factory_images.h"

namespace {

using cli::Error;
using json = nlohmann::ordered_json;

const char* const kExitCodes =
    "Exit codes: 0 done (also: nothing to change), 1 bad usage, 2 no reader, link failure or\n"
    "reader refused, 3 file or format error, 4 read-back did not match.\n"
    "See zarn60(1) for the JSON fields (or run: zarn60 schema).";

struct LinkFlags {
    // One --usb per subcommand that talks to a reader.
    std::vector<CLI::Option*> usb;
    std::string usbNode;
    int com = 0;
    std::string port;

    void AddTo(CLI::App* cmd) {
        usb.push_back(
            cmd->add_option("--usb", usbNode,
                            "the reader on USB; NODE (e.g. /dev/hidraw3) picks one, else the "
                            "first with vendor 0801 or 0802 (the default link)")
                ->expected(0, 1)
                ->type_name("[NODE]"));
        cmd->add_option("--com", com, "the reader on serial port COM N (9600 8N1)")->type_name("N");
        cmd->add_option("--port", port, "the reader on this serial device")->type_name("PATH");
    }
    cli::LinkOptions Options() const {
        cli::LinkOptions o;
        for (const auto* opt : usb) o.usb = o.usb || opt->count() > 0;
        o.usbNode = usbNode;
        o.com = com;
        o.port = port;
        return o;
    }
};

void PrintSettings(const cli::Settings& s, bool asJson, bool raw) {
    json doc = cli::ToJson(s);
    if (asJson) {
        if (raw) doc["$raw"] = cli::HexBytes(s.image.data(), s.image.size());
        std::cout << cli::JsonText(doc);
        return;
    }
    for (const auto& [name, value] : doc.items())
        std::cout << name << ": " << cli::ValueText(value) << "\n";
    if (raw) std::cout << "raw: " << cli::HexBytes(s.image.data(), s.image.size()) << "\n";
}

int List(bool asJson) {
    json usb = json::array();
    for (const auto& d : zarn::DescribeHidInterfaces()) {
        const bool reader = cli::IsReaderInterface(d);
        // Interfaces whose ids cannot be learnt may be readers the user cannot open.
        if (d.haveIds && !reader) continue;
        json e = {{"node", d.path}};
        if (d.haveIds) {
            char ids[8];
            std::snprintf(ids, sizeof ids, "%04x", d.vendorId);
            e["vendor"] = ids;
            std::snprintf(ids, sizeof ids, "%04x", d.productId);
            e["product"] = ids;
        }
        e["input_length"] = d.inputLength;
        e["output_length"] = d.outputLength;
        e["openable"] = d.openable;
        if (!d.openable) e["why_not"] = d.whyNot;
        usb.push_back(e);
    }
    json serial = json::array();
    for (const auto& p : zarn::GetSerialBackend().ListPorts()) {
        json e = {{"com", p.number}, {"device", p.device}};
        e["openable"] = p.state == zarn::SerialOpenError::None;
        if (p.state != zarn::SerialOpenError::None) {
            std::string why = zarn::SerialOpenErrorText(p.state);
            if (!p.detail.empty()) why += " (" + p.detail + ")";
            e["why_not"] = why;
        }
        serial.push_back(e);
    }
    if (asJson) {
        std::cout << cli::JsonText({{"usb", usb}, {"serial", serial}});
        return 0;
    }
    if (usb.empty()) std::cout << "usb: no reader found\n";
    for (const auto& e : usb) {
        std::cout << "usb\t" << e["node"].get<std::string>() << "\t"
                  << (e.contains("vendor")
                          ? e["vendor"].get<std::string>() + ":" + e["product"].get<std::string>()
                          : std::string("????:????"));
        if (e["openable"].get<bool>()) {
            std::cout << "\tinput " << e["input_length"] << " output " << e["output_length"];
        } else {
            std::cout << "\tcannot open: " << e["why_not"].get<std::string>();
        }
        std::cout << "\n";
    }
    if (serial.empty()) std::cout << "serial: no ports found\n";
    for (const auto& e : serial) {
        std::cout << "COM" << e["com"] << "\t" << e["device"].get<std::string>();
        if (!e["openable"].get<bool>())
            std::cout << "\tcannot open: " << e["why_not"].get<std::string>();
        std::cout << "\n";
    }
    return 0;
}

// A diff side: a file, or "reader" (read once, over the command's link).
cli::Settings Side(const std::string& what, std::optional<cli::Settings>& reader,
                   const LinkFlags& link) {
    if (what == "reader") {
        if (!reader) {
            cli::ReaderLink l(link.Options());
            reader = cli::Settings{l.ReadConfig(), {}, {}};
        }
        return *reader;
    }
    return cli::Resolve(cli::LoadDocument(what), reader ? *reader : cli::FactorySettings());
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zarn60: configure and test a ZARN60 card reader from the command line"};
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.name("zarn60");
    app.set_version_flag("--version", std::string("zarn60 ") + ZARN60_VERSION);

    bool asJson = false, raw = false, dryRun = false, force = false, hex = false;
    std::string file, fileB, output;
    double timeoutS = 10;
    std::string track1, track2, track3;
    LinkFlags link;

    auto* list = app.add_subcommand("list",
                                    "readers on USB and serial ports, and why one "
                                    "cannot be opened");
    list->add_flag("--json", asJson, "print JSON");

    auto* show = app.add_subcommand("show", "the reader's configuration by name");
    link.AddTo(show);
    show->add_flag("--json", asJson, "print the JSON document");
    show->add_flag("--raw", raw, "also the 56 bytes in hex");

    auto* apply = app.add_subcommand("apply",
                                     "make the reader's configuration that of FILE "
                                     "(.cfg or .json); writes only when it differs");
    apply->add_option("FILE", file, "a .cfg or .json file")->required();
    link.AddTo(apply);
    apply->add_flag("--dry-run", dryRun, "read the reader and say what would change");
    apply->add_flag("--force", force, "write even when nothing differs");
    apply->add_flag("--json", asJson, "print {\"changed\": bool, \"changes\": [...]}");

    auto* save = app.add_subcommand("save",
                                    "the reader's configuration to FILE (.cfg byte "
                                    "for byte, .json by name)");
    save->add_option("FILE", file, "a .cfg or .json file")->required();
    link.AddTo(save);

    auto* factory = app.add_subcommand("factory",
                                       "send the factory configuration of the link's "
                                       "kind");
    link.AddTo(factory);

    auto* version = app.add_subcommand("version", "the reader's version text");
    link.AddTo(version);

    auto* readCard = app.add_subcommand("read-card",
                                        "ask the reader for card data; prints it "
                                        "as text and hex");
    link.AddTo(readCard);
    readCard->add_option("--timeout", timeoutS, "seconds to wait (default 10)")
        ->check(CLI::Range(0.5, 3600.0));

    auto* decode = app.add_subcommand("decode", "a .cfg file by name, without a reader");
    decode->add_option("FILE", file, "a .cfg file")->required();
    decode->add_flag("--json", asJson, "print the JSON document");

    auto* encode = app.add_subcommand("encode",
                                      "a JSON document to a .cfg file (fields it "
                                      "does not name: factory values)");
    encode->add_option("FILE", file, "a .json file")->required();
    encode->add_option("-o,--output", output, "the .cfg file to write")->required();

    auto* diff = app.add_subcommand("diff",
                                    "the named fields in which A and B differ (each a "
                                    "file or 'reader')");
    diff->add_option("A", file, "a file or reader")->required();
    diff->add_option("B", fileB, "a file or reader")->required();
    link.AddTo(diff);
    diff->add_flag("--json", asJson, "print JSON");

    auto* preview = app.add_subcommand("preview",
                                       "the bytes a swipe of this card would make "
                                       "the reader send under CONFIG");
    preview->add_option("CONFIG", file, "a .cfg or .json file")->required();
    preview->add_option("--track1", track1, "track 1 data without sentinels");
    preview->add_option("--track2", track2, "track 2 data without sentinels");
    preview->add_option("--track3", track3, "track 3 data without sentinels");
    preview->add_flag("--hex", hex, "print hex instead of the bytes");

    auto* schema = app.add_subcommand("schema", "the JSON Schema of configuration documents");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        std::cerr << "zarn60: " << e.what() << " (zarn60 --help)\n";
        return cli::EXIT_USAGE;
    }

    // Serial lines get back the settings found at their open on every way out.
    const zarn::PortsLeftAsFound portsLeftAsFound;
    try {
        if (*list) return List(asJson);
        if (*schema) {
            std::cout << cli::JsonText(cli::Schema());
            return 0;
        }
        if (*decode) {
            const cli::Document doc = cli::LoadDocument(file);
            if (!doc.isCfg) throw Error(cli::EXIT_USAGE, file + ": decode takes a .cfg file");
            PrintSettings(cli::Resolve(doc, {}), asJson, false);
            return 0;
        }
        if (*encode) {
            const cli::Document doc = cli::LoadDocument(file);
            if (doc.isCfg) throw Error(cli::EXIT_USAGE, file + ": encode takes a .json file");
            const cli::Settings s = cli::Resolve(doc, cli::FactorySettings());
            cli::SaveSettings(output, s);
            return 0;
        }
        if (*preview) {
            const cli::Settings s = cli::Resolve(cli::LoadDocument(file), cli::FactorySettings());
            cardfmt::Card card;
            card.tracks = {track1, track2, track3};
            const std::string bytes = cli::Preview(s, card);
            if (hex)
                std::cout << cli::HexBytes(bytes) << "\n";
            else
                std::cout << bytes;
            return 0;
        }
        if (*diff) {
            std::optional<cli::Settings> reader;
            // The reader first, so that a partial document is read over its values.
            if (file == "reader" || fileB == "reader") Side("reader", reader, link);
            const cli::Settings a = Side(file, reader, link);
            const cli::Settings b = Side(fileB, reader, link);
            const auto changes = cli::Diff(a, b);
            if (asJson) {
                std::cout << cli::JsonText(cli::ChangesJson(changes));
            } else if (changes.empty()) {
                std::cout << "no differences\n";
            } else {
                for (const auto& c : changes)
                    std::cout << c.field << ": " << cli::ValueText(c.from) << " -> "
                              << cli::ValueText(c.to) << "\n";
            }
            return 0;
        }
        if (*apply) {
            // A bad file fails before the reader is touched.
            const cli::Document doc = cli::LoadDocument(file);
            cli::ReaderLink l(link.Options());
            const cli::ApplyResult r = cli::Apply(l, doc, dryRun, force);
            if (asJson)
                std::cout << cli::ApplyJson(r, l.Where()).dump() << "\n";
            else
                std::cout << cli::ApplyText(r, l.Where());
            return 0;
        }
        if (*save) {
            cli::CheckConfigName(file);
            cli::ReaderLink l(link.Options());
            const cli::Settings s{l.ReadConfig(), {}, {}};
            cli::SaveSettings(file, s);
            std::cout << "saved " << l.Where() << " to " << file << "\n";
            return 0;
        }
        cli::ReaderLink l(link.Options());
        if (*show) {
            PrintSettings(cli::Settings{l.ReadConfig(), {}, {}}, asJson, raw);
        } else if (*factory) {
            const ConfigWriteImage image =
                l.IsUsb() ? FactoryWriteImageHid() : FactoryWriteImageSerial();
            l.WriteImage(image, true);
            const ConfigReadImage expected =
                MakeConfigReadImage(ParseConfigWriteImage(image), {}, 0);
            ConfigReadImage after{};
            try {
                after = l.ReadConfig();
            } catch (const Error& e) {
                throw Error(cli::EXIT_LINK, std::string(e.what()) +
                                                " after the write; the reader may be half written");
            }
            if (!cli::SameCarried(after, expected))
                throw Error(cli::EXIT_VERIFY,
                            l.Where() + ": the read-back differs from the factory configuration");
            std::cout << "factory configuration written and verified on " << l.Where() << "\n";
        } else if (*version) {
            std::cout << l.ReadVersion() << "\n";
        } else if (*readCard) {
            const std::string data = l.ReadCard(static_cast<uint32_t>(timeoutS * 1000));
            std::cout << "text: " << cli::EscapeBytes(data) << "\n"
                      << "hex: " << cli::HexBytes(data) << "\n";
        }
        return 0;
    } catch (const Error& e) {
        std::cerr << "zarn60: " << e.what() << "\n";
        return e.Code();
    }
}
