#include "base/standard_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace veltrana {

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

} // namespace veltrana
