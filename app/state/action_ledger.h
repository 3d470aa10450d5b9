#pragma once

#include "service/terminal_script.h"

#include <QString>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

/// A claim on the one run of the agent tool that an agent home may have under way, held until it is destroyed.
class RunClaim {
public:
    explicit RunClaim(int fd) : m_fd(fd) {}
    RunClaim(RunClaim&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    RunClaim& operator=(RunClaim&& other) noexcept;
    RunClaim(const RunClaim&) = delete;
    RunClaim& operator=(const RunClaim&) = delete;
    ~RunClaim();

private:
    int m_fd = -1;  // -1 for a claim that no other process could see: there was no folder to keep it in
};

/// What every process that acts for one agent home agrees on, through files in the user's folder for the
/// tray's files (userFolder): that one run of the agent tool is under way, and when each kind of window was
/// last opened. Without a folder, only what this process itself does counts. Main thread.
class ActionLedger {
public:
    /// The kinds of window of which one opens per moment, however often they are asked for.
    enum class Window { Session, Dashboard, Log, Installer, DownloadPage };
    static constexpr size_t kWindowKinds = 5;
    /// When each kind of window last opened, in milliseconds of the monotonic clock.
    using Openings = std::array<std::optional<qint64>, kWindowKinds>;

    /// How long after a window opened another of its kind is refused.
    static constexpr std::chrono::milliseconds kWindowInterval{1'000};

    /// The system-wide monotonic clock, which every process of the machine reads alike.
    using Clock = std::function<std::chrono::milliseconds()>;

    /// The ledger of `agentHome`, keyed on the home's identity like the instance lock; `now` is the monotonic
    /// clock when empty.
    ActionLedger(std::optional<ScriptDirectory> folder, const QString& agentHome, Clock now = {});

    /// The home's run of the agent tool, for as long as the claim lives; empty while another process holds it.
    /// Never blocks.
    std::optional<RunClaim> claimRun();

    /// Whether a window of `kind` may open now: none has opened for this home within kWindowInterval. With
    /// `note`, an admitted window counts as opened now. Never blocks: while another process is noting a window
    /// at this very moment, none is admitted.
    bool admitWindow(Window kind, bool note);

private:
    std::optional<ScriptDirectory> m_folder;
    QByteArray m_runName;
    QByteArray m_windowsName;
    Clock m_now;
    Openings m_opened;  // this process's own, which count where there is no folder to share them through
};
