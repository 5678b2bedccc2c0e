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

// Points std::cerr at a discarding buffer while it lives, and back at its own
// buffer when the program's static objects are destroyed: the C++ library
// flushes the standard streams after them, when the last library using
// iostreams is unloaded, and a buffer destroyed by then would be used.
class ErrorStreamDiscarded {
public:
    ErrorStreamDiscarded() : original(std::cerr.rdbuf(&discarded)) {}
    ~ErrorStreamDiscarded() { std::cerr.rdbuf(original); }
    ErrorStreamDiscarded(const ErrorStreamDiscarded&) = delete;
    ErrorStreamDiscarded& operator=(const ErrorStreamDiscarded&) = delete;

private:
    DiscardingBuffer discarded;
    std::streambuf* original;
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
    static const ErrorStreamDiscarded discarded;
    own.setf(std::ios::unitbuf);
    return own;
}

} // namespace veltrana
