#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <utility>

/// One desktop notification.
struct Notification {
    QString summary;
    QString body;  ///< plain text
    /// Keys and labels of what the user may pick; the key "default" is a click on the notification itself.
    QList<std::pair<QString, QString>> actions;

    friend bool operator==(const Notification&, const Notification&) = default;
};

/// The desktop's notifications. Best effort throughout: with no notification service, or one that
/// refuses, nothing shows and nothing else changes.
class Notifier {
public:
    using Id = quint64;
    using ActionHandler = std::function<void(const QString& key)>;

    virtual ~Notifier() = default;

    /// Shows the notification; `onAction` runs on the main thread with the key the user picks, if any.
    virtual Id notify(const Notification& notification, ActionHandler onAction) = 0;

    /// Takes the notification away if it still shows; an id that is unknown or gone is ignored.
    virtual void close(Id id) = 0;
};
