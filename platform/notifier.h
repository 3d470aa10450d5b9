#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <utility>

/// One desktop notification.
struct Notification {
    QString summary;
    QString body;  ///< plain text
    /// Keys and labels of the buttons the user may pick.
    QList<std::pair<QString, QString>> actions;
    /// The key of the button that a click on the notification itself also picks; empty for none.
    QString clickAction;
    /// An earlier notification of ours that this one takes the place of, if it still shows; 0 for none.
    quint64 replaces = 0;

    friend bool operator==(const Notification&, const Notification&) = default;
};

/// The desktop's notifications. Best effort throughout: with no notification service, or one that
/// refuses, nothing shows and nothing else changes.
class Notifier {
public:
    using Id = quint64;
    using ActionHandler = std::function<void(const QString& key)>;

    virtual ~Notifier() = default;

    /// Shows the notification; `onAction` runs on the main thread, at most once, with the key of the button
    /// the user picks (or of the click action, for a click on the notification). Never returns 0.
    virtual Id notify(const Notification& notification, ActionHandler onAction) = 0;

    /// Takes the notification away if it still shows; an id that is unknown or gone is ignored.
    virtual void close(Id id) = 0;

    /// Whether everything asked for has reached the desktop or been given up: a program that ends right after
    /// notifying waits for this, running its event loop.
    virtual bool settled() const = 0;
};
