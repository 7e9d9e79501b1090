#include "cli/commands.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/file_io.h"
#include "protocol/factory_images.h"
#include "settings_file/settings_file.h"

namespace cli {
namespace {

using json = nlohmann::ordered_json;

bool EndsWith(const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    for (size_t i = 0; i < tail.size(); ++i) {
        const char a = s[s.size() - tail.size() + i];
        if (std::tolower(static_cast<unsigned char>(a)) != tail[i]) return false;
    }
    return true;
}

std::string Errno() {
    return std::strerror(errno);
}

}  // namespace

void CheckConfigName(const std::string& path) {
    if (!EndsWith(path, ".cfg") && !EndsWith(path, ".json"))
        throw Error(EXIT_USAGE, path + ": a configuration file ends in .cfg or .json");
}

Document LoadDocument(const std::string& path) {
    Document doc;
    doc.path = path;
    CheckConfigName(path);
    doc.isCfg = EndsWith(path, ".cfg");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(EXIT_FILE, path + ": cannot read: " + Errno());
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Error(EXIT_FILE, path + ": cannot read: " + Errno());
    if (doc.isCfg) {
        if (bytes.size() != CONFIG_READ_IMAGE_SIZE)
            throw Error(EXIT_FILE, path + ": a .cfg file holds 56 bytes, this one " +
                                       std::to_string(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), doc.cfg.begin());
        return doc;
    }
    try {
        doc.json = nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::parse_error& e) {
        // The library's text names the line and column.
        std::string what = e.what();
        const size_t colon = what.find("parse error");
        throw Error(EXIT_FILE, path + ": not JSON: " +
                                   (colon == std::string::npos ? what : what.substr(colon)));
    }
    if (!doc.json.is_object())
        throw Error(EXIT_FILE, path + ": the document must be a JSON object of named fields");
    // Check the names and values once now, so that a bad document fails before any reader
    // is asked.
    Settings probe;
    std::string why;
    if (!MergeJson(doc.json, &probe, &why)) throw Error(EXIT_FILE, path + ": " + why);
    return doc;
}

Settings Resolve(const Document& doc, const Settings& base) {
    Settings s = base;
    if (doc.isCfg) {
        s.image = doc.cfg;
        return s;
    }
    std::string why;
    if (!MergeJson(doc.json, &s, &why)) throw Error(EXIT_FILE, doc.path + ": " + why);
    return s;
}

Settings FactorySettings() {
    Settings s;
    s.image = MakeConfigReadImage(ParseConfigWriteImage(FactoryWriteImageHid()), {}, 0);
    return s;
}

std::string JsonText(const nlohmann::ordered_json& doc) {
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void SaveSettings(const std::string& path, const Settings& settings) {
    if (EndsWith(path, ".cfg")) {
        if (!WriteSettingsFile(path, settings.image))
            throw Error(EXIT_FILE, path + ": cannot write the settings file");
    } else if (EndsWith(path, ".json")) {
        if (!zarn::files::WriteFileSafely(path, JsonText(ToJson(settings))))
            throw Error(EXIT_FILE, path + ": cannot write the file");
    } else {
        throw Error(EXIT_USAGE, path + ": a configuration file ends in .cfg or .json");
    }
}

ConfigWriteImage WriteImageFor(const Settings& settings, bool usb) {
    ReaderConfig config = ParseConfigReadImage(settings.image);
    // The window's trackbar starts at 6 and is set to 7 in serial port mode; its hidden
    // "USB HID MODE" box is never checked.
    config.usbSpeed = settings.usbSpeed.value_or(usb ? 6 : 7);
    config.usbHidModeOff = settings.usbHidMode.value_or(false) ? 0 : 1;
    return MakeConfigWriteImage(config);
}

bool SameCarried(const ConfigReadImage& a, const ConfigReadImage& b) {
    return std::equal(a.begin(), a.begin() + 13, b.begin()) &&
           std::equal(a.begin() + 17, a.begin() + 55, b.begin() + 17);
}

namespace {

std::vector<std::string> ReadOnlyDifferences(const Settings& wanted, const Settings& held,
                                             const std::vector<std::string>& named) {
    std::vector<std::string> out;
    for (const auto& c : Diff(wanted, held)) {
        bool readOnly = false;
        for (const auto& f : Fields())
            if (f.name == c.field) readOnly = f.carried == Carried::ReadOnly;
        if (!readOnly) continue;
        for (const auto& n : named)
            if (n == c.field) out.push_back(c.field);
    }
    return out;
}

std::vector<Change> CarriedChanges(const Settings& from, const Settings& to) {
    std::vector<Change> out;
    for (auto& c : Diff(from, to)) {
        for (const auto& f : Fields())
            if (f.name == c.field && f.carried == Carried::Both) out.push_back(c);
    }
    return out;
}

}  // namespace

ApplyResult Apply(ReaderLink& link, const Document& doc, bool dryRun, bool force) {
    Settings current;
    current.image = link.ReadConfig();
    const Settings wanted = Resolve(doc, current);
    std::vector<std::string> named;
    if (doc.isCfg) {
        for (const auto& f : Fields())
            if (f.carried != Carried::WriteOnly) named.push_back(f.name);
    } else {
        named = NamedFields(doc.json);
    }

    ApplyResult result;
    result.dryRun = dryRun;
    result.changes = CarriedChanges(current, wanted);
    result.changed = force || !SameCarried(current.image, wanted.image);
    if (!result.changed || dryRun) {
        result.notCarried = ReadOnlyDifferences(wanted, current, named);
        return result;
    }

    link.WriteImage(WriteImageFor(wanted, link.IsUsb()), false);
    Settings after;
    try {
        after.image = link.ReadConfig();
    } catch (const Error& e) {
        throw Error(EXIT_LINK,
                    std::string(e.what()) + " after the write; the reader may be half written");
    }
    if (!SameCarried(after.image, wanted.image)) {
        std::string fields;
        for (const auto& c : CarriedChanges(wanted, after)) {
            fields += (fields.empty() ? "" : ", ") + c.field;
        }
        throw Error(EXIT_VERIFY,
                    link.Where() + ": the read-back differs from what was written in " + fields);
    }
    result.notCarried = ReadOnlyDifferences(wanted, after, named);
    return result;
}

nlohmann::ordered_json ChangesJson(const std::vector<Change>& changes) {
    json list = json::array();
    for (const auto& c : changes)
        list.push_back({{"field", c.field}, {"from", c.from}, {"to", c.to}});
    return list;
}

nlohmann::ordered_json ApplyJson(const ApplyResult& result, const std::string& where) {
    return {{"changed", result.changed},
            {"dry_run", result.dryRun},
            {"link", where},
            {"changes", ChangesJson(result.changes)},
            {"not_carried", result.notCarried}};
}

std::string ApplyText(const ApplyResult& result, const std::string& where) {
    std::ostringstream out;
    for (const auto& c : result.changes)
        out << c.field << ": " << ValueText(c.from) << " -> " << ValueText(c.to) << "\n";
    if (!result.changed) {
        out << "nothing to change on " << where << "\n";
    } else if (result.dryRun) {
        out << "would write " << where << " (dry run: nothing sent)\n";
    } else {
        out << "written and verified on " << where << "\n";
    }
    for (const auto& n : result.notCarried)
        out << "not carried: " << n << " (the write image has no place for it)\n";
    return out.str();
}

std::string Preview(const Settings& settings, const cardfmt::Card& card) {
    return cardfmt::FormatCardData(ParseConfigReadImage(settings.image), card);
}

std::string HexBytes(const uint8_t* data, size_t size) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", data[i]);
        if (i) out += ' ';
        out += hex;
    }
    return out;
}

}  // namespace cli
