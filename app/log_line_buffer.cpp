#include "app/log_line_buffer.h"

#include <utility>

#include "app/diagnostic_log.h"

namespace krevol {

LineLogBuffer::LineLogBuffer(std::ostream& target, std::string area)
    : target_(target), area_(std::move(area)) {}

LineLogBuffer::~LineLogBuffer() {
    if (!line_.empty()) logEvent(area_, line_);
}

void LineLogBuffer::take(char c) {
    if (c != '\n') {
        line_ += c;
        return;
    }
    if (!line_.empty()) logEvent(area_, line_);
    line_.clear();
}

LineLogBuffer::int_type LineLogBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    target_.put(ch);
    take(ch);
    return c;
}

std::streamsize LineLogBuffer::xsputn(const char* s, std::streamsize n) {
    target_.write(s, n);
    for (std::streamsize i = 0; i < n; ++i) take(s[i]);
    return n;
}

int LineLogBuffer::sync() {
    target_.flush();
    return target_ ? 0 : -1;
}

}  // namespace krevol
