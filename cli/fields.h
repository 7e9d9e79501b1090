// The reader's configuration by name: every byte of the 56-byte read image (the .cfg file)
// under a name a person can read and review in a diff, plus the two values only the write
// image carries. The JSON document is an object of these names; `zarn60 schema` prints
// its JSON Schema.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "protocol/reader_config.h"

namespace cli {

// A configuration as a document or a reader gives it. The write-only values are unset
// when nobody named them: the program then sends what the window would.
struct Settings {
    protocol::ConfigReadImage image{};
    std::optional<uint8_t> usbSpeed;
    std::optional<bool> usbHidMode;  // true = on (write byte 17 = 0)

    bool operator==(const Settings&) const = default;
};

// How a field travels: in both images, in the read image only (bytes the reader returns
// but is never sent), or in the write image only.
enum class Carried { Both, ReadOnly, WriteOnly };

struct FieldInfo {
    std::string name;
    Carried carried;
    std::string description;
};
const std::vector<FieldInfo>& Fields();

// Every field of the image (write-only ones when set), in table order.
nlohmann::ordered_json ToJson(const Settings& settings);

// Sets the fields `doc` names over *settings. False with *error = "FIELD: why" (or a
// document-level reason) on the first unknown name or bad value; *settings is then
// unchanged. Keys starting with '$' (such as "$schema") are ignored.
bool MergeJson(const nlohmann::json& doc, Settings* settings, std::string* error);

// The names `doc` sets (known ones, in table order).
std::vector<std::string> NamedFields(const nlohmann::json& doc);

nlohmann::ordered_json Schema();

struct Change {
    std::string field;
    nlohmann::ordered_json from, to;
};
// The fields whose values differ, in table order; write-only fields count only when
// both sides have them.
std::vector<Change> Diff(const Settings& a, const Settings& b);

// Byte text as the documents write it: printable ASCII as itself, "<<" for '<', control
// bytes by their ASCII names ("<STX>", "<CR>"), DEL as "<DEL>", others as "<xHH>".
std::string EscapeBytes(const std::string& bytes);
// The reverse; names are case-insensitive and "<xHH>" takes any byte. False with *why.
bool UnescapeBytes(const std::string& text, std::string* bytes, std::string* why);

// Text from outside (a reader, a file name, a library's message) made safe for a terminal:
// well-formed UTF-8 text stays, control bytes are written by name ("<ESC>"), DEL as
// "<DEL>", C1 controls and ill-formed bytes as "<xHH>".
std::string PrintableText(const std::string& text);
// A name from a document as messages show it: printable (as PrintableText, so a NUL or a
// line break inside it is shown, not obeyed) and, beyond kShownNameBytes, cut with its
// length given.
constexpr size_t kShownNameBytes = 64;
std::string ShownName(const std::string& name);

// A value as one line of text, for change lists.
std::string ValueText(const nlohmann::ordered_json& value);

}  // namespace cli
