#include "configtool/stored_text.h"

namespace corvale::tool {

namespace {

constexpr char16_t kEscapedByte = 0xDC00;

// The code point of the valid UTF-8 sequence at bytes[at], and its length;
// length 0 when none starts there.
char32_t decodeAt(const std::string& bytes, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    length = 0;
    std::size_t size = 0;
    char32_t point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        size = 2, point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        size = 3, point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        size = 4, point = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + size > bytes.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and points beyond Unicode are not valid.
    if (point < smallest || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF) {
        return 0;
    }
    length = size;
    return point;
}

void appendUtf8(std::string& out, char32_t point) {
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

} // namespace

QString shownText(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t length = 0;
        const char32_t point = decodeAt(bytes, at, length);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(kEscapedByte + static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        text += QString::fromUcs4(&point, 1);
        at += length;
    }
    return text;
}

std::string storedText(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscapedByte + 0x80 && unit <= kEscapedByte + 0xFF) {
            bytes += static_cast<char>(unit - kEscapedByte);
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, 0xFFFD); // half a pair, typed somehow: nothing to keep
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

} // namespace corvale::tool
