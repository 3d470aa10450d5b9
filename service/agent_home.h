#pragma once

#include <QString>

#include <optional>

/// The agent home: `KIVO_HOME` taken as it stands when set and not empty, else `.kivo` in `userHome`.
QString agentHome(const std::optional<QString>& kivoHomeVariable, const QString& userHome);

/// The agent home of this process, from its environment and the user's home directory.
QString agentHomeFromEnvironment();

/// What tells one agent home from another however it is spelled: the path with symbolic links, "." and
/// ".." resolved as far as it exists, the rest cleaned. A relative `home` is taken against the working
/// directory. Two spellings of one folder give the same identity.
QString agentHomeIdentity(const QString& home);

/// A short name for the agent home, made of its identity: letters and digits only, the same in every
/// process of this user, so that per-home locks and bus names agree on it.
QString agentHomeKey(const QString& home);
