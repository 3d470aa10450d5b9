#pragma once

#include <QObject>

class LoginItem;
class Service;

/// The menu's "Open at login" flag. It mirrors the login item as read at start and keeps its own value
/// after that, except that a refused change is shown in the model's message and the flag then follows
/// what the login item reports.
class LoginToggle : public QObject {
    Q_OBJECT

public:
    LoginToggle(LoginItem& item, Service& service, QObject* parent = nullptr);

    bool value() const { return m_value; }

    /// Registers or unregisters the app when `on` differs from the flag; main thread only.
    void set(bool on);

Q_SIGNALS:
    void changed();

private:
    LoginItem& m_item;
    Service& m_service;
    bool m_value;
};
