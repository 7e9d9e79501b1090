#include "runner/script_text.h"

namespace runner {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string Quote(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    out += static_cast<char>(c);
                } else {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xf];
                }
        }
    }
    out += '"';
    return out;
}

bool ParseText(const std::string& raw, std::string* bytes, std::string* why) {
    size_t begin = 0, end = raw.size();
    while (begin < end && IsBlank(raw[begin])) ++begin;
    while (end > begin && IsBlank(raw[end - 1])) --end;
    std::string body = raw.substr(begin, end - begin);
    if (!body.empty() && body[0] == '"') {
        // Quoted: the closing quote must be the last character and not escaped.
        size_t i = 1;
        bool closed = false;
        while (i < body.size()) {
            if (body[i] == '\\') {
                i += 2;
            } else if (body[i] == '"') {
                closed = i == body.size() - 1;
                if (!closed) {
                    *why = "text after the closing quote";
                    return false;
                }
                break;
            } else {
                ++i;
            }
        }
        if (!closed) {
            *why = "missing closing quote";
            return false;
        }
        body = body.substr(1, body.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\\') {
            out += body[i];
            continue;
        }
        if (i + 1 >= body.size()) {
            *why = "backslash at the end of the text";
            return false;
        }
        char e = body[++i];
        switch (e) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int hi = i + 1 < body.size() ? HexValue(body[i + 1]) : -1;
                int lo = i + 2 < body.size() ? HexValue(body[i + 2]) : -1;
                if (hi < 0 || lo < 0) {
                    *why = "\\x needs two hex digits";
                    return false;
                }
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                *why = std::string("unknown escape \\") + e;
                return false;
        }
    }
    *bytes = out;
    return true;
}

}  // namespace runner
