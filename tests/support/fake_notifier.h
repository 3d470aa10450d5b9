#pragma once

#include "platform/notifier.h"

#include <map>
#include <vector>

/// Records the notifications it is asked to show and to close; a test invokes their actions.
class FakeNotifier : public Notifier {
public:
    Id notify(const Notification& notification, ActionHandler onAction) override
    {
        const Id id = ++lastId;
        shown.push_back({id, notification});
        open[id] = std::move(onAction);
        return id;
    }

    void close(Id id) override
    {
        closed.push_back(id);
        open.erase(id);
    }

    bool settled() const override { return true; }

    /// Picks the action with `key` on notification `id`, as the user would.
    void invoke(Id id, const QString& key)
    {
        const auto found = open.find(id);
        if (found != open.end() && found->second)
            found->second(key);
    }

    struct Shown {
        Id id;
        Notification notification;
    };
    std::vector<Shown> shown;
    std::vector<Id> closed;
    std::map<Id, ActionHandler> open;
    Id lastId = 0;
};
