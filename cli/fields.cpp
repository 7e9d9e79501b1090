// The field table: one entry per name, each knowing where its bytes lie, how they read as
// JSON and which values it takes. Everything (documents, schema, diffs) walks this table,
// so a name cannot mean two things in two places.
#include "cli/fields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>

namespace cli {
namespace {

using json = nlohmann::ordered_json;

constexpr std::array<const char*, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

struct Field {
    FieldInfo info;
    json schema;
    // Null when the settings do not hold the field (an unset write-only value).
    std::function<json(const Settings&)> get;
    // False with *why when the value is not one the field takes.
    std::function<bool(Settings&, const nlohmann::json&, std::string*)> set;
};

// A number whose value is whole: 100, 100.0 and 1e2 alike.
bool ByteValue(const nlohmann::json& v, int max, uint8_t* out, std::string* why) {
    double value = -1;
    if (v.is_number_integer())
        value = v.get<int64_t>() < 0 ? -1 : double(std::min<uint64_t>(v.get<uint64_t>(), 1000));
    else if (v.is_number_float())
        value = v.get<double>();
    if (!(value >= 0 && value <= max && value == std::floor(value))) {
        *why = "must be a whole number from 0 to " + std::to_string(max);
        return false;
    }
    *out = static_cast<uint8_t>(value);
    return true;
}

json ByteSchema(int max, const std::string& description) {
    return {{"type", "integer"}, {"minimum", 0}, {"maximum", max}, {"description", description}};
}

Field ByteField(std::string name, size_t offset, std::string description) {
    json schema = ByteSchema(255, description);
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [offset](const Settings& s) { return json(s.image[offset]); },
            [offset](Settings& s, const nlohmann::json& v, std::string* why) {
                return ByteValue(v, 255, &s.image[offset], why);
            }};
}

// 1 and 0 as true and false; other bytes stay numbers so that they survive.
Field SwitchField(std::string name, size_t offset, std::string description) {
    json schema = {{"oneOf", json::array({{{"type", "boolean"}}, ByteSchema(255, "")})},
                   {"description", description + " (true = 1, false = 0)"}};
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [offset](const Settings& s) {
                const uint8_t b = s.image[offset];
                return b <= 1 ? json(b == 1) : json(b);
            },
            [offset](Settings& s, const nlohmann::json& v, std::string* why) {
                if (v.is_boolean()) {
                    s.image[offset] = v.get<bool>() ? 1 : 0;
                    return true;
                }
                if (ByteValue(v, 255, &s.image[offset], why)) return true;
                *why = "must be true, false or a whole number from 0 to 255";
                return false;
            }};
}

Field TerminatorField(std::string name, size_t offset, std::string description) {
    json schema = {{"oneOf", json::array({{{"enum", {"none", "cr", "crlf"}}},
                                          ByteSchema(255, "a code the reader may not know")})},
                   {"description", description}};
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [offset](const Settings& s) {
                switch (s.image[offset]) {
                    case protocol::TERM_NONE:
                        return json("none");
                    case protocol::TERM_CR:
                        return json("cr");
                    case protocol::TERM_CRLF:
                        return json("crlf");
                    default:
                        return json(s.image[offset]);
                }
            },
            [offset](Settings& s, const nlohmann::json& v, std::string* why) {
                if (v.is_string()) {
                    const auto text = v.get<std::string>();
                    if (text == "none")
                        s.image[offset] = protocol::TERM_NONE;
                    else if (text == "cr")
                        s.image[offset] = protocol::TERM_CR;
                    else if (text == "crlf")
                        s.image[offset] = protocol::TERM_CRLF;
                    else {
                        *why = "must be \"none\", \"cr\", \"crlf\" or a code from 0 to 255";
                        return false;
                    }
                    return true;
                }
                if (ByteValue(v, 255, &s.image[offset], why)) return true;
                *why = "must be \"none\", \"cr\", \"crlf\" or a code from 0 to 255";
                return false;
            }};
}

// One byte as a document writes it: printable ASCII but '<', "<<", a control byte's name
// or <DEL> (any case), or <xHH>.
std::string ByteTextToken() {
    std::string names;
    auto anyCase = [](const std::string& name) {
        std::string out;
        for (char c : name) {
            const auto u = static_cast<unsigned char>(c);
            if (std::isalpha(u))
                out += std::string("[") + c + static_cast<char>(std::tolower(u)) + "]";
            else
                out += c;
        }
        return out;
    };
    for (const char* n : kControlNames) names += anyCase(n) + "|";
    names += anyCase("DEL") + "|[Xx][0-9A-Fa-f]{2}";
    return "(?:[ -;=-~]|<<|<(?:" + names + ")>)";
}

Field SentinelField(std::string name, size_t offset, std::string description) {
    json schema = {{"type", "string"},
                   {"pattern", "^" + ByteTextToken() + "?$"},
                   {"description", description + ": one character (byte names allowed), "
                                                 "\"\" for none"}};
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [offset](const Settings& s) {
                const uint8_t b = s.image[offset];
                return json(b == 0 ? std::string() : EscapeBytes(std::string(1, char(b))));
            },
            [offset](Settings& s, const nlohmann::json& v, std::string* why) {
                std::string bytes;
                if (!v.is_string()) {
                    *why = "must be a text of one character or \"\"";
                    return false;
                }
                if (!UnescapeBytes(v.get<std::string>(), &bytes, why)) return false;
                if (bytes.size() > 1) {
                    *why = "must be one character or \"\", not " + std::to_string(bytes.size());
                    return false;
                }
                s.image[offset] = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
                return true;
            }};
}

// The 15-byte prefix and suffix fields: the bytes up to the last non-NUL one.
Field TextField(std::string name, size_t offset, std::string description) {
    json schema = {{"type", "string"},
                   {"pattern", "^" + ByteTextToken() + "{0," +
                                   std::to_string(protocol::CONFIG_TEXT_FIELD_SIZE) + "}$"},
                   {"description", description + "; at most 15 bytes, byte names allowed"}};
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [offset](const Settings& s) {
                size_t end = protocol::CONFIG_TEXT_FIELD_SIZE;
                while (end > 0 && s.image[offset + end - 1] == 0) --end;
                return json(EscapeBytes(std::string(s.image.begin() + long(offset),
                                                    s.image.begin() + long(offset + end))));
            },
            [offset](Settings& s, const nlohmann::json& v, std::string* why) {
                std::string bytes;
                if (!v.is_string()) {
                    *why = "must be a text";
                    return false;
                }
                if (!UnescapeBytes(v.get<std::string>(), &bytes, why)) return false;
                if (bytes.size() > protocol::CONFIG_TEXT_FIELD_SIZE) {
                    *why = "holds at most 15 bytes, not " + std::to_string(bytes.size());
                    return false;
                }
                std::fill_n(s.image.begin() + long(offset), protocol::CONFIG_TEXT_FIELD_SIZE, 0);
                std::copy(bytes.begin(), bytes.end(), s.image.begin() + long(offset));
                return true;
            }};
}

// One bit of the option byte; `onWhenClear` for the bits that switch a feature off.
Field FlagField(std::string name, uint8_t bit, bool onWhenClear, std::string description) {
    json schema = {{"type", "boolean"}, {"description", description}};
    return {{std::move(name), Carried::Both, std::move(description)},
            schema,
            [bit, onWhenClear](const Settings& s) {
                const bool set = (s.image[protocol::rimg::OPTION_FLAGS] & bit) != 0;
                return json(set != onWhenClear);
            },
            [bit, onWhenClear](Settings& s, const nlohmann::json& v, std::string* why) {
                if (!v.is_boolean()) {
                    *why = "must be true or false";
                    return false;
                }
                uint8_t& flags = s.image[protocol::rimg::OPTION_FLAGS];
                if (v.get<bool>() != onWhenClear)
                    flags |= bit;
                else
                    flags &= static_cast<uint8_t>(~bit);
                return true;
            }};
}

constexpr uint8_t kUnnamedOptionBits = 0x70;

Field UnnamedBitsField() {
    std::string description = "option bits 0x10, 0x20 and 0x40, which no option uses";
    json schema = {{"enum", {0, 16, 32, 48, 64, 80, 96, 112}}, {"description", description}};
    return {{"option_bits_unnamed", Carried::Both, description},
            schema,
            [](const Settings& s) {
                return json(s.image[protocol::rimg::OPTION_FLAGS] & kUnnamedOptionBits);
            },
            [](Settings& s, const nlohmann::json& v, std::string* why) {
                uint8_t bits = 0;
                if (!ByteValue(v, 255, &bits, why) || (bits & ~kUnnamedOptionBits) != 0) {
                    *why = "must combine only the bits 16, 32 and 64";
                    return false;
                }
                uint8_t& flags = s.image[protocol::rimg::OPTION_FLAGS];
                flags = static_cast<uint8_t>((flags & ~kUnnamedOptionBits) | bits);
                return true;
            }};
}

Field UninterpretedField(std::string name, size_t offset, size_t count, std::string description) {
    json schema = {{"type", "array"},
                   {"items", ByteSchema(255, "")},
                   {"minItems", count},
                   {"maxItems", count},
                   {"description", description}};
    return {{std::move(name), Carried::ReadOnly, std::move(description)},
            schema,
            [offset, count](const Settings& s) {
                json a = json::array();
                for (size_t i = 0; i < count; ++i) a.push_back(s.image[offset + i]);
                return a;
            },
            [offset, count](Settings& s, const nlohmann::json& v, std::string* why) {
                if (!v.is_array() || v.size() != count) {
                    *why = "must be a list of " + std::to_string(count) + " bytes";
                    return false;
                }
                std::array<uint8_t, 4> bytes{};
                for (size_t i = 0; i < count; ++i)
                    if (!ByteValue(v[i], 255, &bytes[i], why)) return false;
                std::copy_n(bytes.begin(), count, s.image.begin() + long(offset));
                return true;
            }};
}

std::vector<Field> MakeTable() {
    std::vector<Field> t;
    for (int k = 0; k < 3; ++k) {
        const std::string n = "track" + std::to_string(k + 1);
        const std::string tr = "track " + std::to_string(k + 1);
        t.push_back(SwitchField(n + "_output", protocol::rimg::TRACK_ENABLE + k,
                                "whether the reader outputs " + tr));
    }
    for (int k = 0; k < 3; ++k) {
        const std::string n = "track" + std::to_string(k + 1);
        const std::string tr = "track " + std::to_string(k + 1);
        t.push_back(SentinelField(n + "_start_sentinel", protocol::rimg::START_SENTINEL + k,
                                  "start sentinel of " + tr));
        t.push_back(SentinelField(n + "_end_sentinel", protocol::rimg::END_SENTINEL + k,
                                  "end sentinel of " + tr));
    }
    for (int k = 0; k < 3; ++k) {
        t.push_back(TerminatorField("track" + std::to_string(k + 1) + "_terminator",
                                    protocol::rimg::TRACK_TERMINATOR + k,
                                    "what follows track " + std::to_string(k + 1)));
    }
    t.push_back(TerminatorField("packet_terminator", protocol::rimg::PACKET_TERMINATOR,
                                "what follows the whole card packet"));
    t.push_back(
        FlagField("prefix_on", protocol::OPT_PREFIX, false, "whether the prefix is output"));
    t.push_back(
        TextField("prefix", protocol::rimg::PREFIX, "the prefix field; framing puts <STX> first"));
    t.push_back(
        FlagField("suffix_on", protocol::OPT_SUFFIX, false, "whether the suffix is output"));
    t.push_back(TextField("suffix", protocol::rimg::SUFFIX,
                          "the suffix field; framing puts <ETX> after the text"));
    t.push_back(FlagField("beep", protocol::OPT_BEEP_OFF, true, "whether the reader beeps"));
    t.push_back(FlagField("auto_output", protocol::OPT_AUTO_OUTPUT_OFF, true,
                          "whether the reader outputs a swiped card by itself"));
    t.push_back(FlagField("track3_trim", protocol::OPT_TRACK3_TRIM, false,
                          "whether spaces in track-3 data are trimmed"));
    t.push_back(ByteField("track3_keep_spaces", protocol::rimg::TRIM3,
                          "with track3_trim: how many spaces are kept between data"));
    t.push_back(UnnamedBitsField());
    for (int k = 0; k < 3; ++k) {
        const std::string n = "track" + std::to_string(k + 1);
        const std::string tr = "track " + std::to_string(k + 1);
        t.push_back(ByteField(n + "_start", protocol::rimg::TRACK_START + k,
                              "position in " + tr + " where output starts"));
        t.push_back(ByteField(n + "_length", protocol::rimg::TRACK_LENGTH + k,
                              "characters of " + tr + " output from the start (0 = to the end)"));
    }
    t.push_back(UninterpretedField("read_bytes_13_16", protocol::rimg::READER_OWN_HEAD,
                                   protocol::rimg::OPTION_FLAGS - protocol::rimg::READER_OWN_HEAD,
                                   "read-image bytes 13 to 16 as the reader returned them; "
                                   "never sent"));
    Field last = ByteField("read_byte_55", protocol::rimg::READER_OWN_TAIL,
                           "read-image byte 55 as the reader returned it; never sent");
    last.info.carried = Carried::ReadOnly;
    t.push_back(std::move(last));

    std::string speedText = "USB output speed; not reported by the reader (default: " +
                            std::to_string(protocol::USB_SPEED_USB) + " over USB, " +
                            std::to_string(protocol::USB_SPEED_SERIAL) + " over a serial port)";
    t.push_back({{"usb_speed", Carried::WriteOnly, speedText},
                 ByteSchema(protocol::USB_SPEED_MAX, speedText),
                 [](const Settings& s) { return s.usbSpeed ? json(*s.usbSpeed) : json(); },
                 [](Settings& s, const nlohmann::json& v, std::string* why) {
                     uint8_t speed = 0;
                     if (!ByteValue(v, protocol::USB_SPEED_MAX, &speed, why)) return false;
                     s.usbSpeed = speed;
                     return true;
                 }});
    std::string hidText = "the USB HID mode option; not reported by the reader (default: off)";
    t.push_back({{"usb_hid_mode", Carried::WriteOnly, hidText},
                 {{"type", "boolean"}, {"description", hidText}},
                 [](const Settings& s) { return s.usbHidMode ? json(*s.usbHidMode) : json(); },
                 [](Settings& s, const nlohmann::json& v, std::string* why) {
                     if (!v.is_boolean()) {
                         *why = "must be true or false";
                         return false;
                     }
                     s.usbHidMode = v.get<bool>();
                     return true;
                 }});
    return t;
}

const std::vector<Field>& Table() {
    static const std::vector<Field> table = MakeTable();
    return table;
}

const Field* Find(const std::string& name) {
    for (const auto& f : Table())
        if (f.info.name == name) return &f;
    return nullptr;
}

}  // namespace

const std::vector<FieldInfo>& Fields() {
    static const std::vector<FieldInfo> infos = [] {
        std::vector<FieldInfo> v;
        for (const auto& f : Table()) v.push_back(f.info);
        return v;
    }();
    return infos;
}

nlohmann::ordered_json ToJson(const Settings& settings) {
    json doc = json::object();
    for (const auto& f : Table()) {
        json v = f.get(settings);
        if (!v.is_null()) doc[f.info.name] = std::move(v);
    }
    return doc;
}

bool MergeJson(const nlohmann::json& doc, Settings* settings, std::string* error) {
    if (!doc.is_object()) {
        *error = "the document must be a JSON object of named fields";
        return false;
    }
    Settings result = *settings;
    // Unknown names first: a document with a misspelt name is refused as a whole.
    for (const auto& [key, value] : doc.items()) {
        if (!key.empty() && key[0] == '$') continue;
        if (!Find(key)) {
            *error = ShownName(key) + ": unknown field";
            return false;
        }
    }
    // Fields in table order, so that an error names the same field whatever the key order.
    for (const auto& f : Table()) {
        auto it = doc.find(f.info.name);
        if (it == doc.end()) continue;
        std::string why;
        if (!f.set(result, *it, &why)) {
            *error = f.info.name + ": " + why;
            return false;
        }
    }
    *settings = result;
    return true;
}

std::vector<std::string> NamedFields(const nlohmann::json& doc) {
    std::vector<std::string> names;
    if (!doc.is_object()) return names;
    for (const auto& f : Table())
        if (doc.contains(f.info.name)) names.push_back(f.info.name);
    return names;
}

nlohmann::ordered_json Schema() {
    json props = json::object();
    for (const auto& f : Table()) props[f.info.name] = f.schema;
    return {{"$schema", "https://json-schema.org/draft/2020-12/schema"},
            {"title", "ZARN60 reader configuration"},
            {"description",
             "Named fields of the reader's configuration. A document may name only some "
             "fields; the others keep the reader's values. Byte texts write printable ASCII "
             "as itself, '<' as '<<', control bytes by name (<STX>, <ETX>, <CR>, <LF>, ...), "
             "<DEL>, and any byte as <xHH>. Names starting with $ (such as $schema and "
             "$raw) are ignored."},
            {"type", "object"},
            {"properties", props},
            {"patternProperties", {{"^\\$", json::object()}}},
            {"additionalProperties", false}};
}

std::vector<Change> Diff(const Settings& a, const Settings& b) {
    std::vector<Change> changes;
    for (const auto& f : Table()) {
        json va = f.get(a), vb = f.get(b);
        if (va.is_null() || vb.is_null() || va == vb) continue;
        changes.push_back({f.info.name, std::move(va), std::move(vb)});
    }
    return changes;
}

std::string EscapeBytes(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (b == '<') {
            out += "<<";
        } else if (b < 0x20) {
            out += std::string("<") + kControlNames[b] + ">";
        } else if (b == 0x7F) {
            out += "<DEL>";
        } else if (b > 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "<x%02X>", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeBytes(const std::string& text, std::string* bytes, std::string* why) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c >= 0x80 || c < 0x20 || c == 0x7F) {
            *why = "a byte outside printable ASCII must be written by name, such as <CR> or <x80>";
            return false;
        }
        if (c != '<') {
            out += char(c);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '<') {
            out += '<';
            ++i;
            continue;
        }
        const size_t close = text.find('>', i);
        if (close == std::string::npos) {
            *why = "'<' opens a byte name that is not closed (write << for '<')";
            return false;
        }
        std::string name = text.substr(i + 1, close - i - 1);
        std::string upper = name;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        int value = -1;
        for (size_t k = 0; k < kControlNames.size(); ++k)
            if (upper == kControlNames[k]) value = static_cast<int>(k);
        if (upper == "DEL") value = 0x7F;
        if (value < 0 && upper.size() == 3 && upper[0] == 'X' && std::isxdigit(upper[1]) &&
            std::isxdigit(upper[2]))
            value = std::stoi(upper.substr(1), nullptr, 16);
        if (value < 0) {
            *why = "unknown byte name <" + name + "> (write << for '<')";
            return false;
        }
        out += static_cast<char>(value);
        i = close;
    }
    *bytes = std::move(out);
    return true;
}

std::string ValueText(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

std::string PrintableText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<uint8_t>(text[i]);
        if (b < 0x20) {
            out += std::string("<") + kControlNames[b] + ">";
            ++i;
            continue;
        }
        if (b == 0x7F) {
            out += "<DEL>";
            ++i;
            continue;
        }
        if (b < 0x80) {
            out += char(b);
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence of a character from U+00A0 up stays as it is; the C1
        // controls (U+0080 to U+009F) and every ill-formed byte are written in hex.
        size_t len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
        if (b >= 0xF5) len = 0;
        uint32_t cp = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) {
            const auto c = static_cast<uint8_t>(text[i + k]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        ok = ok && cp >= 0xA0 && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF &&
             !(len == 3 && cp < 0x800) && !(len == 4 && cp < 0x10000);
        if (ok) {
            out.append(text, i, len);
            i += len;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "<x%02X>", b);
        out += hex;
        ++i;
    }
    return out;
}

std::string ShownName(const std::string& name) {
    if (name.size() <= kShownNameBytes) return PrintableText(name);
    // Cut before a character's continuation bytes, so that no character is split.
    size_t cut = kShownNameBytes;
    while (cut > 0 && (static_cast<uint8_t>(name[cut]) & 0xC0) == 0x80) --cut;
    return PrintableText(name.substr(0, cut)) + "... (" + std::to_string(name.size()) +
           " bytes)";
}

}  // namespace cli
