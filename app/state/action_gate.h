#pragma once

#include "service/service.h"
#include "state/action_ledger.h"
#include "view/action_request.h"
#include "view/intent.h"
#include "view/menu_row.h"
#include "view/tray_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

/// How a request ended, as whoever asked for it hears it.
struct ActionOutcome {
    enum class Kind {
        Done,           ///< carried out: the run of the agent tool succeeded, or the window was asked for
        Failed,         ///< carried out and failed; `line` says why (the tool's last line)
        NotApplicable,  ///< not carried out, as it does not apply now; `line` says why
    };
    Kind kind = Kind::Done;
    QString line;

    friend bool operator==(const ActionOutcome&, const ActionOutcome&) = default;
};

/// What runs on the main thread once a request has ended, however it ended.
using ActionDone = std::function<void(const ActionOutcome& outcome)>;

/// What only a running tray carries out: its toggles, showing the state, quitting. A process that acts alone
/// for the command line has none of these, and they do not apply there.
class TrayDuties {
public:
    virtual ~TrayDuties() = default;
    virtual void toggleAtLogin() = 0;
    virtual void toggleNotify() = 0;
    virtual void showStatus() = 0;
    /// Ends the process once the current event has been handled.
    virtual void quit() = 0;
};

/// The one way in for everything asked of an agent home, whoever asks (the menu, a notification, a launcher, a
/// script on the bus, the command line with or without a tray): it decides against what the menu offers now,
/// admits one run of the agent tool at a time (a request for the run under way joins it and hears its outcome;
/// any other waits for nothing and is refused), one window of a kind per moment, and carries out what it admits.
/// Main thread.
class ActionGate : public QObject {
    Q_OBJECT

public:
    /// How many requests may wait for one run besides the one that started it; later ones are refused.
    static constexpr size_t kMostJoined = 1024;

    struct Setup {
        Service& model;
        std::function<TrayState()> tray;  ///< what the menu would be computed from now
        ActionLedger& ledger;
        TrayDuties* duties = nullptr;  ///< empty when acting alone for the command line
    };

    /// What `setup` refers to must outlive the gate.
    explicit ActionGate(Setup setup, QObject* parent = nullptr);
    ~ActionGate() override;

    /// The intent that `request` asks for when it applies now, else the line that says why not. Carries nothing
    /// out and notes nothing.
    std::variant<Intent, QString> decide(const ActionRequest& request) const;

    /// Carries out `request` when it applies now; `done`, when given, runs once with how it ended: when the run of
    /// the agent tool it started or joined has ended, at once for everything else.
    void perform(const ActionRequest& request, ActionDone done = {});

    /// Carries out `intent`, picked in the menu or a notification, when it applies now; `done` as above.
    void perform(const Intent& intent, ActionDone done = {});

Q_SIGNALS:
    /// A run of the agent tool failed; `intent` is what it was started for, `line` its last line. Once per run,
    /// however many requests joined it.
    void runFailed(const Intent& intent, const QString& line);

private:
    struct Run;

    // Why `intent` does not apply now, as the words that follow "... does not apply now"; empty when it applies.
    std::optional<QString> obstacle(const Intent& intent, const TrayState& tray, const std::vector<MenuRow>& rows) const;
    // Why the menu does not offer `intent` in `tray`, in a few words.
    QString notOffered(const Intent& intent, const TrayState& tray) const;
    void admit(const Intent& intent, ActionDone done);
    // `what` names the request in a refusal: "pause", "open-session 2".
    void carryOut(const Intent& intent, const QString& what, ActionDone done);
    void runSteps(const Intent& intent, const QString& what, std::vector<Step> steps, ActionDone done);
    void startRun(const Intent& intent, const QString& what, const Step& first,
                  const std::function<void(Service::RunDone)>& start, ActionDone done);
    void openWindow(const QString& what, ActionLedger::Window kind, const std::function<bool()>& open,
                    const QString& failure, const ActionDone& done);

    Setup m_setup;
    std::unique_ptr<Run> m_run;  // the run of the agent tool under way in this process
};
