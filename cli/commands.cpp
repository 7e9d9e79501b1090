#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <unordered_set>

#include "base/file_io.h"
#include "cli/half_written.h"
#include "cli/input.h"
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

// Thrown from the parser's callback to end the parse with a reason of the program's own.
struct DocumentError {
    std::string why;
};
// An object ended with fewer members than names given for it.
struct NameGivenTwice {};

}  // namespace

bool IsCfgName(const std::string& path, const std::string& format) {
    if (!format.empty() && format != "cfg" && format != "json")
        throw Error(EXIT_USAGE, "--format " + format + ": the formats are cfg and json");
    // A name that says its format keeps it: --format speaks for "-" and other names.
    if (path != "-" && EndsWith(path, ".cfg")) return true;
    if (path != "-" && EndsWith(path, ".json")) return false;
    if (!format.empty()) return format == "cfg";
    if (path == "-")
        throw Error(EXIT_USAGE,
                    "-: give --format cfg or --format json for standard input or output");
    throw Error(EXIT_USAGE,
                path + ": a configuration file ends in .cfg or .json (or give --format)");
}

nlohmann::json ParseDocument(const std::string& text, const std::string& what) {
    // A NUL byte would end the parse early and leave the rest unread; it has no place in
    // JSON text at all.
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        throw Error(EXIT_FILE, what + ": not JSON: a NUL byte at byte " + std::to_string(nul + 1));
    // A name given twice is refused, as the last one would silently win. Each object's
    // names are counted as they come and compared with the object's size at its end, so
    // that the check costs the same for each name and the work stays linear in the input;
    // only when they differ is the text read again, with a set of names per object, to
    // name the first name given twice. The last name seen names the field of a value that
    // cannot be read.
    std::vector<size_t> counts;
    std::string lastKey;
    const auto counted = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using E = nlohmann::json::parse_event_t;
        if (event == E::object_start) {
            counts.push_back(0);
        } else if (event == E::key && !counts.empty()) {
            ++counts.back();
            lastKey = parsed.get_ref<const std::string&>();
        } else if (event == E::object_end && !counts.empty()) {
            const size_t names = counts.back();
            counts.pop_back();
            if (parsed.size() != names) throw NameGivenTwice{};
        }
        return true;
    };
    std::vector<std::unordered_set<std::string>> open;
    const auto named = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using E = nlohmann::json::parse_event_t;
        if (event == E::object_start) open.emplace_back();
        if (event == E::object_end && !open.empty()) open.pop_back();
        if (event == E::key && !open.empty()) {
            const std::string& key = parsed.get_ref<const std::string&>();
            if (!open.back().insert(key).second)
                throw DocumentError{ShownName(key) + ": given twice"};
        }
        return true;
    };
    nlohmann::json doc;
    try {
        try {
            doc = nlohmann::json::parse(text, counted);
        } catch (const NameGivenTwice&) {
            doc = nlohmann::json::parse(text, named);
            throw DocumentError{"a name is given twice"};
        }
    } catch (const DocumentError& e) {
        throw Error(EXIT_FILE, what + ": " + e.why);
    } catch (const nlohmann::json::parse_error& e) {
        // The library's text names the line and column.
        const std::string full = e.what();
        const size_t at = full.find("parse error");
        throw Error(EXIT_FILE,
                    what + ": not JSON: " + (at == std::string::npos ? full : full.substr(at)));
    } catch (const nlohmann::json::exception& e) {
        // A number beyond a double's range; the text names the token.
        std::string full = e.what();
        const size_t bracket = full.find("] ");
        if (bracket != std::string::npos) full = full.substr(bracket + 2);
        throw Error(EXIT_FILE,
                    what + ": " + (lastKey.empty() ? "" : ShownName(lastKey) + ": ") + full);
    }
    if (!doc.is_object())
        throw Error(EXIT_FILE, what + ": the document must be a JSON object of named fields");
    return doc;
}

Document LoadDocument(const std::string& path, const std::string& format) {
    Document doc;
    doc.path = path;
    doc.isCfg = IsCfgName(path, format);
    const std::string what = path == "-" ? "standard input" : path;
    uint64_t size = 0;
    const std::string bytes =
        ReadInput(path, doc.isCfg ? protocol::CONFIG_READ_IMAGE_SIZE : kMaxDocumentBytes, &size);
    if (doc.isCfg) {
        // As the window loads it: the first 56 bytes, the rest ignored.
        if (bytes.size() < protocol::CONFIG_READ_IMAGE_SIZE)
            throw Error(EXIT_FILE, what + ": a .cfg file holds 56 bytes, this one " +
                                       std::to_string(bytes.size()));
        if (size > protocol::CONFIG_READ_IMAGE_SIZE)
            std::cerr << "zarn60: note: " << PrintableText(what) << ": "
                      << (path == "-" ? "more than 56" : std::to_string(size))
                      << " bytes; the bytes after the first 56 were ignored\n";
        std::copy(bytes.begin(), bytes.end(), doc.cfg.begin());
        return doc;
    }
    if (size > kMaxDocumentBytes)
        throw Error(EXIT_FILE,
                    what + ": " +
                        (path == "-" ? "more than 1 MiB" : std::to_string(size) + " bytes") +
                        "; a configuration document holds at most 1 MiB");
    doc.json = ParseDocument(bytes, what);
    // Check the names and values once now, so that a bad document fails before any reader
    // is asked.
    Settings probe;
    std::string why;
    if (!MergeJson(doc.json, &probe, &why)) throw Error(EXIT_FILE, what + ": " + why);
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
    s.image = protocol::MakeConfigReadImage(
        protocol::ParseConfigWriteImage(protocol::FactoryWriteImageHid()), {}, 0);
    return s;
}

std::string JsonText(const nlohmann::ordered_json& doc) {
    return doc.dump(2, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
}

void SaveSettings(const std::string& path, const Settings& settings, const std::string& format) {
    const bool cfg = IsCfgName(path, format);
    const std::string bytes = cfg ? std::string(settings.image.begin(), settings.image.end())
                                  : JsonText(ToJson(settings));
    if (path == "-") {
        std::cout.write(bytes.data(), std::streamsize(bytes.size()));
        return;
    }
    // The .cfg through the settings file's own writer, as the window saves it.
    // The file layer's reason (a folder, a FIFO, a full disk, read-only) is the message.
    std::string why;
    const bool written = cfg ? settings_file::WriteSettingsFile(path, settings.image, &why)
                             : zarn::files::WriteFileSafely(path, bytes, &why);
    if (!written)
        throw Error(EXIT_FILE, path + ": cannot write: " + (why.empty() ? "failed" : why));
}

protocol::ConfigWriteImage WriteImageFor(const Settings& settings, bool usb) {
    protocol::ReaderConfig config = protocol::ParseConfigReadImage(settings.image);
    // The window's trackbar starts at 6 and is set to 7 in serial port mode; its hidden
    // "USB HID MODE" box is never checked.
    config.usbSpeed =
        settings.usbSpeed.value_or(usb ? protocol::USB_SPEED_USB : protocol::USB_SPEED_SERIAL);
    config.usbHidModeOff = settings.usbHidMode.value_or(false) ? 0 : 1;
    return protocol::MakeConfigWriteImage(config);
}

bool SameCarried(const protocol::ConfigReadImage& a, const protocol::ConfigReadImage& b) {
    using namespace protocol::rimg;
    return std::equal(a.begin(), a.begin() + READER_OWN_HEAD, b.begin()) &&
           std::equal(a.begin() + OPTION_FLAGS, a.begin() + READER_OWN_TAIL,
                      b.begin() + OPTION_FLAGS);
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

protocol::ConfigReadImage WriteAndVerify(
    ReaderLink& link, const protocol::ConfigWriteImage& image, bool factory,
    const protocol::ConfigReadImage& expected,
    const std::function<std::string(const protocol::ConfigReadImage&)>& what) {
    const HalfWrittenOnSignal saysHalfWritten(link.Where());
    link.WriteImage(image, factory);
    protocol::ConfigReadImage after{};
    try {
        after = link.ReadConfig();
    } catch (const Error& e) {
        throw Error(EXIT_LINK,
                    std::string(e.what()) + " after the write; the reader may be half written");
    }
    if (!SameCarried(after, expected))
        throw Error(EXIT_VERIFY, link.Where() + ": the read-back differs from " + what(after));
    return after;
}

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

    const protocol::ConfigReadImage after =
        WriteAndVerify(link, WriteImageFor(wanted, link.IsUsb()), false, wanted.image,
                       [&](const protocol::ConfigReadImage& held) {
                           std::string fields;
                           for (const auto& c : CarriedChanges(wanted, Settings{held, {}, {}}))
                               fields += (fields.empty() ? "" : ", ") + c.field;
                           return "what was written in " + fields;
                       });
    result.notCarried = ReadOnlyDifferences(wanted, Settings{after, {}, {}}, named);
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

std::string ChangesText(const std::vector<Change>& changes) {
    std::string out;
    for (const auto& c : changes)
        out += c.field + ": " + ValueText(c.from) + " -> " + ValueText(c.to) + "\n";
    return out;
}

std::string ApplyText(const ApplyResult& result, const std::string& where) {
    std::ostringstream out;
    out << ChangesText(result.changes);
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

std::string Preview(const Settings& settings, const protocol::cardfmt::Card& card) {
    return protocol::cardfmt::FormatCardData(protocol::ParseConfigReadImage(settings.image), card);
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
