#pragma once

#include "state/action_gate.h"

#include <optional>

/// What only a tray does, counted.
struct FakeDuties : TrayDuties {
    void toggleAtLogin() override { ++atLogin; }
    void toggleNotify() override { ++notify; }
    void showStatus() override { ++shown; }
    void quit() override { quitAfter = told; }
    int atLogin = 0;
    int notify = 0;
    int shown = 0;
    std::optional<size_t> quitAfter;  ///< how many outcomes `told` had counted when quit was asked for
    size_t told = 0;                  ///< counted by the test as outcomes reach it
};
