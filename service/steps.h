#pragma once

#include <QString>
#include <QStringList>

#include <vector>

/// One run of the agent tool: the title shown while it runs and the tool's arguments.
struct Step {
    QString title;
    QStringList arguments;

    friend bool operator==(const Step&, const Step&) = default;
};

/// Approves this computer in the browser, then starts the agent.
std::vector<Step> setUpSteps();
/// Starts the agent.
Step resumeStep();
/// Stops the agent.
Step pauseStep();
/// Updates the agent to its newest release.
Step updateStep();
