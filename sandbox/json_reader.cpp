#include "sandbox/json_reader.h"

#include <cstdint>

namespace krevol::sandbox {
namespace {

constexpr int kMaxDepth = 32;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool looksLikeNumber(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-') ++i;
    if (i >= s.size()) return false;
    if (s[i] == '0') {
        ++i;
    } else if (s[i] >= '1' && s[i] <= '9') {
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    } else {
        return false;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        const std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == start) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Reader {
  public:
    explicit Reader(std::string_view text) : s_(text) {}

    bool document(JsonValue& out) {
        skipBlanks();
        if (!value(out, 0)) return false;
        skipBlanks();
        if (pos_ != s_.size()) return fail("text after the end of the document");
        return true;
    }

    std::string error;

  private:
    bool fail(const std::string& what) {
        if (error.empty()) error = what + " at offset " + std::to_string(pos_);
        return false;
    }

    void skipBlanks() {
        while (pos_ < s_.size() && isBlank(s_[pos_])) ++pos_;
    }

    bool value(JsonValue& out, int depth) {
        if (depth > kMaxDepth) return fail("nesting too deep");
        if (pos_ >= s_.size()) return fail("value expected");
        const char c = s_[pos_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out.kind = JsonValue::Kind::String;
            return quoted(out.text);
        }
        return bare(out);
    }

    bool object(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Object;
        ++pos_;
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != '"') return fail("quoted member name expected");
            std::string key;
            if (!quoted(key)) return false;
            skipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != ':') return fail("':' expected");
            ++pos_;
            skipBlanks();
            JsonValue member;
            if (!value(member, depth + 1)) return false;
            out.members.emplace_back(std::move(key), std::move(member));
            skipBlanks();
            if (pos_ >= s_.size()) return fail("'}' expected");
            if (s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (s_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    bool array(JsonValue& out, int depth) {
        out.kind = JsonValue::Kind::Array;
        ++pos_;
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipBlanks();
            JsonValue item;
            if (!value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            skipBlanks();
            if (pos_ >= s_.size()) return fail("']' expected");
            if (s_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (s_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    bool hex4(std::uint32_t& out) {
        if (s_.size() - pos_ < 4) return fail("short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9') {
                out |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                out |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                out |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return fail("bad \\u escape");
            }
        }
        return true;
    }

    bool quoted(std::string& out) {
        ++pos_;  // opening quote
        for (;;) {
            if (pos_ >= s_.size()) return fail("unterminated text");
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (c == '\r' || c == '\n') return fail("line end inside a text");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) return fail("unterminated escape");
            const char e = s_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
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
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (s_.substr(pos_, 2) != "\\u") return fail("lone surrogate");
                        pos_ += 2;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return fail("lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return fail("lone surrogate");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default:
                    --pos_;
                    return fail("unknown escape");
            }
        }
    }

    bool bare(JsonValue& out) {
        const std::size_t start = pos_;
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == ',' || c == '}' || c == ']' || c == '\r' || c == '\n') break;
            if (c == '"' || c == '{' || c == '[' || c == ':') return fail("unexpected character");
            ++pos_;
        }
        std::size_t end = pos_;
        while (end > start && (s_[end - 1] == ' ' || s_[end - 1] == '\t')) --end;
        if (end == start) return fail("value expected");
        out.text = std::string(s_.substr(start, end - start));
        if (out.text == "null") {
            out.kind = JsonValue::Kind::Null;
        } else if (out.text == "true" || out.text == "false") {
            out.kind = JsonValue::Kind::Bool;
        } else if (looksLikeNumber(out.text)) {
            out.kind = JsonValue::Kind::Number;
        } else {
            out.kind = JsonValue::Kind::Bare;
        }
        return true;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) return &value;
    }
    return nullptr;
}

bool parseJson(std::string_view text, JsonValue& out, std::string& error) {
    out = JsonValue{};
    Reader reader(text);
    if (reader.document(out)) return true;
    error = reader.error;
    out = JsonValue{};
    return false;
}

}  // namespace krevol::sandbox
