#include "job/safe_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace veltrana {

namespace {
std::atomic<unsigned> temporaryCounter{0};
}

std::filesystem::path temporaryPathFor(const std::filesystem::path& target,
                                       const std::string& suffix) {
    // appended piece by piece: GCC 12 misreads "." + std::string at -O2 (-Wrestrict)
    std::string name = ".";
    name += target.filename().string();
    name += '.';
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(temporaryCounter.fetch_add(1));
    name += suffix;
    return target.parent_path() / name;
}

std::string commitTemporary(const std::filesystem::path& temporary,
                            const std::filesystem::path& target) {
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        discardTemporary(temporary);
        return ec.message();
    }
    return {};
}

void discardTemporary(const std::filesystem::path& temporary) {
    std::error_code ec;
    std::filesystem::remove(temporary, ec);
}

std::string writeTextFile(const std::filesystem::path& target, const std::string& text) {
    const std::filesystem::path temporary = temporaryPathFor(target);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            return std::strerror(errno);
        }
        out << text;
        out.close();
        if (out.fail()) {
            discardTemporary(temporary);
            return "write failed";
        }
    }
    return commitTemporary(temporary, target);
}

} // namespace veltrana
