#include "job/memory_budget.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace veltrana {

namespace {

namespace fs = std::filesystem;

// Limits at or above this (an exabyte) stand for "no limit": version 1
// writes its largest page-aligned number there.
constexpr std::int64_t kNoLimit = std::int64_t{1} << 60;
constexpr std::int64_t kKibibyte = 1024;

std::string fileText(const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// Whether a comma-separated list of controllers holds "memory".
bool listsMemory(std::string_view controllers) {
    while (!controllers.empty()) {
        const std::size_t comma = controllers.find(',');
        if (controllers.substr(0, comma) == "memory") {
            return true;
        }
        controllers.remove_prefix(comma == std::string_view::npos ? controllers.size() : comma + 1);
    }
    return false;
}

// The memory limit files of this process's control groups, its own first,
// then each group above it (version 2 limits a group by all above it).
std::vector<fs::path> groupLimitFiles() {
    std::vector<fs::path> files;
    std::istringstream lines(fileText("/proc/self/cgroup"));
    for (std::string line; std::getline(lines, line);) {
        // "ID:CONTROLLERS:PATH": version 2 has ID 0 and no controllers
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        const std::string_view controllers =
            std::string_view(line).substr(first + 1, second - first - 1);
        fs::path group = line.substr(second + 1);
        const bool unified = controllers.empty();
        if (!unified && !listsMemory(controllers)) {
            continue;
        }
        const fs::path root = unified ? "/sys/fs/cgroup" : "/sys/fs/cgroup/memory";
        const char* name = unified ? "memory.max" : "memory.limit_in_bytes";
        for (;;) {
            files.push_back(root / group.relative_path() / name);
            if (!group.has_relative_path()) {
                break;
            }
            group = group.parent_path();
        }
    }
    return files;
}

} // namespace

MemoryLease::~MemoryLease() {
    release();
}

MemoryLease::MemoryLease(MemoryLease&& other) noexcept
    : budget(std::exchange(other.budget, nullptr)), held(std::exchange(other.held, 0)),
      admitted(other.admitted) {}

MemoryLease& MemoryLease::operator=(MemoryLease&& other) noexcept {
    if (this != &other) {
        release();
        budget = std::exchange(other.budget, nullptr);
        held = std::exchange(other.held, 0);
        admitted = other.admitted;
    }
    return *this;
}

void MemoryLease::resize(std::int64_t bytes) {
    if (budget != nullptr) {
        budget->change(bytes - held);
    }
    held = bytes;
}

void MemoryLease::release() {
    if (budget != nullptr) {
        budget->end(held, admitted);
    }
    budget = nullptr;
    held = 0;
}

MemoryBudget::MemoryBudget(std::int64_t limitBytes)
    : limitBytes(std::max<std::int64_t>(limitBytes, 0)) {}

std::int64_t MemoryBudget::held() const {
    const std::lock_guard lock(mutex);
    return heldBytes;
}

MemoryLease MemoryBudget::admit(std::int64_t bytes) {
    bytes = std::max<std::int64_t>(bytes, 0);
    std::unique_lock lock(mutex);
    const std::uint64_t ticket = nextTicket++;
    changed.wait(lock, [&] {
        return ticket == serving && (scansAdmitted == 0 || heldBytes + bytes <= limitBytes);
    });
    ++serving;
    heldBytes += bytes;
    ++scansAdmitted;
    // the next in turn may fit too
    changed.notify_all();
    return MemoryLease(this, bytes, true);
}

MemoryLease MemoryBudget::keep(std::int64_t bytes) {
    bytes = std::max<std::int64_t>(bytes, 0);
    const std::lock_guard lock(mutex);
    heldBytes += bytes;
    return MemoryLease(this, bytes, false);
}

void MemoryBudget::change(std::int64_t delta) {
    {
        const std::lock_guard lock(mutex);
        heldBytes += delta;
    }
    if (delta < 0) {
        changed.notify_all();
    }
}

void MemoryBudget::end(std::int64_t bytes, bool admitted) {
    {
        const std::lock_guard lock(mutex);
        heldBytes -= bytes;
        if (admitted) {
            --scansAdmitted;
        }
    }
    changed.notify_all();
}

std::optional<std::int64_t> availableMemoryOf(std::string_view meminfo) {
    constexpr std::string_view kKey = "MemAvailable:";
    std::size_t at = meminfo.find(kKey);
    // the key starts a line
    while (at != std::string_view::npos && at != 0 && meminfo[at - 1] != '\n') {
        at = meminfo.find(kKey, at + 1);
    }
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view line = meminfo.substr(at + kKey.size());
    line = line.substr(0, line.find('\n'));
    line = trimmed(line);
    // "12345 kB"
    if (line.size() < 3 || line.substr(line.size() - 3) != " kB") {
        return std::nullopt;
    }
    const std::optional<std::int64_t> kibibytes =
        wholeNumber(trimmed(line.substr(0, line.size() - 3)));
    if (!kibibytes || *kibibytes >= kNoLimit / kKibibyte) {
        return std::nullopt;
    }
    return *kibibytes * kKibibyte;
}

std::optional<std::int64_t> groupLimitOf(std::string_view limitFile) {
    const std::optional<std::int64_t> bytes = wholeNumber(trimmed(limitFile));
    if (!bytes || *bytes >= kNoLimit) {
        return std::nullopt;
    }
    return bytes;
}

std::int64_t defaultMemoryBudgetBytes() {
    std::optional<std::int64_t> usable = availableMemoryOf(fileText("/proc/meminfo"));
    for (const fs::path& file : groupLimitFiles()) {
        if (const std::optional<std::int64_t> limit = groupLimitOf(fileText(file))) {
            usable = usable ? std::min(*usable, *limit) : *limit;
        }
    }
    // a system that says nothing: a budget that admits one scan at a time
    return usable ? *usable / 2 : 0;
}

} // namespace veltrana
