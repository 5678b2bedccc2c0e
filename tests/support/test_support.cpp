#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
namespace {
// Under the thread sanitizer the image library's own parallel loops run on
// the calling thread: their hand-offs happen inside oneTBB, which the
// sanitizer cannot see into. The frame pipelines keep all their threads.
const int imageLibraryThreads = (cv::setNumThreads(1), 1);
} // namespace
#endif

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

void blankOriginationTime(std::vector<unsigned char>& wav) {
    const std::string tag = "bext";
    const auto at = std::search(wav.begin(), wav.end(), tag.begin(), tag.end());
    // chunk header, description, originator, its reference: then date and time
    constexpr std::ptrdiff_t kDateAt = 8 + 256 + 32 + 32;
    constexpr std::ptrdiff_t kDateAndTimeBytes = 10 + 8;
    if (wav.end() - at >= kDateAt + kDateAndTimeBytes) {
        std::fill_n(at + kDateAt, kDateAndTimeBytes, 0);
    }
}

std::string readFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

int statusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// In the child, after fork: the limits and identity of RunOptions, then the
// program. Never returns.
[[noreturn]] void execWith(const std::vector<std::string>& argv, const RunOptions& options) {
    if (options.fileSizeLimit) {
        const rlimit limit{static_cast<rlim_t>(*options.fileSizeLimit),
                           static_cast<rlim_t>(*options.fileSizeLimit)};
        std::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(127);
        }
    }
    if (options.group && ::setgid(*options.group) != 0) {
        ::_exit(127);
    }
    if (options.user && (::setgroups(0, nullptr) != 0 || ::setuid(*options.user) != 0)) {
        ::_exit(127);
    }
    if (options.closeStandardStreams) {
        for (int fd = 0; fd <= 2; ++fd) {
            ::close(fd);
        }
    }
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

} // namespace

ProcessResult runProgram(const std::vector<std::string>& argv, const RunOptions& options) {
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
        execWith(argv, options);
    }
    ProcessResult result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = statusOf(status);
    result.out = readFileText(outPath);
    result.err = readFileText(errPath);
    return result;
}

bool reachableByOthers(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(path, ec);
    for (; !folder.empty(); folder = folder.parent_path()) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) {
            return false;
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    return true;
}

ProgramForOthers::ProgramForOthers(const std::filesystem::path& program) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(folder.path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    if (!reachableByOthers(folder.path())) {
        failure = "other users cannot reach the temporary folder " + folder.path().string();
        return;
    }
    copy = folder / program.filename().string();
    if (!fs::copy_file(program, copy, ec)) {
        failure = "cannot copy " + program.string() + ": " + ec.message();
        return;
    }
    fs::permissions(copy,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv,
                                     std::filesystem::path errFile, bool outputToPipe)
    : errPath(std::move(errFile)) {
    int pipeFds[2] = {-1, -1};
    if (outputToPipe && ::pipe(pipeFds) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    pid = ::fork();
    if (pid == 0) {
        if (std::freopen(errPath.c_str(), "w", stderr) == nullptr) {
            ::_exit(127);
        }
        if (outputToPipe) {
            ::close(pipeFds[0]);
            if (::dup2(pipeFds[1], STDOUT_FILENO) < 0) {
                ::_exit(127);
            }
            ::close(pipeFds[1]);
        } else if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            ::_exit(127);
        }
        execWith(argv, {});
    }
    if (outputToPipe) {
        ::close(pipeFds[1]);
        outputFd = pipeFds[0];
    }
}

BackgroundProgram::~BackgroundProgram() {
    closeOutput();
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

bool BackgroundProgram::waitForError(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
        if (errorText().find(text) != std::string::npos) {
            return true;
        }
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
            // ended: whatever it printed is all there is
            pid = -1;
            finalStatus = statusOf(status);
            return errorText().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::string BackgroundProgram::readOutputLine() {
    std::string line;
    char c = 0;
    while (outputFd >= 0 && ::read(outputFd, &c, 1) == 1) {
        line += c;
        if (c == '\n') {
            break;
        }
    }
    return line;
}

void BackgroundProgram::closeOutput() {
    if (outputFd >= 0) {
        ::close(outputFd);
        outputFd = -1;
    }
}

void BackgroundProgram::signal(int number) {
    if (pid > 0) {
        ::kill(pid, number);
    }
}

int BackgroundProgram::wait() {
    if (pid > 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        finalStatus = statusOf(status);
    }
    return finalStatus;
}

std::string BackgroundProgram::errorText() const {
    return readFileText(errPath);
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
