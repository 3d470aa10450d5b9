// What the tray does on a 3-second tick, with 0, 100 and 1,000 sessions waiting: a tick where only the
// record's time moved (refresh, then one comparison of what the user would see) against the decode of
// the same file alone, and a tick where the user sees a change (the rows and their export as well).
#include "menu_content.h"
#include "menu_export.h"
#include "service.h"
#include "tray_state.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray statusWith(int sessions)
{
    QByteArray waiting;
    for (int i = 0; i < sessions; ++i) {
        if (i > 0)
            waiting += ',';
        waiting += R"({"agent": "coder", "where": "repo-)" + QByteArray::number(i)
            + R"(", "detail": "approve the migration of table )" + QByteArray::number(i) + R"(?", "run": "r-)"
            + QByteArray::number(i) + R"("})";
    }
    return R"({"pid": )" + QByteArray::number(QCoreApplication::applicationPid())
        + R"(, "name": "studio", "version": "1.4.2", "updated_at": ")"
        + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8()
        + R"(", "relays": ["eu-1", "us-2"], "clients": 2, "needs_you": [)" + waiting + "]}";
}

struct OnlineHome {
    explicit OnlineHome(int sessions)
    {
        QDir().mkpath(dir.path() + u"/bin"_s);
        QDir().mkpath(dir.path() + u"/run"_s);
        QFile tool(dir.path() + u"/bin/kivo"_s);
        tool.open(QIODevice::WriteOnly);
        tool.setPermissions(QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        QFile status(dir.path() + u"/run/status.json"_s);
        status.open(QIODevice::WriteOnly);
        bytes = statusWith(sessions);
        status.write(bytes);
    }
    QTemporaryDir dir;
    QByteArray bytes;
};

bool isExecutable(const QString&)
{
    return true;
}

void BM_DecodeStatus(benchmark::State& state)
{
    const QByteArray bytes = statusWith(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeStatus(bytes));
}
BENCHMARK(BM_DecodeStatus)->Arg(0)->Arg(100)->Arg(1000);

void BM_TickNothingChanged(benchmark::State& state)
{
    const OnlineHome home(int(state.range(0)));
    Service service(ServiceSetup{.home = home.dir.path()});
    const TrayState shown = readTrayState(service, {}, isExecutable);
    for (auto _ : state) {
        service.refresh();
        const TrayState now = readTrayState(service, {}, isExecutable);
        benchmark::DoNotOptimize(now == shown);
    }
}
BENCHMARK(BM_TickNothingChanged)->Arg(0)->Arg(100)->Arg(1000);

void BM_TickSomethingChanged(benchmark::State& state)
{
    const OnlineHome home(int(state.range(0)));
    Service service(ServiceSetup{.home = home.dir.path()});
    const MenuContent content(service.toolPath(), u"https://get.kivo.test"_s);
    ExportedMenu menu;
    bool atLogin = false;
    for (auto _ : state) {
        service.refresh();
        // The toggle flips: one row looks different, all rows are computed and compared.
        atLogin = !atLogin;
        const TrayState now = readTrayState(service, {.atLogin = atLogin}, isExecutable);
        benchmark::DoNotOptimize(menu.update(content.rows(now)));
    }
}
BENCHMARK(BM_TickSomethingChanged)->Arg(0)->Arg(100)->Arg(1000);

}  // namespace
