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

// The end of a double-quoted word starting at `open`: the index after its closing quote,
// or npos when it is not closed. A backslash takes the next byte with it.
size_t QuotedEnd(const std::string& line, size_t open) {
    for (size_t i = open + 1; i < line.size(); ++i) {
        if (line[i] == '\\') {
            ++i;
        } else if (line[i] == '"') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// Where the next word starts and ends, from `pos`.
size_t SkipBlanks(const std::string& line, size_t pos) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    return pos;
}
size_t WordEnd(const std::string& line, size_t pos) {
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    return pos;
}

// The comment's start at or after `pos`: a '#' after a blank, outside quoted words.
size_t CommentStart(const std::string& line, size_t pos) {
    bool wordStart = pos == 0 || IsBlank(line[pos - 1]);
    for (size_t i = pos; i < line.size(); ++i) {
        const char c = line[i];
        if (wordStart && c == '#') return i;
        if (wordStart && c == '"') {
            const size_t end = QuotedEnd(line, i);
            if (end == std::string::npos) return std::string::npos;
            i = end - 1;
            wordStart = false;
            continue;
        }
        wordStart = IsBlank(c);
    }
    return std::string::npos;
}

}  // namespace

std::string QuoteCut(const std::string& bytes) {
    constexpr size_t kShown = 64;
    if (bytes.size() <= kShown) return Quote(bytes);
    return Quote(bytes.substr(0, kShown)) + "...";
}

std::string WithoutComment(const std::string& line) {
    size_t pos = SkipBlanks(line, 0);
    const size_t cmdEnd = WordEnd(line, pos);
    const std::string cmd = line.substr(pos, cmdEnd - pos);
    size_t from = 0;
    if (cmd == "type" || cmd == "paste" || cmd == "sim") {
        pos = SkipBlanks(line, cmdEnd);
        const size_t argEnd = WordEnd(line, pos);
        const std::string arg = line.substr(pos, argEnd - pos);
        if (cmd != "sim" || arg == "card" || arg == "version") {
            // The text: to the end of the line, or a quoted word and then a comment.
            pos = SkipBlanks(line, argEnd);
            if (pos >= line.size() || line[pos] != '"') return line;
            from = QuotedEnd(line, pos);
            if (from == std::string::npos) return line;
        }
    }
    const size_t hash = CommentStart(line, from);
    if (hash == std::string::npos) return line;
    size_t end = hash;
    while (end > 0 && IsBlank(line[end - 1])) --end;
    return line.substr(0, end);
}

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
