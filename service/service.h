#pragma once

#include "service/reach.h"
#include "service/release_manifest.h"
#include "service/status.h"
#include "service/step_process.h"
#include "service/steps.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

class Desktop;
class HttpClient;
class QTimer;

/// Everything a Service needs from outside, handed in once at creation.
struct ServiceSetup {
    QString home;                    ///< the agent home, already resolved (see agentHome); may be relative
    Desktop* desktop = nullptr;      ///< terminal windows and viewers; not owned, outlives the Service
    HttpClient* http = nullptr;      ///< not owned; without one the release checks end silently
    QUrl releaseBase;                ///< the release endpoint; manifests are fetched below it
    QString appVersion;              ///< this app's own version, compared with the menu bar manifest
    QString temporaryDirectory;      ///< the only place for terminal scripts, judged like any; the user's when empty
    std::function<Timestamp()> now;  ///< the clock; the system clock when empty
};

/// The program's one model: what it knows about the agent, the releases and the running actions.
/// Lives on the main thread; every assignment to a published property emits `changed`, also when the
/// value did not change. Background work posts its results back here before touching anything.
class Service : public QObject {
    Q_OBJECT

public:
    enum class Property { State, Status, Latest, BarUpdate, Busy, Message };
    Q_ENUM(Property)

    static constexpr int kRefreshIntervalMs = 3'000;
    static constexpr int kReleaseIntervalMs = 6 * 60 * 60 * 1'000;

    /// Refreshes once before returning, then every 3 s; checks releases once the event loop runs and every 6 h.
    explicit Service(ServiceSetup setup, QObject* parent = nullptr);
    ~Service() override;

    const Reach& state() const { return m_state; }
    const std::optional<Status>& status() const { return m_status; }
    const std::optional<QString>& latest() const { return m_latest; }
    const std::optional<BarUpdate>& barUpdate() const { return m_barUpdate; }
    const std::optional<QString>& busy() const { return m_busy; }
    const std::optional<QString>& message() const { return m_message; }
    /// The agent home as an absolute path: a relative one is taken against the working directory at creation.
    const QString& home() const { return m_home; }
    QString toolPath() const;
    QString logPath() const;
    /// Whether the agent tool was there to run at the last refresh.
    bool toolInstalled() const { return m_toolInstalled; }
    /// Which case of the last refresh decided `state`; assigned with it.
    ReachReason reason() const { return m_reason; }
    /// Why the last check of the release manifest found no release, in a few words; empty when it found one
    /// or none has ended yet.
    const std::optional<QString>& latestCheckFailure() const { return m_latestCheckFailure; }

    /// `latest` when it names a later release than the running agent's; otherwise empty.
    std::optional<QString> updateAvailable() const;

    /// Looks at the agent home and publishes `status` (when the record was read) and then `state`.
    void refresh();

    /// Fetches the release manifest into `latest`; `done` runs when the check has ended, however it ended.
    void checkLatest(std::function<void()> done = {});
    /// Fetches the menu bar manifest into `barUpdate` when it names a newer app; `done` as above.
    void checkBar(std::function<void()> done = {});

    /// What runs on the main thread once a run of steps has ended: how it ended, with the failing step's
    /// last line. Never runs once the Service is gone.
    using RunDone = std::function<void(const StepOutcome& outcome)>;

    /// Clears `message`, then runs the steps one after another in the background; see service_steps.cpp. Whether
    /// a run may start while another is under way is for whoever asks to decide.
    void runSteps(std::vector<Step> steps, RunDone done = {});
    /// Approves this computer in the browser, then starts the agent: the set-up steps, through runSteps.
    void setUp(RunDone done = {});

    /// The shell command that downloads and runs the agent's installer, then leaves the user's shell open.
    QString installCommand() const;
    /// Runs the installer in a terminal window; false when no terminal window could be opened.
    bool install();
    /// Opens the agent's dashboard in a terminal window; false when no terminal window could be opened.
    bool openDashboard();
    /// Opens the download page of the newer menu bar app, when one is known; whether that worked is not known.
    void getBar();

    /// Opens a new terminal window that runs the shell command line through a self-deleting script; emits
    /// `terminalMissing` when the desktop has no terminal to open. False when no window could be opened.
    bool openTerminal(const QString& commandLine);
    /// Takes the user to a waiting session: its `run` through the agent tool, else its tmux session. False
    /// when the entry names neither, or no terminal window could be opened.
    bool open(const NeedsYou& entry);
    /// Shows the agent's log in a separate viewer, else in a terminal; false when neither could be started.
    /// What the viewer then does is not checked.
    bool showLog();

    /// Publishes a one-line message for the menu (the open-at-login toggle's refusals).
    void setMessage(std::optional<QString> message);

Q_SIGNALS:
    /// Emitted right after each assignment to a published property.
    void changed(Service::Property property);
    /// Emitted when a terminal window was asked for and the desktop offers no terminal to open.
    void terminalMissing();

private:
    void setState(Reach state, ReachReason reason);
    void setStatus(std::optional<Status> status);
    void setLatest(std::optional<QString> latest);
    void setBarUpdate(std::optional<BarUpdate> update);
    void setBusy(std::optional<QString> busy);
    /// Every published assignment goes through here, so none can forget to notify.
    template <typename T>
    void publish(T& member, T value, Property property)
    {
        member = std::move(value);
        Q_EMIT changed(property);
    }
    void startTimers();
    void checkReleases(std::function<void()> done);

    Reach m_state = Reach::stopped();
    std::optional<Status> m_status;
    std::optional<QString> m_latest;
    std::optional<BarUpdate> m_barUpdate;
    std::optional<QString> m_busy;
    std::optional<QString> m_message;

    QString m_home;
    bool m_toolInstalled = false;
    ReachReason m_reason = ReachReason::NotRunning;
    std::optional<QString> m_latestCheckFailure;
    QByteArray m_toolFile;    // encoded once: refresh runs every 3 s
    QByteArray m_statusFile;
    QByteArray m_hostFile;
    QByteArray m_readBuffer;  // reused by every refresh
    ServiceSetup m_setup;
    QTimer* m_refreshTimer = nullptr;
};
