// Points the diagnostic log (app/diagnostic_log.h) at a file of a fresh temporary folder while the
// object lives, then back at the working folder's file:
//
//   test::LogCapture log;
//   ... the code under test ...
//   EXPECT_NE(log.text().find("server: POST "), std::string::npos) << log.text();
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "app/diagnostic_log.h"
#include "support/file_bytes.h"

namespace krevol::test {

class LogCapture {
  public:
    LogCapture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "krevol-log-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
        setDiagnosticLogFile(folder_.empty() ? std::string() : file());
    }
    ~LogCapture() {
        useDefaultDiagnosticLogFile();
        std::error_code ec;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string folder() const { return folder_.string(); }
    std::string file() const { return (folder_ / kDiagnosticLogName).string(); }
    std::string text() const { return fileBytes(file()); }

  private:
    std::filesystem::path folder_;
};

}  // namespace krevol::test
