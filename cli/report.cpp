#include "cli/report.h"

#include <ostream>

#include "net/api.h"

namespace krevol::cli {
namespace {

// The JSON string literal of a text (quotes included).
std::string jsonString(const std::string& text) {
    return "\"" + jsonText(text) + "\"";
}

}  // namespace

void Report::add(const std::string& key, const std::string& text) {
    std::lock_guard lock(mutex_);
    fields_.push_back({key, text, Kind::Text});
}

void Report::add(const std::string& key, std::int64_t number) {
    std::lock_guard lock(mutex_);
    fields_.push_back({key, std::to_string(number), Kind::Number});
}

void Report::add(const std::string& key, bool flag) {
    std::lock_guard lock(mutex_);
    fields_.push_back({key, flag ? "true" : "false", Kind::Flag});
}

void Report::addList(const std::string& key, const std::vector<std::string>& lines,
                     const std::vector<Record>& records) {
    std::string array = "[";
    for (const Record& record : records) {
        if (array.size() > 1) array += ',';
        array += '{';
        bool first = true;
        for (const Value& v : record) {
            if (!first) array += ',';
            first = false;
            array += jsonString(v.key) + ":" + (v.number ? v.value : jsonString(v.value));
        }
        array += '}';
    }
    array += ']';
    std::lock_guard lock(mutex_);
    fields_.push_back({key, std::move(array), Kind::List, lines});
}

void Report::addMessage(const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
}

namespace {
std::string oneLine(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}
}  // namespace

void Report::print(std::ostream& out, bool json) const {
    std::lock_guard lock(mutex_);
    if (!json) {
        for (const Field& f : fields_) {
            if (f.kind == Kind::List) {
                for (const std::string& line : f.lines) out << f.key << ": " << oneLine(line) << "\n";
            } else {
                out << f.key << ": " << oneLine(f.value) << "\n";
            }
        }
        for (const std::string& m : messages_) out << "message: " << oneLine(m) << "\n";
        out.flush();
        return;
    }
    out << "{";
    for (const Field& f : fields_) {
        out << jsonString(f.key) << ":" << (f.kind == Kind::Text ? jsonString(f.value) : f.value) << ",";
    }
    out << "\"message\":[";
    for (std::size_t i = 0; i < messages_.size(); ++i) out << (i == 0 ? "" : ",") << jsonString(messages_[i]);
    out << "]}\n";
    out.flush();
}

ReportPresenter::ReportPresenter(Report& report) : report_(report), previous_(messagePresenter()) {
    setMessagePresenter(this);
}

ReportPresenter::~ReportPresenter() {
    setMessagePresenter(previous_);
}

int ReportPresenter::present(const ShownMessage& message) {
    report_.addMessage(message.text);
    return message.type == kBoxOk ? kAnswerFirst : kAnswerSecond;
}

}  // namespace krevol::cli
