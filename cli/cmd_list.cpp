// zarn60 list: the readers on USB and the serial ports, and why one cannot be opened.
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/subcommands.h"
#include "link/serial_link.h"

namespace cli {
namespace {

using json = nlohmann::ordered_json;

int List(bool asJson) {
    json usb = json::array();
    for (const auto& d : zarn::DescribeHidInterfaces()) {
        const bool reader = IsReaderInterface(d);
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
        std::cout << JsonText({{"usb", usb}, {"serial", serial}});
        return 0;
    }
    // Device names come from the system and the environment: no byte of them drives the
    // terminal.
    const auto text = [](const json& v) { return PrintableText(v.get<std::string>()); };
    std::string out;
    if (usb.empty()) out += "usb: no reader found\n";
    for (const auto& e : usb) {
        out += "usb\t" + text(e["node"]) + "\t" +
               (e.contains("vendor")
                    ? e["vendor"].get<std::string>() + ":" + e["product"].get<std::string>()
                    : std::string("????:????"));
        if (e["openable"].get<bool>())
            out += "\tinput " + e["input_length"].dump() + " output " + e["output_length"].dump();
        else
            out += "\tcannot open: " + text(e["why_not"]);
        out += "\n";
    }
    if (serial.empty()) out += "serial: no ports found\n";
    for (const auto& e : serial) {
        out += "COM" + e["com"].dump() + "\t" + text(e["device"]);
        if (!e["openable"].get<bool>()) out += "\tcannot open: " + text(e["why_not"]);
        out += "\n";
    }
    std::cout << out;
    return 0;
}

}  // namespace

Subcommand SetupList(CLI::App& parent) {
    auto* cmd = parent.add_subcommand(
        "list",
        "readers on USB and serial ports, and why one cannot be opened; a simulated reader "
        "on a pseudo-terminal is listed when ZARN60_COM<n> names it (zarn60-sim --serial "
        "prints the line to export)");
    auto asJson = std::make_shared<bool>(false);
    cmd->add_flag("--json", *asJson, "print JSON");
    return {cmd, [asJson] { return List(*asJson); }};
}

}  // namespace cli
