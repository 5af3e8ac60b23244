// krevolctl post PATH BODYFILE: one JSON post, shown as the program receives it.
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/command.h"
#include "cli/report.h"
#include "net/api.h"
#include "net/transport.h"

namespace krevol::cli {

namespace {

bool readBody(const std::string& name, std::string& body) {
    if (name == "-") {
        body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int runPostCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandWords words;
    if (const auto exit = readCommandWords("post", args, 2, words, out, err)) return *exit;
    const std::string& path = words.positional[0];
    const std::string url = path.find("://") != std::string::npos ? path : apiUrl(path);
    std::string body;
    if (!readBody(words.positional[1], body)) {
        err << "krevolctl: cannot read " << words.positional[1] << "\n";
        return kExitLocal;
    }

    Report report;
    int result = 0;
    {
        ReportPresenter presenter(report);
        std::string answer;
        result = postJson(url, body, answer);
        report.add("result", static_cast<std::int64_t>(result));
        if (result == kResultOk) report.add("status", static_cast<std::int64_t>(parseStatusCode(answer)));
        report.add("answer", answer);
        report.add("url", url);
    }
    report.print(out, words.json);
    return result == kResultOk ? kExitOk : kExitFailed;
}

}  // namespace krevol::cli
