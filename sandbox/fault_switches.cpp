#include "sandbox/fault_switches.h"

#include <algorithm>
#include <charconv>

#include "sandbox/json_reader.h"

namespace krevol::sandbox {
namespace {

constexpr const char* kApiBase = "/krevol-manager-api/";

template <typename Number>
bool toInt(const std::string& text, Number& out) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

bool matches(const std::string& pattern, const std::string& path) {
    if (!pattern.empty() && pattern.back() == '*') {
        return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
    }
    return pattern == path;
}

}  // namespace

char garbageByte(std::uint64_t offset) {
    if (offset == 0) return static_cast<char>(0xFF);
    // splitmix64 of the offset: the same byte at the same place, however the body is read.
    std::uint64_t z = offset + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<char>((z ^ (z >> 31)) & 0xFF);
}

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

std::string checkFaultSwitch(const FaultSwitch& f) {
    if (f.delayMs < 0 || f.delayMs > 600000) return "delayMs must lie between 0 and 600000";
    if (f.status != 0 && (f.status < 100 || f.status > 599)) return "status must be an HTTP status (100-599)";
    if (f.count == 0 || f.count < -1) return "count must be -1 or above 0";
    if (f.rateKiBps < 0 || f.rateKiBps > kMaxRateKiBps)
        return "rateKiBps must lie between 0 and " + std::to_string(kMaxRateKiBps);
    if (f.dieAfterBytes < -1) return "dieAfterBytes must be 0 or more";
    if (f.stallAfterBytes < -1) return "stallAfterBytes must be 0 or more";
    if (f.stallMs < 1 || f.stallMs > kMaxStallMs)
        return "stallMs must lie between 1 and " + std::to_string(kMaxStallMs);
    const int breaks =
        (f.cutBody ? 1 : 0) + (f.dieAfterBytes >= 0 ? 1 : 0) + (f.stallAfterBytes >= 0 ? 1 : 0);
    if (breaks > 1) return "cutBody, dieAfterBytes and stallAfterBytes exclude each other";
    return {};
}

bool parseFaultOption(const std::string& text, FaultSwitch& out, std::string& error) {
    out = FaultSwitch{};
    const auto colon = text.find(':');
    out.path = normaliseFaultPath(text.substr(0, colon));
    if (out.path.empty()) {
        error = "a fault needs a path";
        return false;
    }
    std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    const std::map<std::string, bool*> flags = {{"cutBody", &out.cutBody},
                                                {"noLength", &out.noLength},
                                                {"garbage", &out.garbage},
                                                {"emptyBody", &out.emptyBody},
                                                {"hugeBody", &out.hugeBody}};
    const std::map<std::string, int*> numbers = {{"delayMs", &out.delayMs},
                                                 {"status", &out.status},
                                                 {"count", &out.count},
                                                 {"rateKiBps", &out.rateKiBps},
                                                 {"stallMs", &out.stallMs}};
    const std::map<std::string, std::int64_t*> byteCounts = {{"dieAfterBytes", &out.dieAfterBytes},
                                                             {"stallAfterBytes", &out.stallAfterBytes}};
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string item = rest.substr(0, comma);
        rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
        if (const auto flag = flags.find(key); flag != flags.end()) {
            if (eq != std::string::npos && value != "0" && value != "1") {
                error = key + " takes 0 or 1";
                return false;
            }
            *flag->second = eq == std::string::npos || value == "1";
        } else if (const auto number = numbers.find(key);
                   number != numbers.end() && toInt(value, *number->second)) {
        } else if (const auto bytes = byteCounts.find(key);
                   bytes != byteCounts.end() && toInt(value, *bytes->second) && *bytes->second >= 0) {
        } else {
            error = "unknown or malformed fault setting '" + item + "'";
            return false;
        }
    }
    error = checkFaultSwitch(out);
    return error.empty();
}

std::string faultSwitchJson(const FaultSwitch& f) {
    const auto flag = [](bool on) { return on ? "true" : "false"; };
    return "{\"path\":" + jsonQuoted(f.path) + ",\"delayMs\":" + std::to_string(f.delayMs) +
           ",\"status\":" + std::to_string(f.status) + ",\"cutBody\":" + flag(f.cutBody) +
           ",\"noLength\":" + flag(f.noLength) + ",\"count\":" + std::to_string(f.count) +
           ",\"rateKiBps\":" + std::to_string(f.rateKiBps) +
           ",\"dieAfterBytes\":" + std::to_string(f.dieAfterBytes) +
           ",\"stallAfterBytes\":" + std::to_string(f.stallAfterBytes) +
           ",\"stallMs\":" + std::to_string(f.stallMs) + ",\"garbage\":" + flag(f.garbage) +
           ",\"emptyBody\":" + flag(f.emptyBody) + ",\"hugeBody\":" + flag(f.hugeBody) + "}";
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
