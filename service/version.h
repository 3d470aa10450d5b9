#pragma once

#include <QString>

/// True when `candidate` names a later release than `reference` (three numbers, then a pre-release
/// suffix, build part ignored); false for the same release or when either text is not a version. Pure.
bool newer(const QString& candidate, const QString& reference);
