#include "act/local_action.h"

#include "state/action_gate.h"
#include "state/read_tray_state.h"
#include "state/user_folder.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <QCoreApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void printLine(FILE* stream, const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stream);
    std::fflush(stream);
}

int exitStatus(const ActionOutcome& outcome)
{
    switch (outcome.kind) {
    case ActionOutcome::Kind::Done: return action_exit::kDone;
    case ActionOutcome::Kind::Failed: return action_exit::kFailed;
    case ActionOutcome::Kind::NotApplicable: return action_exit::kNotApplicable;
    }
    return action_exit::kFailed;
}

}  // namespace

void printToolLine(const QString& line)
{
    printLine(stderr, texts::fromOutside(line));
}

int actAlone(const ActionRequest& request, ServiceSetup setup)
{
    Service model(std::move(setup));
    // Made when missing, as the tray makes it: processes acting alone for one home agree through it.
    ActionLedger ledger(userFolder(true), model.home());
    ActionGate gate({.model = model,
                     .rows = [&model] { return MenuContent::rows(readTrayState(model, {})); },
                     .ledger = ledger});
    QObject::connect(&model, &Service::changed, &model, [&model](Service::Property property) {
        if (property == Service::Property::Busy && model.busy())
            printLine(stdout, *model.busy());
    });
    const auto act = [&gate, request] {
        gate.perform(request, [](const ActionOutcome& outcome) {
            if (outcome.kind == ActionOutcome::Kind::Failed)
                printToolLine(outcome.line);
            else if (outcome.kind == ActionOutcome::Kind::NotApplicable)
                printLine(stderr, u"kivobar: "_s + texts::fromOutside(outcome.line));
            // Queued, so that the exit status holds even when the action ended before the event loop ran.
            QMetaObject::invokeMethod(QCoreApplication::instance(), [status = exitStatus(outcome)] {
                QCoreApplication::exit(status);
            }, Qt::QueuedConnection);
        });
    };
    QMetaObject::invokeMethod(&model, [&model, request, act] {
        // Whether an update applies depends on the newest release, which only a check can tell.
        if (request.action == ActionRequest::Action::Update)
            model.checkLatest(act);
        else
            act();
    }, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
