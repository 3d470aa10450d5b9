#include "fetch/process_http_client.h"

#include "fetch/fetch_protocol.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <memory>

ProcessHttpClient::ProcessHttpClient(QString program, std::chrono::milliseconds timeout, qint64 outputLimit)
    : m_program(std::move(program)), m_timeout(timeout), m_outputLimit(outputLimit)
{
}

ProcessHttpClient::~ProcessHttpClient()
{
    // A callback must not run into a client that is being torn down.
    for (QProcess* process : m_processes.findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        process->kill();
        process->waitForFinished(1'000);
    }
}

void ProcessHttpClient::get(const QUrl& url, const QObject* context,
                            std::function<void(std::optional<HttpResponse>)> done)
{
    auto* process = new QProcess(&m_processes);
    process->setProgram(m_program);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    auto output = std::make_shared<QByteArray>();
    // Set when the output cannot be the helper's whole answer: too long, or not all of it could be read.
    auto broken = std::make_shared<bool>(false);
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, process, output, broken] {
        *output += process->readAllStandardOutput();
        if (output->size() > m_outputLimit && !*broken) {
            *broken = true;
            process->kill();
        }
    });
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, process, &QProcess::kill);
    deadline->start(m_timeout);

    const QPointer<const QObject> receiver(context);
    auto finish = [process, output, broken, receiver, done = std::move(done)] {
        process->deleteLater();
        if (!receiver)
            return;
        *output += process->readAllStandardOutput();
        // Only a helper that exited 0 has printed its whole answer; one that failed or was killed has not.
        std::optional<HttpResponse> response;
        const qsizetype lineEnd = output->indexOf('\n');
        const std::optional<int> status =
            lineEnd >= 0 ? fetch_protocol::statusFrom(QByteArrayView(*output).first(lineEnd)) : std::nullopt;
        if (!*broken && process->exitStatus() == QProcess::NormalExit && process->exitCode() == fetch_protocol::kAnswered && status)
            response = HttpResponse{*status, output->mid(lineEnd + 1)};
        // Back on the event loop, as every HttpClient answers.
        QTimer::singleShot(0, receiver.data(), [done, response = std::move(response)] { done(response); });
    };
    QObject::connect(process, &QProcess::finished, process, finish);
    QObject::connect(process, &QProcess::errorOccurred, process, [finish, broken](QProcess::ProcessError error) {
        // A helper that could not start never finishes; one that crashed or was killed does. Output
        // that could not be read is a gap somewhere in the answer.
        if (error != QProcess::FailedToStart && error != QProcess::Crashed)
            *broken = true;
        if (error == QProcess::FailedToStart)
            finish();
    });
    process->start();
}
