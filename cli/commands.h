// What the subcommands do, apart from parsing the command line: loading and saving
// configuration documents, the apply logic, and the card-output preview.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/fields.h"
#include "cli/reader_link.h"
#include "protocol/card_format.h"

namespace cli {

// A configuration file: a .cfg names every field of the read image, a .json document
// the fields it holds.
struct Document {
    std::string path;
    bool isCfg = false;
    ConfigReadImage cfg{};
    nlohmann::json json;
};

// Throws EXIT_FILE for a file that cannot be read, a .cfg that is not 56 bytes, JSON that
// does not parse, and EXIT_USAGE for a name that ends in neither .cfg nor .json.
Document LoadDocument(const std::string& path);
// Throws EXIT_USAGE for a name that ends in neither .cfg nor .json.
void CheckConfigName(const std::string& path);
// The document's values over `base`; throws EXIT_FILE naming the field it refuses.
Settings Resolve(const Document& doc, const Settings& base);
// The factory configuration as a read image: the base of documents read without a reader.
Settings FactorySettings();

// .cfg byte for byte, .json by name; nothing partial is left on failure (EXIT_FILE).
void SaveSettings(const std::string& path, const Settings& settings);
// The document as pretty JSON text with a final newline.
std::string JsonText(const nlohmann::ordered_json& doc);

// The write image the window would send for these settings over this kind of link: the
// read image's fields, the speed (6 over USB, 7 over a serial port) and the USB HID mode
// byte (off) unless the settings name them.
ConfigWriteImage WriteImageFor(const Settings& settings, bool usb);

// Whether two read images agree in every byte the write image carries.
bool SameCarried(const ConfigReadImage& a, const ConfigReadImage& b);

struct ApplyResult {
    bool changed = false;  // written (or, in a dry run, would be)
    bool dryRun = false;
    std::vector<Change> changes;
    // Named read-only fields whose values the reader does not hold afterwards.
    std::vector<std::string> notCarried;
};
// Reads the reader, writes only when the result differs (or `force`), reads back and
// verifies. Throws EXIT_LINK (a failure after the write says the reader may be half
// written) or EXIT_VERIFY.
ApplyResult Apply(ReaderLink& link, const Document& doc, bool dryRun, bool force);
nlohmann::ordered_json ApplyJson(const ApplyResult& result, const std::string& where);
std::string ApplyText(const ApplyResult& result, const std::string& where);

nlohmann::ordered_json ChangesJson(const std::vector<Change>& changes);

// What a swipe of `card` makes the reader send under these settings.
std::string Preview(const Settings& settings, const cardfmt::Card& card);

// Upper-case hex, bytes separated by blanks.
std::string HexBytes(const uint8_t* data, size_t size);
inline std::string HexBytes(const std::string& s) {
    return HexBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace cli
