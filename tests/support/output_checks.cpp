#include "support/output_checks.h"

#include "support/test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string_view>
#include <sys/mount.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace veltrana::test {

namespace fs = std::filesystem;

namespace {

std::string describe(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return "missing";
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        return "link to " + fs::read_symlink(path, ec).string();
    }
    if (S_ISDIR(st.st_mode)) {
        return "folder";
    }
    if (S_ISFIFO(st.st_mode)) {
        return "fifo";
    }
    if (!S_ISREG(st.st_mode)) {
        return "special";
    }
    const std::string bytes = readFileText(path);
    return "file " + std::to_string(bytes.size()) + " bytes, hash " +
           std::to_string(std::hash<std::string_view>{}(bytes));
}

} // namespace

FolderSnapshot::FolderSnapshot(const fs::path& folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        described[it->path().lexically_relative(folder).string()] = describe(it->path());
    }
}

std::vector<std::string> FolderSnapshot::changedSince(const FolderSnapshot& before) const {
    std::vector<std::string> changed;
    for (const auto& [name, what] : described) {
        const auto old = before.described.find(name);
        if (old == before.described.end() || old->second != what) {
            changed.push_back(name);
        }
    }
    for (const auto& [name, what] : before.described) {
        if (described.find(name) == described.end()) {
            changed.push_back(name);
        }
    }
    std::sort(changed.begin(), changed.end());
    return changed;
}

std::vector<std::string> temporariesUnder(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().rfind(".veltrana-", 0) == 0) {
            found.push_back(it->path().lexically_relative(folder).string());
        }
    }
    return found;
}

ScopedMount::~ScopedMount() {
    if (!where.empty()) {
        // a lazy unmount: a process the test failed to reap cannot keep it
        ::umount2(where.c_str(), MNT_DETACH);
    }
}

bool ScopedMount::mountTmpfs(const fs::path& at, std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        failure = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return false;
    }
    where = at;
    return true;
}

bool ScopedMount::bindReadOnly(const fs::path& folder) {
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        failure = std::string("cannot bind a folder: ") + std::strerror(errno);
        return false;
    }
    where = folder;
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        failure = std::string("cannot make a bound folder read-only: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool fillDisk(const fs::path& filler, std::size_t room) {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const std::string block(1 << 16, 'f');
    std::size_t written = 0;
    while (true) {
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool full = errno == ENOSPC;
    const off_t keep = written > room ? static_cast<off_t>(written - room) : 0;
    const bool trimmed = ::ftruncate(fd, keep) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    return full && trimmed;
}

bool writeHugeClaimTiff(const fs::path& path, std::uint32_t side) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    constexpr tstrip_t kStrips = 4;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, side);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, side);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, (side + kStrips - 1) / kStrips);
    std::vector<std::uint8_t> zeros(4096, 0);
    bool ok = true;
    for (tstrip_t s = 0; s < kStrips && ok; ++s) {
        ok = TIFFWriteEncodedStrip(tif, s, zeros.data(), static_cast<tmsize_t>(zeros.size())) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

bool writeUnusualTiff(const fs::path& path, std::uint16_t bits, std::uint16_t samples,
                      std::uint16_t photometric) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    constexpr std::uint32_t kSide = 128;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kSide);
    if (photometric == PHOTOMETRIC_PALETTE) {
        std::vector<std::uint16_t> grey(std::size_t{1} << bits);
        for (std::size_t i = 0; i < grey.size(); ++i) {
            grey[i] = static_cast<std::uint16_t>(i * 65535 / (grey.size() - 1));
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, grey.data(), grey.data(), grey.data());
    }
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(TIFFScanlineSize64(tif)) * kSide,
                                     0x5a);
    const bool ok =
        TIFFWriteEncodedStrip(tif, 0, pixels.data(), static_cast<tmsize_t>(pixels.size())) >= 0;
    TIFFClose(tif);
    return ok;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

long unusedProcessId() {
    long largest = 4194304; // the kernel's upper bound for pid_max
    std::ifstream in("/proc/sys/kernel/pid_max");
    in >> largest;
    return largest + 1;
}

} // namespace veltrana::test
