#include "media/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

// The writers are our own: jsoncpp's writers escape non-ASCII text and print reals with 17
// digits, while the program's documents carry UTF-8 unchanged and reals as "%g". The reader
// is our own too, so that it never throws, keeps "\uXXXX" undecoded and limits nesting.

namespace {

// ---------------------------------------------------------------------------------------------
// Scalars as text

std::string FixDecimalPoint(std::string text) {
    // printf follows LC_NUMERIC, which a desktop toolkit may set to a locale with ','.
    for (char& c : text) {
        if (c == ',') {
            c = '.';
        }
    }
    return text;
}

std::string RealText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%g", value);
    return FixDecimalPoint(buffer);
}

std::string QuotedText(const char* begin, const char* end) {
    std::string out;
    out.reserve(static_cast<size_t>(end - begin) + 2);
    out += '"';
    const char* run = begin;
    for (const char* p = begin; p < end; ++p) {
        const char* escape = nullptr;
        switch (*p) {
        case '"':
            escape = "\\\"";
            break;
        case '\\':
            escape = "\\\\";
            break;
        case '\b':
            escape = "\\b";
            break;
        case '\f':
            escape = "\\f";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\t':
            escape = "\\t";
            break;
        default:
            continue; // everything else, UTF-8 included, is written unchanged
        }
        out.append(run, p);
        out += escape;
        run = p + 1;
    }
    out.append(run, end);
    out += '"';
    return out;
}

std::string QuotedString(const Json::Value& value) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.getString(&begin, &end) || begin == nullptr) {
        return "\"\"";
    }
    return QuotedText(begin, end);
}

std::string QuotedName(const Json::Value::const_iterator& it) {
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    if (begin == nullptr) {
        return "\"\"";
    }
    return QuotedText(begin, end);
}

std::string ScalarText(const Json::Value& value) {
    switch (value.type()) {
    case Json::nullValue:
        return "null";
    case Json::intValue:
        return std::to_string(value.asLargestInt());
    case Json::uintValue:
        return std::to_string(value.asLargestUInt());
    case Json::realValue:
        return RealText(value.asDouble());
    case Json::stringValue:
        return QuotedString(value);
    case Json::booleanValue:
        return value.asBool() ? "true" : "false";
    default:
        return "";
    }
}

// ---------------------------------------------------------------------------------------------
// Styled layout: jsoncpp's StyledWriter algorithm (right margin 74, short arrays of scalars on
// one line) with a tab per level.

class StyledWriter {
public:
    std::string Write(const Json::Value& root) {
        m_document.clear();
        m_addChildValues = false;
        m_indent.clear();
        WriteValue(root);
        m_document += '\n';
        return std::move(m_document);
    }

private:
    static constexpr unsigned kRightMargin = 74;

    std::string m_document;
    std::vector<std::string> m_childValues;
    std::string m_indent;
    bool m_addChildValues = false;

    void PushValue(std::string value) {
        if (m_addChildValues) {
            m_childValues.push_back(std::move(value));
        } else {
            m_document += value;
        }
    }

    void WriteIndent() {
        if (!m_document.empty()) {
            char last = m_document.back();
            // Already placed: after " : ", or after the indentation of an array element (with
            // tabs the indentation ends in '\t'; a tab inside a string is always escaped).
            if (last == ' ' || last == '\t') {
                return;
            }
            if (last != '\n') {
                m_document += '\n';
            }
        }
        m_document += m_indent;
    }

    void WriteWithIndent(const std::string& value) {
        WriteIndent();
        m_document += value;
    }

    void WriteValue(const Json::Value& value) {
        switch (value.type()) {
        case Json::arrayValue:
            WriteArrayValue(value);
            break;
        case Json::objectValue:
            if (value.empty()) {
                PushValue("{}");
            } else {
                WriteWithIndent("{");
                m_indent += '\t';
                bool first = true;
                for (auto it = value.begin(); it != value.end(); ++it) {
                    if (!first) {
                        m_document += ',';
                    }
                    first = false;
                    WriteWithIndent(QuotedName(it));
                    m_document += " : ";
                    WriteValue(*it);
                }
                m_indent.pop_back();
                WriteWithIndent("}");
            }
            break;
        default:
            PushValue(ScalarText(value));
            break;
        }
    }

    void WriteArrayValue(const Json::Value& value) {
        const Json::ArrayIndex size = value.size();
        if (size == 0) {
            PushValue("[]");
            return;
        }
        if (IsMultilineArray(value)) {
            WriteWithIndent("[");
            m_indent += '\t';
            const bool hasChildValue = !m_childValues.empty();
            for (Json::ArrayIndex index = 0; index < size; ++index) {
                if (index > 0) {
                    m_document += ',';
                }
                if (hasChildValue) {
                    WriteWithIndent(m_childValues[index]);
                } else {
                    WriteIndent();
                    WriteValue(value[index]);
                }
            }
            m_indent.pop_back();
            WriteWithIndent("]");
        } else {
            m_document += "[ ";
            for (Json::ArrayIndex index = 0; index < size; ++index) {
                if (index > 0) {
                    m_document += ", ";
                }
                m_document += m_childValues[index];
            }
            m_document += " ]";
        }
    }

    bool IsMultilineArray(const Json::Value& value) {
        const Json::ArrayIndex size = value.size();
        bool isMultiLine = size * 3 >= kRightMargin;
        m_childValues.clear();
        for (Json::ArrayIndex index = 0; index < size && !isMultiLine; ++index) {
            const Json::Value& child = value[index];
            isMultiLine = (child.isArray() || child.isObject()) && !child.empty();
        }
        if (!isMultiLine) {
            m_childValues.reserve(size);
            m_addChildValues = true;
            Json::ArrayIndex lineLength = 4 + (size - 1) * 2; // "[ " + ", " * (n-1) + " ]"
            for (Json::ArrayIndex index = 0; index < size; ++index) {
                WriteValue(value[index]);
                lineLength += static_cast<Json::ArrayIndex>(m_childValues[index].length());
            }
            m_addChildValues = false;
            isMultiLine = lineLength >= kRightMargin;
        }
        return isMultiLine;
    }
};

// ---------------------------------------------------------------------------------------------
// Compact layout (jsoncpp's FastWriter)

void WriteCompact(const Json::Value& value, std::string& out) {
    switch (value.type()) {
    case Json::arrayValue: {
        out += '[';
        const Json::ArrayIndex size = value.size();
        for (Json::ArrayIndex index = 0; index < size; ++index) {
            if (index > 0) {
                out += ',';
            }
            WriteCompact(value[index], out);
        }
        out += ']';
        break;
    }
    case Json::objectValue: {
        out += '{';
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) {
                out += ',';
            }
            first = false;
            out += QuotedName(it);
            out += ':';
            WriteCompact(*it, out);
        }
        out += '}';
        break;
    }
    default:
        out += ScalarText(value);
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Reader

class Parser {
public:
    Parser(const char* begin, const char* end) : m_p(begin), m_end(end) {}

    bool Parse(Json::Value& out) {
        SkipSpace();
        if (!m_error.empty()) {
            return false;
        }
        // Like jsoncpp's Reader, whatever follows the root value is not examined.
        return ParseValue(out, 0);
    }

    const std::string& Error() const { return m_error; }

private:
    const char* m_p;
    const char* m_end;
    std::string m_error;

    bool Fail(std::string message) {
        if (m_error.empty()) {
            m_error = std::move(message);
        }
        return false;
    }

    void SkipSpace() {
        while (m_p < m_end) {
            char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++m_p;
            } else if (c == '/' && m_end - m_p >= 2 && m_p[1] == '/') {
                // jsoncpp allows comments
                m_p += 2;
                while (m_p < m_end && *m_p != '\n' && *m_p != '\r') {
                    ++m_p;
                }
            } else if (c == '/' && m_end - m_p >= 2 && m_p[1] == '*') {
                const char* close = nullptr;
                for (const char* q = m_p + 2; q + 1 < m_end; ++q) {
                    if (q[0] == '*' && q[1] == '/') {
                        close = q;
                        break;
                    }
                }
                if (close == nullptr) {
                    Fail("Error while reading comment.");
                    m_p = m_end;
                    return;
                }
                m_p = close + 2;
            } else {
                return;
            }
        }
    }

    bool Literal(const char* word, Json::Value& out, const Json::Value& value) {
        size_t n = std::strlen(word);
        if (static_cast<size_t>(m_end - m_p) < n || std::memcmp(m_p, word, n) != 0) {
            return Fail("Syntax error: value, object or array expected.");
        }
        m_p += n;
        out = value;
        return true;
    }

    bool ParseValue(Json::Value& out, int depth) {
        if (m_p >= m_end) {
            return Fail("Syntax error: value, object or array expected.");
        }
        switch (*m_p) {
        case '{':
            return ParseObject(out, depth + 1);
        case '[':
            return ParseArray(out, depth + 1);
        case '"': {
            std::string text;
            if (!ParseString(text)) {
                return false;
            }
            out = Json::Value(text.data(), text.data() + text.size());
            return true;
        }
        case 't':
            return Literal("true", out, Json::Value(true));
        case 'f':
            return Literal("false", out, Json::Value(false));
        case 'n':
            return Literal("null", out, Json::Value());
        default:
            if (*m_p == '-' || (*m_p >= '0' && *m_p <= '9')) {
                return ParseNumber(out);
            }
            return Fail("Syntax error: value, object or array expected.");
        }
    }

    bool ParseObject(Json::Value& out, int depth) {
        if (depth > kJsonMaxDepth) {
            return Fail("Exceeded nesting limit.");
        }
        ++m_p; // '{'
        out = Json::Value(Json::objectValue);
        SkipSpace();
        if (m_p < m_end && *m_p == '}') {
            ++m_p;
            return true;
        }
        for (;;) {
            if (m_p >= m_end || *m_p != '"') {
                return Fail("Missing '}' or object member name");
            }
            std::string name;
            if (!ParseString(name)) {
                return false;
            }
            SkipSpace();
            if (m_p >= m_end || *m_p != ':') {
                return Fail("Missing ':' after object member name");
            }
            ++m_p;
            SkipSpace();
            Json::Value& slot = *out.demand(name.data(), name.data() + name.size());
            if (!ParseValue(slot, depth)) {
                return false;
            }
            SkipSpace();
            if (m_p < m_end && *m_p == ',') {
                ++m_p;
                SkipSpace();
                continue;
            }
            if (m_p < m_end && *m_p == '}') {
                ++m_p;
                return true;
            }
            return Fail("Missing ',' or '}' in object declaration");
        }
    }

    bool ParseArray(Json::Value& out, int depth) {
        if (depth > kJsonMaxDepth) {
            return Fail("Exceeded nesting limit.");
        }
        ++m_p; // '['
        out = Json::Value(Json::arrayValue);
        SkipSpace();
        if (m_p < m_end && *m_p == ']') {
            ++m_p;
            return true;
        }
        for (;;) {
            Json::Value& slot = out.append(Json::Value());
            if (!ParseValue(slot, depth)) {
                return false;
            }
            SkipSpace();
            if (m_p < m_end && *m_p == ',') {
                ++m_p;
                SkipSpace();
                continue;
            }
            if (m_p < m_end && *m_p == ']') {
                ++m_p;
                return true;
            }
            return Fail("Missing ',' or ']' in array declaration");
        }
    }

    static bool IsHex(char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    bool ParseString(std::string& text) {
        ++m_p; // opening quote
        const char* run = m_p;
        while (m_p < m_end) {
            char c = *m_p;
            if (c == '"') {
                text.append(run, m_p);
                ++m_p;
                return true;
            }
            if (c != '\\') {
                ++m_p;
                continue;
            }
            text.append(run, m_p);
            if (m_end - m_p < 2) {
                break;
            }
            char e = m_p[1];
            m_p += 2;
            switch (e) {
            case '"':
                text += '"';
                break;
            case '\\':
                text += '\\';
                break;
            case '/':
                text += '/';
                break;
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u':
                // Kept as its six characters, undecoded.
                if (m_end - m_p < 4 || !IsHex(m_p[0]) || !IsHex(m_p[1]) || !IsHex(m_p[2]) ||
                    !IsHex(m_p[3])) {
                    return Fail("Bad unicode escape sequence in string: four digits expected.");
                }
                text += "\\u";
                text.append(m_p, 4);
                m_p += 4;
                break;
            default:
                return Fail("Bad escape sequence in string");
            }
            run = m_p;
        }
        return Fail("Missing '\"', end of string");
    }

    bool ParseNumber(Json::Value& out) {
        const char* start = m_p;
        const char* p = m_p;
        if (p < m_end && *p == '-') {
            ++p;
        }
        const char* digits = p;
        while (p < m_end && *p >= '0' && *p <= '9') {
            ++p;
        }
        bool valid = p > digits;
        bool isReal = false;
        if (p < m_end && *p == '.') {
            isReal = true;
            ++p;
            while (p < m_end && *p >= '0' && *p <= '9') {
                ++p;
            }
        }
        if (p < m_end && (*p == 'e' || *p == 'E')) {
            isReal = true;
            ++p;
            if (p < m_end && (*p == '+' || *p == '-')) {
                ++p;
            }
            const char* expDigits = p;
            while (p < m_end && *p >= '0' && *p <= '9') {
                ++p;
            }
            valid = valid && p > expDigits;
        }
        m_p = p;
        const std::string_view token(start, static_cast<size_t>(p - start));
        if (token.size() > 512) {
            return Fail("'" + std::string(token) + "' is too large or not a number.");
        }
        if (!valid) {
            return Fail("'" + std::string(token) + "' is not a number.");
        }
        if (!isReal) {
            const bool negative = *start == '-';
            uint64_t value = 0;
            bool overflow = false;
            for (const char* q = digits; q < p; ++q) {
                unsigned d = static_cast<unsigned>(*q - '0');
                if (value > (std::numeric_limits<uint64_t>::max() - d) / 10) {
                    overflow = true;
                    break;
                }
                value = value * 10 + d;
            }
            if (!overflow) {
                constexpr uint64_t kMaxInt =
                    static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
                if (negative && value <= kMaxInt + 1) {
                    out = Json::Value(static_cast<Json::Int64>(0 - value));
                    return true;
                }
                if (!negative && value <= kMaxInt) {
                    out = Json::Value(static_cast<Json::Int64>(value));
                    return true;
                }
                if (!negative) {
                    out = Json::Value(static_cast<Json::UInt64>(value));
                    return true;
                }
            }
            // Too large for 64 bits: read as a real number, as jsoncpp does.
        }
        double real = 0;
        auto result = std::from_chars(start, p, real, std::chars_format::general);
        if (result.ec != std::errc() || result.ptr != p || !std::isfinite(real)) {
            return Fail("'" + std::string(token) + "' is too large or not a number.");
        }
        out = Json::Value(real);
        return true;
    }
};

} // namespace

std::string JsonStyled(const Json::Value& value) {
    StyledWriter writer;
    return writer.Write(value);
}

std::string JsonCompact(const Json::Value& value) {
    std::string out;
    WriteCompact(value, out);
    out += '\n';
    return out;
}

bool JsonParse(std::string_view text, Json::Value& out, std::string* error) {
    Json::Value value;
    bool ok = false;
    std::string message;
    try {
        Parser parser(text.data(), text.data() + text.size());
        ok = parser.Parse(value);
        message = parser.Error();
    } catch (const std::exception& e) {
        // Only allocation can fail here; report it as a parse failure.
        ok = false;
        message = e.what();
    }
    if (!ok) {
        out = Json::Value();
        if (error != nullptr) {
            *error = message.empty() ? std::string("Syntax error") : message;
        }
        return false;
    }
    out.swap(value);
    if (error != nullptr) {
        error->clear();
    }
    return true;
}

std::string JsonAsText(const Json::Value& value) {
    switch (value.type()) {
    case Json::nullValue:
        return "";
    case Json::intValue:
        return std::to_string(value.asLargestInt());
    case Json::uintValue:
        return std::to_string(value.asLargestUInt());
    case Json::realValue: {
        char buffer[400]; // "%lf" of the largest double has 309 digits before the point
        std::snprintf(buffer, sizeof(buffer), "%lf", value.asDouble());
        return FixDecimalPoint(buffer);
    }
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!value.getString(&begin, &end) || begin == nullptr) {
            return "";
        }
        return std::string(begin, end);
    }
    case Json::booleanValue:
        return value.asBool() ? "true" : "false";
    case Json::arrayValue:
        return "array";
    case Json::objectValue:
        return "object";
    }
    return "";
}

int64_t JsonAsInt64(const Json::Value& value) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    switch (value.type()) {
    case Json::intValue:
        return value.asLargestInt();
    case Json::uintValue: {
        Json::UInt64 u = value.asLargestUInt();
        return u > static_cast<Json::UInt64>(kMax) ? kMax : static_cast<int64_t>(u);
    }
    case Json::realValue: {
        double d = value.asDouble();
        if (std::isnan(d)) {
            return 0;
        }
        if (d >= 9223372036854775807.0) {
            return kMax;
        }
        if (d <= -9223372036854775808.0) {
            return kMin;
        }
        return static_cast<int64_t>(d);
    }
    case Json::booleanValue:
        return value.asBool() ? 1 : 0;
    case Json::stringValue: {
        // Decimal, like _atoi64: blanks, a sign, digits up to the first other character.
        const char* p = nullptr;
        const char* end = nullptr;
        if (!value.getString(&p, &end) || p == nullptr) {
            return 0;
        }
        while (p < end &&
               (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')) {
            ++p;
        }
        bool negative = false;
        if (p < end && (*p == '+' || *p == '-')) {
            negative = *p == '-';
            ++p;
        }
        uint64_t magnitude = 0;
        const uint64_t limit =
            negative ? static_cast<uint64_t>(kMax) + 1 : static_cast<uint64_t>(kMax);
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            const unsigned d = static_cast<unsigned>(*p - '0');
            if (magnitude > (limit - d) / 10) {
                magnitude = limit; // clamped; the remaining digits change nothing
                break;
            }
            magnitude = magnitude * 10 + d;
        }
        if (negative) {
            return magnitude == static_cast<uint64_t>(kMax) + 1 ? kMin
                                                                : -static_cast<int64_t>(magnitude);
        }
        return static_cast<int64_t>(magnitude);
    }
    default:
        return 0;
    }
}

const Json::Value& JsonMember(const Json::Value& value, const char* name) {
    if (name == nullptr || !value.isObject()) {
        return Json::Value::nullSingleton();
    }
    const Json::Value* found = value.find(name, name + std::strlen(name));
    return found != nullptr ? *found : Json::Value::nullSingleton();
}
