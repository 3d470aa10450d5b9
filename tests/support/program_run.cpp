#include "program_run.h"

#include <QProcess>

#include <gtest/gtest.h>

ProgramRun runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(environment);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30'000)) << program.toStdString() << " " << arguments.join(u' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}
