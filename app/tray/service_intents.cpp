#include "tray/service_intents.h"

#include "service/service.h"

using namespace Qt::StringLiterals;

namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

// What a window the desktop would not open reports: said the way the notification about it says it.
StepOutcome opened(bool ok, const QString& failure)
{
    return {.succeeded = ok, .lastLine = ok ? QString() : failure};
}

const QString kNoTerminal =
    u"No terminal window could be opened: install a terminal such as GNOME Terminal or xterm, or set TERMINAL "
    "to the one you use"_s;

}  // namespace

bool performOnService(Service& model, const Intent& intent, const IntentDone& done)
{
    const auto finish = [&done](const StepOutcome& outcome) {
        if (done)
            done(outcome);
    };
    return std::visit(Overloaded{
        [&](const intent::SetUp&) { model.setUp(done); return true; },
        [&](const intent::Resume&) { model.resume(done); return true; },
        [&](const intent::Pause&) { model.pause(done); return true; },
        [&](const intent::Update&) { model.update(done); return true; },
        [&](const intent::Install&) { finish(opened(model.install(), kNoTerminal)); return true; },
        [&](const intent::OpenDashboard&) { finish(opened(model.openDashboard(), kNoTerminal)); return true; },
        [&](const intent::OpenSession& open) {
            const bool named = open.entry.run || open.entry.session;
            finish(opened(model.open(open.entry), named ? kNoTerminal : u"The agent names no way to open this session"_s));
            return true;
        },
        [&](const intent::ShowLog&) {
            finish(opened(model.showLog(), u"Neither a log viewer nor a terminal window could be opened"_s));
            return true;
        },
        [&](const intent::GetBar&) { model.getBar(); finish({.succeeded = true}); return true; },
        [](const auto&) { return false; },
    }, intent);
}
