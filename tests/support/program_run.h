#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

/// What a program did when it ran to its end.
struct ProgramRun {
    int exitCode = -1;  ///< -1 when it crashed or did not end in time
    QByteArray out;
    QByteArray error;
};

/// Runs `program` as a script or a login shell would: no display, no session bus and no runtime folder of
/// this session's, then `environment` on top. Fails the test when it does not end within 30 seconds.
ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& environment = {});
