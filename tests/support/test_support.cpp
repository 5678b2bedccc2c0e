#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace veltrana::test {

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate =
            base / ("veltrana-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            dir = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    // a test may have made parts read-only
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
}

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {} // namespace

ProcessResult runProgram(const std::vector<std::string>& argv) {
    // Output goes to temporary files so a chatty program cannot fill a pipe.
    TempDir scratch;
    const auto outPath = scratch / "out";
    const auto errPath = scratch / "err";
    // what this process has buffered must not be written twice
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* o = std::freopen(outPath.c_str(), "w", stdout);
        std::FILE* e = std::freopen(errPath.c_str(), "w", stderr);
        if (o == nullptr || e == nullptr) {
            ::_exit(127);
        }
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ProcessResult result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFileText(outPath);
    result.err = readFileText(errPath);
    return result;
}

cv::Mat imageWithColumns(const std::vector<int>& columnValues, int rows) {
    cv::Mat image(rows, static_cast<int>(columnValues.size()), CV_8UC1);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < image.cols; ++c) {
            image.at<uchar>(r, c) = static_cast<uchar>(columnValues[static_cast<std::size_t>(c)]);
        }
    }
    return image;
}

} // namespace veltrana::test
