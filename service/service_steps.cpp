// Running actions as steps of the agent tool, one background thread per run.

#include "service/service.h"
#include "service/step_process.h"

#include <QCoreApplication>
#include <QPointer>

#include <system_error>
#include <thread>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Hands work to the main thread. Once the application object is gone the process is ending and the work
// is dropped; a queued call whose application is destroyed before it runs is dropped by Qt.
void onMainThread(std::function<void()> work)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

}  // namespace

void Service::runSteps(std::vector<Step> steps)
{
    setMessage(std::nullopt);
    const QString tool = toolPath();
    // Created here on the main thread and only ever looked at there: the run may outlive the Service.
    const QPointer<Service> service(this);
    const Step first = steps.empty() ? Step() : steps.front();

    auto run = [steps = std::move(steps), tool, service]() {
        for (const Step& step : steps) {
            onMainThread([service, title = step.title]() {
                if (service)
                    service->setBusy(title);
            });
            StepOutcome outcome = runStep(tool, step.arguments);
            if (!outcome.succeeded) {
                onMainThread([service, step, line = std::move(outcome.lastLine)]() {
                    if (!service)
                        return;
                    service->setBusy(std::nullopt);
                    service->setMessage(line);
                    Q_EMIT service->runFailed(step, line);
                    service->refresh();
                });
                return;
            }
        }
        onMainThread([service]() {
            if (!service)
                return;
            service->setBusy(std::nullopt);
            service->refresh();
        });
    };

    // A thread of its own, detached, rather than a pool: a step that never ends must not hold up other
    // runs, other users of the pool, or the end of the process.
    try {
        std::thread(std::move(run)).detach();
    } catch (const std::system_error& error) {
        const QString line = u"Couldn't start the steps: "_s + QString::fromLocal8Bit(error.what());
        onMainThread([service, first, line]() {
            if (!service)
                return;
            service->setBusy(std::nullopt);
            service->setMessage(line);
            Q_EMIT service->runFailed(first, line);
            service->refresh();
        });
    }
}

void Service::setUp()
{
    runSteps(setUpSteps());
}

void Service::resume()
{
    runSteps({resumeStep()});
}

void Service::pause()
{
    runSteps({pauseStep()});
}

void Service::update()
{
    runSteps({updateStep()});
}
