#pragma once

#include <QString>

#include <optional>

/// The agent home: `KIVO_HOME` taken as it stands when set and not empty, else `.kivo` in `userHome`.
QString agentHome(const std::optional<QString>& kivoHomeVariable, const QString& userHome);

/// The agent home of this process, from its environment and the user's home directory.
QString agentHomeFromEnvironment();
