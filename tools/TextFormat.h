// Text helpers of the tool's output: times, hex, JSON values and aligned
// tables.
#ifndef MKV_TOOLS_TEXTFORMAT_H
#define MKV_TOOLS_TEXTFORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A time in 100-ns units as seconds with `decimals` digits (1 to 7),
// digits beyond them cut off: 12345678 -> "1.2345678", -40000 -> "-0.0040000".
std::string FormatSeconds(int64_t time100ns, int decimals = 7);

std::string HexBytes(const unsigned char* data, size_t size);

// A JSON string literal, quotes included. Each byte that is not part of
// well-formed UTF-8 becomes U+FFFD, so the result is valid JSON whatever
// the bytes.
std::string JsonString(const std::string& text);

// One JSON object, fields in the order they are added.
class JsonObject {
public:
    JsonObject& String(const char* key, const std::string& value);
    JsonObject& Integer(const char* key, long long value);
    JsonObject& Bool(const char* key, bool value);
    // A value already in JSON form (a number, an object, an array).
    JsonObject& Raw(const char* key, const std::string& json);
    std::string Text() const { return "{" + fields + "}"; }

private:
    std::string& Key(const char* key);
    std::string fields;
};

// Columns padded to their widest cell; `rightAligned[i]` for numbers.
class TextTable {
public:
    explicit TextTable(std::vector<bool> rightAligned) : rightAligned(std::move(rightAligned)) {}
    void Add(std::vector<std::string> row) { rows.push_back(std::move(row)); }
    std::string Text() const;

private:
    std::vector<bool> rightAligned;
    std::vector<std::vector<std::string>> rows;
};

#endif
