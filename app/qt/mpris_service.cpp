#include "app/qt/mpris_service.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QThread>

namespace tunefold::qt {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.tunefold");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QString Text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QVariantMap Metadata(const TMprisMetadata& m) {
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(Text(m.trackId))));
    if (m.url.empty()) {
        return map;
    }
    map.insert(QStringLiteral("mpris:length"), QVariant::fromValue(static_cast<qlonglong>(m.lengthUs)));
    map.insert(QStringLiteral("xesam:title"), Text(m.title));
    if (!m.artist.empty()) {
        map.insert(QStringLiteral("xesam:artist"), QStringList{Text(m.artist)});
    }
    if (!m.album.empty()) {
        map.insert(QStringLiteral("xesam:album"), Text(m.album));
    }
    map.insert(QStringLiteral("xesam:url"), Text(m.url));
    return map;
}

const char* const kIntrospection = R"(<interface name="org.mpris.MediaPlayer2">
  <method name="Raise"/>
  <method name="Quit"/>
  <property name="CanQuit" type="b" access="read"/>
  <property name="CanRaise" type="b" access="read"/>
  <property name="HasTrackList" type="b" access="read"/>
  <property name="Identity" type="s" access="read"/>
  <property name="DesktopEntry" type="s" access="read"/>
  <property name="SupportedUriSchemes" type="as" access="read"/>
  <property name="SupportedMimeTypes" type="as" access="read"/>
</interface>
<interface name="org.mpris.MediaPlayer2.Player">
  <method name="Next"/>
  <method name="Previous"/>
  <method name="Pause"/>
  <method name="PlayPause"/>
  <method name="Stop"/>
  <method name="Play"/>
  <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
  <method name="SetPosition">
    <arg name="TrackId" type="o" direction="in"/><arg name="Position" type="x" direction="in"/>
  </method>
  <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
  <signal name="Seeked"><arg name="Position" type="x"/></signal>
  <property name="PlaybackStatus" type="s" access="read"/>
  <property name="Rate" type="d" access="readwrite"/>
  <property name="Metadata" type="a{sv}" access="read"/>
  <property name="Volume" type="d" access="readwrite"/>
  <property name="Position" type="x" access="read"/>
  <property name="MinimumRate" type="d" access="read"/>
  <property name="MaximumRate" type="d" access="read"/>
  <property name="CanGoNext" type="b" access="read"/>
  <property name="CanGoPrevious" type="b" access="read"/>
  <property name="CanPlay" type="b" access="read"/>
  <property name="CanPause" type="b" access="read"/>
  <property name="CanSeek" type="b" access="read"/>
  <property name="CanControl" type="b" access="read"/>
</interface>
<interface name="org.freedesktop.DBus.Properties">
  <method name="Get">
    <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
    <arg name="value" type="v" direction="out"/>
  </method>
  <method name="GetAll">
    <arg name="interface" type="s" direction="in"/><arg name="properties" type="a{sv}" direction="out"/>
  </method>
  <method name="Set">
    <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
    <arg name="value" type="v" direction="in"/>
  </method>
  <signal name="PropertiesChanged">
    <arg name="interface" type="s"/><arg name="changed" type="a{sv}"/><arg name="invalidated" type="as"/>
  </signal>
</interface>
)";

} // namespace

MprisService::MprisService(TMprisAdapter& adapter) : adapter_(adapter), bus_(QDBusConnection::sessionBus()) {
    if (!bus_.isConnected()) {
        return;
    }
    if (!bus_.registerVirtualObject(kObjectPath, this, QDBusConnection::SingleNode)) {
        return;
    }
    if (!bus_.registerService(kServiceName)) {
        bus_.unregisterObject(kObjectPath);
        return;
    }
    registered_ = true;
    adapter_.Poll(); // what is announced from here on is what differs from now
}

void MprisService::PlayerChanged() {
    // Several changes of one handler are announced together, once it has returned.
    if (!registered_ || publishPending_) {
        return;
    }
    publishPending_ = true;
    QTimer::singleShot(0, this, [this] {
        publishPending_ = false;
        Publish();
    });
}

MprisService::~MprisService() {
    if (registered_) {
        bus_.unregisterService(kServiceName);
        bus_.unregisterObject(kObjectPath);
    }
}

QString MprisService::introspect(const QString& /*path*/) const {
    return QString::fromLatin1(kIntrospection);
}

QVariant MprisService::Property(const QString& interface, const QString& name) const {
    const QVariantMap all = AllProperties(interface);
    const auto it = all.find(name);
    return it == all.end() ? QVariant() : *it;
}

QVariantMap MprisService::AllProperties(const QString& interface) const {
    QVariantMap map;
    if (interface == kRoot) {
        map.insert(QStringLiteral("CanQuit"), true);
        map.insert(QStringLiteral("CanRaise"), true);
        map.insert(QStringLiteral("HasTrackList"), false);
        map.insert(QStringLiteral("Identity"), QStringLiteral("Tunefold"));
        map.insert(QStringLiteral("DesktopEntry"), QStringLiteral("tunefold"));
        map.insert(QStringLiteral("SupportedUriSchemes"), QStringList{QStringLiteral("file")});
        map.insert(QStringLiteral("SupportedMimeTypes"),
                   QStringList{QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-wav"),
                               QStringLiteral("audio/x-mpegurl")});
    } else if (interface == kPlayer) {
        const TMprisState s = adapter_.State();
        map.insert(QStringLiteral("PlaybackStatus"), Text(s.playbackStatus));
        map.insert(QStringLiteral("Rate"), 1.0);
        map.insert(QStringLiteral("MinimumRate"), 1.0);
        map.insert(QStringLiteral("MaximumRate"), 1.0);
        map.insert(QStringLiteral("Metadata"), Metadata(s.metadata));
        map.insert(QStringLiteral("Volume"), s.volume);
        map.insert(QStringLiteral("Position"),
                   QVariant::fromValue(static_cast<qlonglong>(adapter_.PositionUs())));
        map.insert(QStringLiteral("CanGoNext"), s.canGoNext);
        map.insert(QStringLiteral("CanGoPrevious"), s.canGoPrevious);
        map.insert(QStringLiteral("CanPlay"), s.canPlay);
        map.insert(QStringLiteral("CanPause"), s.canPause);
        map.insert(QStringLiteral("CanSeek"), s.canSeek);
        map.insert(QStringLiteral("CanControl"), true);
    }
    return map;
}

void MprisService::Publish() {
    const TMprisChanges changes = adapter_.Poll();
    if (!changes.properties.empty()) {
        const QVariantMap all = AllProperties(kPlayer);
        QVariantMap changed;
        for (const std::string& name : changes.properties) {
            changed.insert(Text(name), all.value(Text(name)));
        }
        QDBusMessage signal =
            QDBusMessage::createSignal(kObjectPath, kProperties, QStringLiteral("PropertiesChanged"));
        signal << kPlayer << changed << QStringList{};
        bus_.send(signal);
    }
    if (changes.seeked) {
        QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, kPlayer, QStringLiteral("Seeked"));
        signal << static_cast<qlonglong>(changes.positionUs);
        bus_.send(signal);
    }
}

bool MprisService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    // The bus delivers calls to a virtual object on its own thread; the player lives on the GUI
    // thread. The call is answered there, the bus thread waiting for it (the GUI thread never waits
    // for the bus: it only sends).
    if (QThread::currentThread() != thread()) {
        bool handled = false;
        QMetaObject::invokeMethod(
            this, [&] { handled = Handle(message, connection); }, Qt::BlockingQueuedConnection);
        return handled;
    }
    return Handle(message, connection);
}

bool MprisService::Handle(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString interface = message.interface();
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    auto reply = [&](const QList<QVariant>& out = {}) {
        connection.send(message.createReply(out));
        return true;
    };
    auto fail = [&](QDBusError::ErrorType type, const QString& text) {
        connection.send(message.createErrorReply(type, text));
        return true;
    };
    if (interface == kProperties) {
        const QString target = args.value(0).toString();
        if (target != kRoot && target != kPlayer) {
            return fail(QDBusError::UnknownInterface, QStringLiteral("No such interface: ") + target);
        }
        if (member == QLatin1String("GetAll")) {
            return reply({AllProperties(target)});
        }
        const QString name = args.value(1).toString();
        if (member == QLatin1String("Get")) {
            const QVariant value = Property(target, name);
            if (!value.isValid()) {
                return fail(QDBusError::UnknownProperty, QStringLiteral("No such property: ") + name);
            }
            return reply({QVariant::fromValue(QDBusVariant(value))});
        }
        if (member == QLatin1String("Set")) {
            const QVariant value = args.value(2).value<QDBusVariant>().variant();
            if (target == kPlayer && name == QLatin1String("Volume")) {
                adapter_.SetVolume(value.toDouble());
            } else if (!(target == kPlayer && name == QLatin1String("Rate"))) {
                // Rate takes only 1.0, which it is; everything else is read-only.
                return fail(QDBusError::PropertyReadOnly, QStringLiteral("Read-only property: ") + name);
            }
            reply();
            Publish();
            return true;
        }
        return false;
    }
    if (interface == kRoot ||
        (interface.isEmpty() && (member == QLatin1String("Raise") || member == QLatin1String("Quit")))) {
        if (member == QLatin1String("Raise")) {
            reply();
            adapter_.Raise();
            return true;
        }
        if (member == QLatin1String("Quit")) {
            reply();
            adapter_.Quit();
            return true;
        }
        return false;
    }
    if (interface != kPlayer && !interface.isEmpty()) {
        return false;
    }
    // The answer follows the action: a caller that reads the state next finds it changed.
    if (member == QLatin1String("Play")) {
        adapter_.Play();
    } else if (member == QLatin1String("Pause")) {
        adapter_.Pause();
    } else if (member == QLatin1String("PlayPause")) {
        adapter_.PlayPause();
    } else if (member == QLatin1String("Stop")) {
        adapter_.Stop();
    } else if (member == QLatin1String("Next")) {
        adapter_.Next();
    } else if (member == QLatin1String("Previous")) {
        adapter_.Previous();
    } else if (member == QLatin1String("Seek")) {
        adapter_.Seek(args.value(0).toLongLong());
    } else if (member == QLatin1String("SetPosition")) {
        adapter_.SetPosition(args.value(0).value<QDBusObjectPath>().path().toStdString(),
                             args.value(1).toLongLong());
    } else if (member == QLatin1String("OpenUri")) {
        adapter_.OpenUri(args.value(0).toString().toStdString());
    } else {
        return false;
    }
    reply();
    Publish();
    return true;
}

} // namespace tunefold::qt
