#include "base/standard_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <streambuf>
#include <unistd.h>

namespace veltrana {

namespace {

// Takes whatever is written and keeps none of it.
class DiscardingBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

} // namespace

bool openClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // the lowest free number: this one, as those below it are open
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd) {
            if (opened >= 0) {
                ::close(opened);
            }
            return false;
        }
    }
    return true;
}

std::ostream& ownErrorStream() {
    static std::ostream own(std::cerr.rdbuf());
    static DiscardingBuffer discarded;
    own.setf(std::ios::unitbuf);
    std::cerr.rdbuf(&discarded);
    return own;
}

} // namespace veltrana
