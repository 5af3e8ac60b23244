// A tolerant JSON reader for request bodies, and the writer helpers of the answers.
//
// The suite builds its bodies from printf templates and inserts some values bare: the user id and
// token exactly as the sign-in answer wrote them, and the tool's serial in the owner query without
// quotes. So a value that is neither a quoted text, an object nor an array is read as the raw text
// up to the next ',', '}', ']' or line end (trailing blanks dropped) and classified afterwards: a JSON
// number, true/false/null, or a bare word. Everything else follows JSON: quoted keys, escapes in
// texts, nesting (at most 32 levels), nothing but white space after the top value. Members keep their
// order and duplicates (the suite's user record sends "bgImg" twice); lookups take the first.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/json_text.h"

namespace krevol::sandbox {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Bare, Object, Array };

    // Defined below the class: clang with libstdc++ cannot instantiate the implicit one while the
    // pair<string, JsonValue> of `members` still sees an incomplete JsonValue.
    JsonValue();

    Kind kind = Kind::Null;
    std::string text;  // String: the unescaped text; Number, Bool, Null, Bare: the raw text
    std::vector<std::pair<std::string, JsonValue>> members;  // Object, in order
    std::vector<JsonValue> items;                            // Array

    // First member named `key` of an object, or nullptr.
    const JsonValue* find(std::string_view key) const;
    bool isText() const { return kind == Kind::String; }
    // A quoted text, a number or a bare word: the form of a value inserted into a template bare.
    bool isScalarText() const { return kind == Kind::String || kind == Kind::Number || kind == Kind::Bare; }
};

inline JsonValue::JsonValue() = default;

// Reads `text` into `out`. On failure returns false and describes the first fault, with its byte
// offset, in `error`.
bool parseJson(std::string_view text, JsonValue& out, std::string& error);

// Answers quote their texts with the suite's own escaper.
using krevol::jsonQuoted;

}  // namespace krevol::sandbox
