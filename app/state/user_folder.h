#pragma once

#include "service/terminal_script.h"

#include <QString>

#include <optional>

/// Where a user's tray keeps its small files, the instance lock and what it publishes for `kivobar --status`,
/// judged through the open folder as terminal scripts' folders are: the user's runtime folder under
/// `runtimeRoot` (/run/user/UID) when it is the user's alone, else a private "kivobar" folder in the cache
/// folder of `userHome`, made when missing and `make` asks for it. Empty when neither passes. Read from the
/// system, not the environment, so that every process of the user agrees on it.
std::optional<ScriptDirectory> userFolder(uint uid, const QString& userHome, const QString& runtimeRoot, bool make);

/// userFolder() for this process's user, whose home the password database names, under /run/user.
std::optional<ScriptDirectory> userFolder(bool make);
