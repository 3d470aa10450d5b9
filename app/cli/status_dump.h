#pragma once

#include <QByteArray>
#include <QStringList>

#include "service/status.h"

#include <optional>

class Reach;
class Service;

/// True when the arguments (program path first) hold `--status` exactly, anywhere.
bool wantsStatusDump(int argc, const char* const* argv);

/// The dump's lines for the state and the record, each ended by a line feed, as UTF-8. No character of the
/// record that would act on a terminal is written as it is. Pure.
QByteArray statusDumpText(const Reach& state, const std::optional<Status>& status);

/// The dump's lines for what the model read.
QByteArray statusDumpText(const Service& service);

/// How a reachability state prints: notSetUp, stopped, connecting or online(relays: [...], clients: N).
QString describe(const Reach& state);

/// ["a", "b"]: each text quoted, with \ " ' and control characters escaped.
QString listForm(const QStringList& texts);

/// Creates the model for this process's agent home, prints the dump to standard output and returns 0.
/// Builds no GUI object and writes nothing to standard error.
int runStatusDump(int argc, char** argv);
