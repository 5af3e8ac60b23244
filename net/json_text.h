// Escaping a text for a JSON string. Shared by the suite (request bodies, krevolctl's JSON output)
// and the sandbox server (its answers), so both sides escape alike; kept free of every other
// dependency so that the sandbox links nothing else of the suite.
#pragma once

#include <string>
#include <string_view>

namespace krevol {

// The text escaped for use between the quotes of a JSON string: '"' and '\\' get a backslash,
// control characters become \b \f \n \r \t or \u00XX. Other bytes (also non-ASCII) stay as they are.
std::string jsonText(std::string_view text);

// The text as a whole JSON string: a quote, jsonText(text), a quote.
std::string jsonQuoted(std::string_view text);

}  // namespace krevol
