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

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
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
