#include "process_http_client.h"

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
    auto overflowed = std::make_shared<bool>(false);
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, process, output, overflowed] {
        *output += process->readAllStandardOutput();
        if (output->size() > m_outputLimit && !*overflowed) {
            *overflowed = true;
            process->kill();
        }
    });
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, process, &QProcess::kill);
    deadline->start(m_timeout);

    const QPointer<const QObject> receiver(context);
    auto finish = [process, output, overflowed, receiver, done = std::move(done)] {
        process->deleteLater();
        if (!receiver)
            return;
        *output += process->readAllStandardOutput();
        std::optional<HttpResponse> response;
        const qsizetype lineEnd = output->indexOf('\n');
        bool isNumber = false;
        const int status = lineEnd > 0 ? output->left(lineEnd).toInt(&isNumber) : 0;
        if (!*overflowed && process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0 && isNumber)
            response = HttpResponse{status, output->mid(lineEnd + 1)};
        // Back on the event loop, as every HttpClient answers.
        QTimer::singleShot(0, receiver.data(), [done, response = std::move(response)] { done(response); });
    };
    QObject::connect(process, &QProcess::finished, process, finish);
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        // A helper that could not start never finishes; one that crashed or was killed does.
        if (error == QProcess::FailedToStart)
            finish();
    });
    process->start();
}
