#pragma once
// Helpers shared by the test programs.

#include <opencv2/core.hpp>

#include <filesystem>
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
std::string readFileText(const std::filesystem::path& path);

// Result of running a program: its exit status and what it printed.
struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell), capturing both streams.
ProcessResult runProgram(const std::vector<std::string>& argv);

// A one-channel 8-bit image whose columns hold the given values on every row.
cv::Mat imageWithColumns(const std::vector<int>& columnValues, int rows);

} // namespace veltrana::test
