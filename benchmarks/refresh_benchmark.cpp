// refresh() against the system calls it cannot avoid: the tool test, the status file read and the
// process probe, on a home whose agent is online.
#include "online_home.h"
#include "service/service.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void BM_Refresh(benchmark::State& state)
{
    const OnlineHome home(1);
    Service service(ServiceSetup{.home = home.dir.path()});
    if (!service.state().is(Reach::Kind::Online))
        state.SkipWithError("the home is not online");
    for (auto _ : state)
        service.refresh();
}
BENCHMARK(BM_Refresh);

void BM_BareSystemCalls(benchmark::State& state)
{
    const OnlineHome home(1);
    const QByteArray tool = QFile::encodeName(home.dir.path() + u"/bin/kivo"_s);
    const QByteArray status = QFile::encodeName(home.dir.path() + u"/run/status.json"_s);
    const pid_t pid = pid_t(QCoreApplication::applicationPid());
    char buffer[16 * 1024];
    for (auto _ : state) {
        struct stat info {};
        benchmark::DoNotOptimize(::stat(tool.constData(), &info));
        benchmark::DoNotOptimize(::access(tool.constData(), X_OK));
        const int fd = ::open(status.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        ::close(fd);
        benchmark::DoNotOptimize(::kill(pid, 0));
        struct timespec now {};
        benchmark::DoNotOptimize(::clock_gettime(CLOCK_REALTIME, &now));
    }
}
BENCHMARK(BM_BareSystemCalls);

void BM_DecodeStatus(benchmark::State& state)
{
    const QByteArray bytes = onlineStatus(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeStatus(bytes));
}
BENCHMARK(BM_DecodeStatus);

}  // namespace
