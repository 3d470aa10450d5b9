#pragma once

#include "cli/command_line.h"

#include <QByteArray>

#include <functional>

class QSocketNotifier;

/// Prints a rendering of the state each time it reads differently: the first at once, then one for each change,
/// at the model's 3-second rhythm, and nothing while nothing changes. Ends the event loop with status 0 when
/// the reader goes away (a write fails, or the pipe's reading end closes); SIGTERM, SIGINT and SIGHUP end the
/// process at once with status 0, whatever it is doing.
class StatusWatch {
public:
    /// What to print now; with `moment` false, without what changes at every write of the status file (its time),
    /// so that it reads differently only when something a reader cares for changed.
    using Render = std::function<QByteArray(bool moment)>;

    /// Makes SIGTERM, SIGINT and SIGHUP end the process at once with status 0, even while a write to a reader that
    /// has stopped reading blocks.
    static void takeOverSignals();

    /// `render` gives what to print now. Prints the first rendering as soon as the event loop runs, and then one
    /// each time the rendering without its moment reads differently.
    explicit StatusWatch(Render render);
    ~StatusWatch();

    StatusWatch(const StatusWatch&) = delete;
    StatusWatch& operator=(const StatusWatch&) = delete;

    /// The state may read differently now: prints it once the event loop runs again, if it does.
    void changed();

private:
    void print();

    Render m_render;
    QByteArray m_seen;  // the last rendering printed, without its moment
    bool m_pending = false;
    QSocketNotifier* m_readerNotifier = nullptr;
};

/// Prints the state of this process's agent home as `options` ask, once or watching, with no desktop, bus or
/// network. Returns the exit status: 0, also when the reader has gone away.
int runStatusOutput(int argc, char** argv, const StatusOptions& options);
