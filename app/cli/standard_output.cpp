#include "cli/standard_output.h"

#include <cerrno>
#include <unistd.h>

bool writeToStandardOutput(QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}
