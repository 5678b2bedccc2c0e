#pragma once
// Helpers shared by the test programs.

#include <opencv2/core.hpp>

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrana::test {

// A fresh directory under the system temp folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir; }
    std::filesystem::path operator/(const std::string& name) const { return dir / name; }

private:
    std::filesystem::path dir;
};

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path);

// A Broadcast WAV says when it was written, unless a time code gave it: its
// "bext" chunk's origination date and time are blanked, so that two runs a
// second apart compare equal. Bytes without the chunk are left alone.
void blankOriginationTime(std::vector<unsigned char>& wav);
std::string readFileText(const std::filesystem::path& path);

// Result of running a program: its exit status and what it printed.
struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};

// How a program is started, besides its arguments.
struct RunOptions {
    // The largest file the program may write (RLIMIT_FSIZE). A longer write
    // fails with EFBIG, as on a full disk: the limit's signal is ignored.
    std::optional<std::uint64_t> fileSizeLimit;
    // Run as this user and group (the tests must be root for it), so that
    // permission checks apply to the program.
    std::optional<uid_t> user;
    std::optional<gid_t> group;
    // Start with descriptors 0, 1 and 2 closed (`program <&- >&- 2>&-`).
    bool closeStandardStreams = false;

    bool any() const { return fileSizeLimit || user || group || closeStandardStreams; }
};

// Runs a program with arguments (no shell), capturing both streams.
ProcessResult runProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// A program started in the background, its standard error going to a file
// so that a test can tell how far it got, and its standard output to
// /dev/null or to a pipe the test reads. Killed and reaped with the object
// if it is still running.
class BackgroundProgram {
public:
    BackgroundProgram(const std::vector<std::string>& argv, std::filesystem::path errFile,
                      bool outputToPipe = false);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // Waits until standard error holds `text`. False when the program ended
    // first, or after a minute as a guard against a hung program.
    bool waitForError(const std::string& text);
    // Reads standard output up to and including the first end of line.
    std::string readOutputLine();
    // Closes the test's end of the output pipe: the program's next write to
    // its standard output finds no reader, as with `veltrana ... | head -1`.
    void closeOutput();
    void signal(int number);
    // Waits for the end; the status as runProgram gives it.
    int wait();
    std::string errorText() const;

private:
    pid_t pid = -1;
    int finalStatus = -1;
    int outputFd = -1;
    std::filesystem::path errPath;
};

// A copy of a program in a folder that every user may reach, for running it
// as another user: a build under a folder of mode 0700 (a clone in /root)
// cannot be reached by them. When the temporary folder itself cannot be
// reached by others there is no such place, and whyNot() says so.
class ProgramForOthers {
public:
    explicit ProgramForOthers(const std::filesystem::path& program);
    ProgramForOthers(const ProgramForOthers&) = delete;
    ProgramForOthers& operator=(const ProgramForOthers&) = delete;

    bool ready() const { return failure.empty(); }
    const std::string& whyNot() const { return failure; }
    const std::filesystem::path& path() const { return copy; }

private:
    TempDir folder;
    std::filesystem::path copy;
    std::string failure;
};

// Whether every folder from the root down to `path` lets other users pass.
bool reachableByOthers(const std::filesystem::path& path);

// A one-channel 8-bit image whose columns hold the given values on every row.
cv::Mat imageWithColumns(const std::vector<int>& columnValues, int rows);

} // namespace veltrana::test
