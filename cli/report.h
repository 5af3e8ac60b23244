// What a krevolctl command prints: named values in order, then the messages the user would have
// been shown. As text: one "key: value" line each (a line feed inside a value is written as the
// two characters "\n"), messages as "message: TEXT" lines after the values. As JSON: one object
// on one line with the values in the same order (numbers and booleans as such) and "message" as an
// array of texts.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "app/message_presenter.h"

namespace krevol::cli {

class Report {
  public:
    void add(const std::string& key, const std::string& text);
    void add(const std::string& key, std::int64_t number);
    void add(const std::string& key, bool flag);
    // A list under one key: in text one "key: LINE" line per element (the lines given), in JSON an
    // array of objects (the records given, values as texts unless marked as numbers).
    struct Value {
        std::string key;
        std::string value;
        bool number = false;
    };
    using Record = std::vector<Value>;
    void addList(const std::string& key, const std::vector<std::string>& lines,
                 const std::vector<Record>& records);
    void addMessage(const std::string& text);

    void print(std::ostream& out, bool json) const;

  private:
    enum class Kind { Text, Number, Flag, List };
    struct Field {
        std::string key;
        std::string value;  // List: the JSON array
        Kind kind;
        std::vector<std::string> lines = {};  // List: the text lines
    };
    mutable std::mutex mutex_;
    std::vector<Field> fields_;
    std::vector<std::string> messages_;
};

// Installs itself as the message presenter for its lifetime and records every message shown into
// the report. OK boxes answer OK; questions answer NO, the cautious choice.
class ReportPresenter : public MessagePresenter {
  public:
    explicit ReportPresenter(Report& report);
    ~ReportPresenter() override;
    ReportPresenter(const ReportPresenter&) = delete;
    ReportPresenter& operator=(const ReportPresenter&) = delete;
    int present(const ShownMessage& message) override;

  private:
    Report& report_;
    MessagePresenter* previous_;
};

}  // namespace krevol::cli
