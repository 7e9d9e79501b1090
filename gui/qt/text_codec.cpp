#include "gui/qt/text_codec.h"

#include <algorithm>

namespace gui {

namespace {
constexpr char16_t kControlPictures = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;
}  // namespace

QString BytesToQString(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string QStringToBytes(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (QChar ch : text)
        bytes.push_back(ch.unicode() <= 0xFF ? static_cast<char>(ch.unicode()) : '?');
    return bytes;
}

TestBoxText RenderTestBox(const std::string& bytes) {
    TestBoxText out;
    out.byteAt.push_back(0);
    AppendTestBox(out, bytes, 0);
    return out;
}

void AppendTestBox(TestBoxText& out, const std::string& bytes, size_t from) {
    if (!out.byteAt.empty()) out.byteAt.pop_back();  // the end moves
    size_t i = from;
    // The LF of a CR LF pair split by the append belongs to the break already shown.
    if (i > 0 && i < bytes.size() && bytes[i - 1] == '\r' && bytes[i] == '\n') ++i;
    for (; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out.byteAt.push_back(i);
        if (b == '\r' || b == '\n') {
            out.display.append(QChar(u'\n'));
            if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else if (b < 0x20) {
            out.display.append(QChar(static_cast<char16_t>(kControlPictures + b)));
        } else if (b == 0x7F) {
            out.display.append(QChar(kDeletePicture));
        } else {
            out.display.append(QChar(static_cast<char16_t>(b)));
        }
    }
    out.byteAt.push_back(bytes.size());
}

std::string TestBoxInputToBytes(const QString& typed) {
    std::string bytes;
    for (QChar ch : typed) {
        const char16_t u = ch.unicode();
        if (u == u'\n' || u == QChar::ParagraphSeparator || u == QChar::LineSeparator) {
            bytes += "\r\n";
        } else if (u >= kControlPictures && u < kControlPictures + 0x20) {
            bytes.push_back(static_cast<char>(u - kControlPictures));
        } else if (u == kDeletePicture) {
            bytes.push_back(0x7F);
        } else {
            bytes.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
        }
    }
    return bytes;
}

std::string ApplyTestBoxEdit(const std::string& bytes, const TestBoxText& before,
                             const QString& after) {
    const QString& old = before.display;
    const qsizetype common = std::min(old.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < common && old[prefix] == after[prefix]) ++prefix;
    qsizetype suffix = 0;
    while (suffix < common - prefix &&
           old[old.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const size_t from = before.byteAt[static_cast<size_t>(prefix)];
    const size_t to = before.byteAt[static_cast<size_t>(old.size() - suffix)];
    return bytes.substr(0, from) +
           TestBoxInputToBytes(after.mid(prefix, after.size() - prefix - suffix)) +
           bytes.substr(to);
}

}  // namespace gui
