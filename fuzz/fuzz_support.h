// What the fuzz targets share: a failed property stops the run with its reason, messages go
// nowhere, and each target gets a scratch folder of its own below TMPDIR.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/diagnostic_log.h"
#include "app/message_presenter.h"

namespace krevol::fuzz {

// Stops the run (libFuzzer then writes the input as a crash file).
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz property broken: %s %.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

inline void check(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds) fail(what, detail);
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Swallows every message the readers show (a box per input would flood the log).
class QuietPresenter : public MessagePresenter {
  public:
    int present(const ShownMessage&) override { return kAnswerSecond; }
};

// Also turns the diagnostic log off: a line per input would only fill the disk.
inline void silenceMessages() {
    static QuietPresenter presenter;
    setMessagePresenter(&presenter);
    setDiagnosticLogFile("");
}

// A fresh folder below TMPDIR (or /tmp) for this process, removed at exit.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/krevol-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) fail("cannot create the scratch folder", pattern);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratchFolder(), ec);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

}  // namespace krevol::fuzz
