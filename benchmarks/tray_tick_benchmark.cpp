// What the tray does on a 3-second tick, with 0, 100 and 1,000 sessions waiting: a tick where only the
// record's time moved (refresh, then one comparison of what the user would see) against the decode of
// the same file alone, and a tick where the user sees a change (the rows and their export as well).
#include "online_home.h"
#include "panel/exported_menu.h"
#include "service/service.h"
#include "state/read_tray_state.h"
#include "view/menu_content.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

void BM_DecodeStatus(benchmark::State& state)
{
    const QByteArray bytes = onlineStatus(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeStatus(bytes));
}
BENCHMARK(BM_DecodeStatus)->Arg(0)->Arg(100)->Arg(1000);

void BM_TickNothingChanged(benchmark::State& state)
{
    const OnlineHome home(int(state.range(0)));
    Service service(ServiceSetup{.home = home.dir.path()});
    const TrayState shown = readTrayState(service, {});
    for (auto _ : state) {
        service.refresh();
        const TrayState now = readTrayState(service, {});
        benchmark::DoNotOptimize(now == shown);
    }
}
BENCHMARK(BM_TickNothingChanged)->Arg(0)->Arg(100)->Arg(1000);

void BM_TickSomethingChanged(benchmark::State& state)
{
    const OnlineHome home(int(state.range(0)));
    Service service(ServiceSetup{.home = home.dir.path()});
    ExportedMenu menu;
    bool atLogin = false;
    for (auto _ : state) {
        service.refresh();
        // The toggle flips: one row looks different, all rows are computed and compared.
        atLogin = !atLogin;
        const TrayState now = readTrayState(service, {.atLogin = atLogin});
        benchmark::DoNotOptimize(menu.update(MenuContent::rows(now)));
    }
}
BENCHMARK(BM_TickSomethingChanged)->Arg(0)->Arg(100)->Arg(1000);

}  // namespace
