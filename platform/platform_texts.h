#pragma once

#include <QString>

/// The set-up step's title while the user approves this computer in the browser, in this desktop's words.
QString approveInBrowserTitle();
