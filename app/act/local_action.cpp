#include "act/local_action.h"

#include "state/read_tray_state.h"
#include "state/user_folder.h"
#include "view/menu_content.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

ActionOutcome actAlone(const ActionRequest& request, ServiceSetup setup)
{
    Service model(std::move(setup));
    // Made when missing, as the tray makes it: processes acting alone for one home agree through it.
    ActionLedger ledger(userFolder(true), model.home());
    ActionGate gate({.model = model,
                     .tray = [&model] { return readTrayState(model, {}); },
                     .ledger = ledger});
    QObject::connect(&model, &Service::changed, &model, [&model](Service::Property property) {
        if (property == Service::Property::Busy && model.busy()) {
            std::fputs(qPrintable(*model.busy() + u'\n'), stdout);
            std::fflush(stdout);
        }
    });
    ActionOutcome ended;
    const auto act = [&gate, &ended, request] {
        gate.perform(request, [&ended](const ActionOutcome& outcome) {
            ended = outcome;
            // Queued, so that it holds even when the action ended before the event loop ran.
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        });
    };
    QMetaObject::invokeMethod(&model, [&model, request, act] {
        // Whether an update applies depends on the newest release, which only a check can tell.
        if (request.action == ActionRequest::Action::Update)
            model.checkLatest(act);
        else
            act();
    }, Qt::QueuedConnection);
    QCoreApplication::exec();
    return ended;
}
