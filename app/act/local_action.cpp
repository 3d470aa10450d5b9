#include "act/local_action.h"

#include "tray/read_tray_state.h"
#include "tray/service_intents.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

void printLine(FILE* stream, const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stream);
    std::fflush(stream);
}

// Decides against the menu the tray would show, carries out what it offers, and ends the event loop with
// the exit status.
void decideAndAct(Service& model, const ActionRequest& request)
{
    const std::vector<MenuRow> rows = MenuContent::rows(readTrayState(model, {}));
    const std::optional<Intent> intent = intentFor(request, rows);
    if (!intent || std::holds_alternative<intent::Quit>(*intent) || std::holds_alternative<intent::ShowStatus>(*intent)) {
        // Quitting and showing the state are the tray's, and none runs.
        const QString why = intent ? u"%1 does not apply now: no Kivo Bar runs for the agent home %2"_s.arg(
                                         actionName(request.action), model.home())
                                   : refusal(request, rows);
        printLine(stderr, u"kivobar: "_s + texts::fromOutside(why));
        QCoreApplication::exit(action_exit::kNotApplicable);
        return;
    }
    QObject::connect(&model, &Service::changed, &model, [&model](Service::Property property) {
        if (property == Service::Property::Busy && model.busy())
            printLine(stdout, *model.busy());
    });
    performOnService(model, *intent, [](const StepOutcome& outcome) {
        if (!outcome.succeeded)
            printToolLine(outcome.lastLine);
        // Queued, so that the exit status holds even when the intent ended before the event loop ran.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [status = outcome.succeeded ? action_exit::kDone : action_exit::kFailed] {
            QCoreApplication::exit(status);
        }, Qt::QueuedConnection);
    });
}

}  // namespace

void printToolLine(const QString& line)
{
    printLine(stderr, texts::fromOutside(line));
}

int actAlone(const ActionRequest& request, ServiceSetup setup)
{
    Service model(std::move(setup));
    QMetaObject::invokeMethod(&model, [&model, request] {
        // Whether an update applies depends on the newest release, which only a check can tell.
        if (request.action == ActionRequest::Action::Update)
            model.checkLatest([&model, request] { decideAndAct(model, request); });
        else
            decideAndAct(model, request);
    }, Qt::QueuedConnection);
    return QCoreApplication::exec();
}
