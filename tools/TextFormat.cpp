// Text helpers: exact decimal times, hex, JSON quoting and aligned columns.
#include "TextFormat.h"

#include <algorithm>
#include <cstdio>

std::string FormatSeconds(int64_t time100ns, int decimals)
{
    decimals = std::clamp(decimals, 1, 7);
    // Integer arithmetic, so every 100-ns value prints exactly.
    uint64_t magnitude = time100ns < 0 ? 0 - static_cast<uint64_t>(time100ns) : static_cast<uint64_t>(time100ns);
    uint64_t fraction = magnitude % 10000000u;
    for (int cut = 7; cut > decimals; --cut) {
        fraction /= 10;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%0*llu", time100ns < 0 ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 10000000u), decimals,
                  static_cast<unsigned long long>(fraction));
    return text;
}

std::string HexBytes(const unsigned char* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0F];
    }
    return hex;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when the
// byte there starts none: overlong forms, surrogates and code points above
// U+10FFFF are not well-formed.
size_t Utf8SequenceLength(const std::string& text, size_t at)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80; // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        size_t length = Utf8SequenceLength(text, at);
        if (length == 0) {
            // File names are bytes, not necessarily UTF-8; JSON must be.
            quoted += "\\ufffd";
            ++at;
            continue;
        }
        if (length > 1) {
            quoted.append(text, at, length);
            at += length;
            continue;
        }
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                quoted += escaped;
            } else {
                quoted += static_cast<char>(c);
            }
        }
        ++at;
    }
    return quoted + "\"";
}

std::string& JsonObject::Key(const char* key)
{
    if (!fields.empty()) {
        fields += ",";
    }
    fields += JsonString(key) + ":";
    return fields;
}

JsonObject& JsonObject::String(const char* key, const std::string& value)
{
    Key(key) += JsonString(value);
    return *this;
}

JsonObject& JsonObject::Integer(const char* key, long long value)
{
    Key(key) += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Bool(const char* key, bool value)
{
    Key(key) += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json)
{
    Key(key) += json;
    return *this;
}

std::string TextTable::Text() const
{
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            std::string padding(widths[i] - row[i].size(), ' ');
            bool right = i < rightAligned.size() && rightAligned[i];
            line += (i > 0 ? "  " : "") + (right ? padding + row[i] : row[i] + padding);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}
