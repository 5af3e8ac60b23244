#include "sandbox/fault_switches.h"

#include <algorithm>
#include <charconv>

namespace krevol::sandbox {
namespace {

constexpr const char* kApiBase = "/krevol-manager-api/";

bool toInt(const std::string& text, int& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool matches(const std::string& pattern, const std::string& path) {
    if (!pattern.empty() && pattern.back() == '*') {
        return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == path;
}

}  // namespace

std::size_t pacedChunkBytes(int rateKiBps) {
    const auto bytesPerSecond = static_cast<std::size_t>(rateKiBps > 0 ? rateKiBps : 1) * 1024;
    return std::max<std::size_t>(1, bytesPerSecond * kPaceTickMs / 1000);
}

std::string normaliseFaultPath(const std::string& path) {
    const std::string base = kApiBase;
    if (path.rfind(base, 0) == 0) return path.substr(base.size());
    if (!path.empty() && path.front() == '/') return path.substr(1);
    return path;
}

bool parseFaultOption(const std::string& text, FaultSwitch& out, std::string& error) {
    out = FaultSwitch{};
    const auto colon = text.find(':');
    out.path = normaliseFaultPath(text.substr(0, colon));
    if (out.path.empty()) {
        error = "a fault needs a path";
        return false;
    }
    if (colon == std::string::npos) return true;
    std::string rest = text.substr(colon + 1);
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        int number = 0;
        if (key == "cutBody" || key == "noLength") {
            bool on = true;
            if (eq != std::string::npos) {
                if (value != "0" && value != "1") {
                    error = key + " takes 0 or 1";
                    return false;
                }
                on = value == "1";
            }
            (key == "cutBody" ? out.cutBody : out.noLength) = on;
        } else if (key == "rateKiBps" && toInt(value, number)) {
            if (number < 0 || number > kMaxRateKiBps) {
                error = "rateKiBps must lie between 0 and " + std::to_string(kMaxRateKiBps);
                return false;
            }
            out.rateKiBps = number;
        } else if ((key == "delayMs" || key == "status" || key == "count") && toInt(value, number)) {
            if (key == "delayMs" && (number < 0 || number > 600000)) {
                error = "delayMs must lie between 0 and 600000";
                return false;
            }
            if (key == "status" && number != 0 && (number < 100 || number > 599)) {
                error = "status must be an HTTP status (100-599)";
                return false;
            }
            if (key == "count" && number == 0) {
                error = "count must not be 0";
                return false;
            }
            (key == "delayMs" ? out.delayMs : key == "status" ? out.status : out.count) = number;
        } else {
            error = "unknown fault setting '" + item + "'";
            return false;
        }
    }
    return true;
}

void FaultTable::set(FaultSwitch fault) {
    std::lock_guard lock(mutex_);
    fault.path = normaliseFaultPath(fault.path);
    faults_[fault.path] = fault;
}

void FaultTable::clear(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (path.empty()) {
        faults_.clear();
    } else {
        faults_.erase(normaliseFaultPath(path));
    }
}

std::optional<FaultSwitch> FaultTable::take(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto best = faults_.find(path);
    if (best == faults_.end()) {
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            if (matches(it->first, path) &&
                (best == faults_.end() || it->first.size() > best->first.size())) {
                best = it;
            }
        }
    }
    if (best == faults_.end()) return std::nullopt;
    FaultSwitch fault = best->second;
    if (best->second.count > 0 && --best->second.count == 0) faults_.erase(best);
    return fault;
}

std::vector<FaultSwitch> FaultTable::list() const {
    std::lock_guard lock(mutex_);
    std::vector<FaultSwitch> out;
    for (const auto& [path, fault] : faults_) out.push_back(fault);
    return out;
}

}  // namespace krevol::sandbox
