// What the subcommands do, apart from parsing the command line: loading and saving
// configuration documents, the apply logic, and the card-output preview.
#pragma once

#include <functional>
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
    std::string path;  // "-" for standard input
    bool isCfg = false;
    protocol::ConfigReadImage cfg{};
    nlohmann::json json;
};

// The largest JSON document read: far above any configuration, far below what would strain
// memory.
constexpr size_t kMaxDocumentBytes = 1 << 20;

// Whether `path` is a .cfg (true) or .json (false) file: from the name's ending, else from
// --format ("cfg" or "json"). Throws EXIT_USAGE for a bad --format, for "-"
// without one and for a name that ends in neither.
bool IsCfgName(const std::string& path, const std::string& format);

// Reads a configuration file, "-" being standard input. A .cfg is read from its first 56
// bytes; when it is longer, one note on stderr says the rest was ignored. Throws EXIT_FILE
// for a file that cannot be read or is not a regular file, a .cfg shorter than 56 bytes, a
// document larger than kMaxDocumentBytes, JSON that does not parse (a duplicate name, bytes
// after the document and a number beyond a double's range included) or names a field it
// cannot take, and EXIT_USAGE as IsCfgName does.
Document LoadDocument(const std::string& path, const std::string& format = {});
// Parses a JSON configuration document; EXIT_FILE with "`what`: reason" as LoadDocument.
nlohmann::json ParseDocument(const std::string& text, const std::string& what);
// The document's values over `base`; throws EXIT_FILE naming the field it refuses.
Settings Resolve(const Document& doc, const Settings& base);
// The factory configuration as a read image: the base of documents read without a reader.
Settings FactorySettings();

// .cfg byte for byte, .json by name, "-" to standard output in `format`; a file is written
// through a temporary one, so nothing partial is left on failure (EXIT_FILE).
void SaveSettings(const std::string& path, const Settings& settings,
                  const std::string& format = {});
// The document as pretty JSON text with a final newline; every byte outside printable
// ASCII is written as a \u escape, so no document carries a control byte.
std::string JsonText(const nlohmann::ordered_json& doc);

// The write image the window would send for these settings over this kind of link: the
// read image's fields, the speed (6 over USB, 7 over a serial port) and the USB HID mode
// byte (off) unless the settings name them.
protocol::ConfigWriteImage WriteImageFor(const Settings& settings, bool usb);

// Whether two read images agree in every byte the write image carries.
bool SameCarried(const protocol::ConfigReadImage& a, const protocol::ConfigReadImage& b);

// Sends `image`, reads the reader back and checks that it holds `expected` in every carried
// byte; returns what it holds. A read-back that fails says the reader may be half written
// (EXIT_LINK); one that differs throws EXIT_VERIFY with "WHERE: the read-back differs from
// " + what(the read-back).
protocol::ConfigReadImage WriteAndVerify(
    ReaderLink& link, const protocol::ConfigWriteImage& image, bool factory,
    const protocol::ConfigReadImage& expected,
    const std::function<std::string(const protocol::ConfigReadImage&)>& what);

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
// The changes as the text and JSON outputs list them: "field: old -> new" lines.
std::string ChangesText(const std::vector<Change>& changes);

// What a swipe of `card` makes the reader send under these settings.
std::string Preview(const Settings& settings, const protocol::cardfmt::Card& card);

// Upper-case hex, bytes separated by blanks.
std::string HexBytes(const uint8_t* data, size_t size);
inline std::string HexBytes(const std::string& s) {
    return HexBytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace cli
