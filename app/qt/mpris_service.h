// The player on the session bus as org.mpris.MediaPlayer2.tunefold: the root and Player interfaces
// of MPRIS, answered from the Qt-free adapter, their properties announced
// with PropertiesChanged whenever one differs from what was announced last, and seeks with Seeked.
// Without a session bus the player simply goes without.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QTimer>

#include "app/logic/mpris_adapter.h"

namespace tunefold::qt {

class MprisService : public QDBusVirtualObject {
public:
    explicit MprisService(TMprisAdapter& adapter);
    ~MprisService() override;
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    // The player's view changed (its own timers, the user's clicks): what differs is announced.
    void PlayerChanged();
    // Whether the name is ours on the bus.
    bool Registered() const { return registered_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    bool Handle(const QDBusMessage& message, const QDBusConnection& connection);
    void Publish();
    QVariant Property(const QString& interface, const QString& name) const;
    QVariantMap AllProperties(const QString& interface) const;

    TMprisAdapter& adapter_;
    QDBusConnection bus_;
    bool registered_ = false;
    bool publishPending_ = false;
};

} // namespace tunefold::qt
