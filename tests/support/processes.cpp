#include "processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

pid_t spawn(const char* program, const char* argument)
{
    pid_t pid = 0;
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>(argument), nullptr};
    EXPECT_EQ(::posix_spawn(&pid, program, nullptr, nullptr, argv, environ), 0) << program;
    return pid;
}

void reap(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

qint64 reapedProcessId()
{
    const pid_t pid = spawn("/bin/true", nullptr);
    reap(pid);
    return pid;
}

LiveChild::LiveChild() : m_pid(spawn("/bin/sleep", "600")) {}

LiveChild::~LiveChild()
{
    ::kill(pid_t(m_pid), SIGKILL);
    reap(pid_t(m_pid));
}
