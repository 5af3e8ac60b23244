// The sandbox's tolerant JSON reader of request bodies. A document it reads, written out again
// (texts quoted with the suite's escaper, every other value as its raw text), reads back the same.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "sandbox/json_reader.h"

using namespace krevol::sandbox;
using krevol::fuzz::check;

namespace {

std::string write(const JsonValue& v) {
    switch (v.kind) {
        case JsonValue::Kind::String:
            return jsonQuoted(v.text);
        case JsonValue::Kind::Object: {
            std::string out = "{";
            for (std::size_t i = 0; i < v.members.size(); ++i) {
                if (i > 0) out += ',';
                out += jsonQuoted(v.members[i].first) + ":" + write(v.members[i].second);
            }
            return out + "}";
        }
        case JsonValue::Kind::Array: {
            std::string out = "[";
            for (std::size_t i = 0; i < v.items.size(); ++i) {
                if (i > 0) out += ',';
                out += write(v.items[i]);
            }
            return out + "]";
        }
        default:
            return v.text;
    }
}

bool same(const JsonValue& a, const JsonValue& b) {
    if (a.kind != b.kind || a.text != b.text || a.members.size() != b.members.size() ||
        a.items.size() != b.items.size())
        return false;
    for (std::size_t i = 0; i < a.members.size(); ++i)
        if (a.members[i].first != b.members[i].first || !same(a.members[i].second, b.members[i].second))
            return false;
    for (std::size_t i = 0; i < a.items.size(); ++i)
        if (!same(a.items[i], b.items[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = krevol::fuzz::asText(data, size);
    JsonValue value;
    std::string error;
    if (!parseJson(text, value, error)) {
        check(!error.empty(), "a refused document without a reason");
        return 0;
    }
    check(error.empty(), "an accepted document with a reason", error);
    const std::string again = write(value);
    JsonValue reread;
    check(parseJson(again, reread, error), "the written document does not read back", error);
    check(same(value, reread), "the written document reads back differently", again);
    // The lookups the handlers make.
    if (value.kind == JsonValue::Kind::Object) {
        if (const JsonValue* body = value.find("data")) (void)body->find("usersId");
        for (const auto& [key, member] : value.members)
            check(value.find(key) != nullptr, "a member is not found by its name", key);
    }
    return 0;
}
