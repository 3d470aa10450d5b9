#pragma once

#include <QList>
#include <QString>

#include <utility>

/// Environment variables (name, value) a program is started with.
using LoginVariables = QList<std::pair<QString, QString>>;

/// The result of a change the platform may refuse; `message` is shown to the user word for word.
struct Outcome {
    bool ok = true;
    QString message;
};

/// Whether the app is started when the user logs in, as the desktop itself records it.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    /// True when the desktop will start the app at the next login.
    virtual bool enabled() const = 0;

    /// Registers (true) or unregisters (false) the app; a refusal carries a reason fit to show the user.
    [[nodiscard]] virtual Outcome setEnabled(bool on) = 0;
};
