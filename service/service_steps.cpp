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

// What runs when a run has ended, kept on the main thread as a child of the Service: it never runs once the
// Service is gone, and nothing it holds is copied or destroyed on the worker, which carries only a pointer.
class RunEnd : public QObject {
public:
    RunEnd(Service::RunDone done, QObject* parent) : QObject(parent), m_done(std::move(done)) {}

    static void finish(const QPointer<RunEnd>& end, const StepOutcome& outcome)
    {
        if (!end)
            return;
        const Service::RunDone done = std::move(end->m_done);
        delete end.data();
        done(outcome);
    }

private:
    Service::RunDone m_done;
};

}  // namespace

void Service::runSteps(std::vector<Step> steps, RunDone done)
{
    setMessage(std::nullopt);
    const QString tool = toolPath();
    // Created here on the main thread and only ever looked at there: the run may outlive the Service.
    const QPointer<Service> service(this);
    const QPointer<RunEnd> end = done ? new RunEnd(std::move(done), this) : nullptr;

    auto run = [steps = std::move(steps), tool, service, end]() {
        for (const Step& step : steps) {
            onMainThread([service, title = step.title]() {
                if (service)
                    service->setBusy(title);
            });
            StepOutcome outcome = runStep(tool, step.arguments);
            if (!outcome.succeeded) {
                onMainThread([service, line = std::move(outcome.lastLine), end]() {
                    if (!service)
                        return;
                    service->setBusy(std::nullopt);
                    service->setMessage(line);
                    service->refresh();
                    RunEnd::finish(end, {.succeeded = false, .lastLine = line});
                });
                return;
            }
        }
        onMainThread([service, end]() {
            if (!service)
                return;
            service->setBusy(std::nullopt);
            service->refresh();
            RunEnd::finish(end, {.succeeded = true});
        });
    };

    // A thread of its own, detached, rather than a pool: a step that never ends must not hold up other
    // runs, other users of the pool, or the end of the process.
    try {
        std::thread(std::move(run)).detach();
    } catch (const std::system_error& error) {
        const QString line = u"Couldn't start the steps: "_s + QString::fromLocal8Bit(error.what());
        onMainThread([service, line, end]() {
            if (!service)
                return;
            service->setBusy(std::nullopt);
            service->setMessage(line);
            service->refresh();
            RunEnd::finish(end, {.succeeded = false, .lastLine = line});
        });
    }
}

void Service::setUp(RunDone done)
{
    runSteps(setUpSteps(), std::move(done));
}
