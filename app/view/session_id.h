#pragma once

#include "service/status.h"

#include <QString>

#include <vector>

/// The ids of the waiting sessions in `entries`, in their order: each a digest of the entry's whole value and of
/// how many equal entries come before it, as "s-" and 12 hexadecimal digits. An id stays the same while its entry
/// does, across refreshes and restarts, differs between different entries, and never reads as a number, so
/// that scripts can tell it from a place in the list. Pure.
std::vector<QString> sessionIds(const std::vector<NeedsYou>& entries);

/// Whether `text` is written as a session id is.
bool looksLikeSessionId(QStringView text);
