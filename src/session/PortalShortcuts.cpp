#include "PortalShortcuts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <array>

namespace {
const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString ObjectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");

struct KeyBinding
{
    const char* id;
    const char* trigger;
    const char* description;
};
// In the order of FunctionKeyState::Key.
constexpr std::array<KeyBinding, 4> Bindings { {
    { "start-stop-monitoring", "F9", "Start/Stop Monitoring" },
    { "show-hide-monitor", "F10", "Show/Hide Monitor" },
    { "options", "F11", "Options" },
    { "clear-messages", "F12", "Clear Messages" },
} };

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut
{
    QString id;
    QVariantMap properties;
};
} // namespace

Q_DECLARE_METATYPE(Shortcut)

namespace {
QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// Errors that mean this desktop has no such portal, as opposed to one that said no.
bool meansNotOffered(QDBusError::ErrorType type)
{
    return type == QDBusError::ServiceUnknown || type == QDBusError::UnknownInterface
        || type == QDBusError::UnknownMethod || type == QDBusError::UnknownObject;
}
} // namespace

PortalShortcuts::PortalShortcuts(const QDBusConnection& bus, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(timeout);
    connect(&m_deadline, &QTimer::timeout, this, [this] { settle(State::NoAnswer); });
}

QString PortalShortcuts::shortcutId(Key key)
{
    return QString::fromLatin1(Bindings[key].id);
}

void PortalShortcuts::bind()
{
    if (m_state != State::Unbound)
        return;
    if (!m_bus.isConnected()) {
        m_state = State::NotOffered;
        return;
    }
    m_state = State::Binding;
    m_deadline.start();
    m_bus.connect(Service, ObjectPath, Interface, QStringLiteral("Activated"), this,
        SLOT(onActivated(QDBusMessage)));
    call(Step::CreateSession, QStringLiteral("CreateSession"), {},
        { { QStringLiteral("session_handle_token"), QStringLiteral("sentrel") } });
}

void PortalShortcuts::call(Step step, const QString& method, const QVariantList& arguments, QVariantMap options)
{
    // The portal names the request after our unique name and the token we choose.
    const QString token = QStringLiteral("sentrel%1").arg(++m_tokens);
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    m_step = step;
    m_requestPath = ObjectPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    listenForResponse(m_requestPath, true);

    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage message = QDBusMessage::createMethodCall(Service, ObjectPath, Interface, method);
    message.setArguments(QVariantList(arguments) << options);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, int(m_deadline.interval())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, step] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (m_state != State::Binding || step != m_step)
            return;
        if (reply.isError()) {
            settle(meansNotOffered(reply.error().type()) ? State::NotOffered : State::Refused);
            return;
        }
        // A portal older than the predictable paths names its own request object.
        if (reply.value().path() != m_requestPath) {
            listenForResponse(m_requestPath, false);
            m_requestPath = reply.value().path();
            listenForResponse(m_requestPath, true);
        }
    });
}

void PortalShortcuts::listenForResponse(const QString& path, bool on)
{
    if (on)
        m_bus.connect(Service, path, RequestInterface, QStringLiteral("Response"), this,
            SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    else
        m_bus.disconnect(Service, path, RequestInterface, QStringLiteral("Response"), this,
            SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalShortcuts::onResponse(uint response, const QVariantMap& results, const QDBusMessage& message)
{
    if (m_state != State::Binding || message.path() != m_requestPath)
        return;
    listenForResponse(m_requestPath, false);
    m_requestPath.clear();
    // 0 is success; 1 the user cancelled, 2 the desktop ended it otherwise.
    if (response != 0) {
        settle(State::Refused);
        return;
    }
    if (m_step == Step::BindShortcuts) {
        settle(State::Bound);
        return;
    }
    // The session handle is a string in the interface's first version, an object path in some portals.
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.userType() == qMetaTypeId<QDBusObjectPath>() ? handle.value<QDBusObjectPath>().path()
                                                                     : handle.toString();
    QList<Shortcut> shortcuts;
    for (const KeyBinding& binding : Bindings)
        shortcuts.append({ QString::fromLatin1(binding.id),
            { { QStringLiteral("description"), QString::fromLatin1(binding.description) },
                { QStringLiteral("preferred_trigger"), QString::fromLatin1(binding.trigger) } } });
    call(Step::BindShortcuts, QStringLiteral("BindShortcuts"),
        { QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString() }, {});
}

void PortalShortcuts::settle(State state)
{
    if (m_state != State::Binding)
        return;
    m_deadline.stop();
    if (!m_requestPath.isEmpty())
        listenForResponse(m_requestPath, false);
    m_requestPath.clear();
    m_state = state;
}

void PortalShortcuts::onActivated(const QDBusMessage& message)
{
    // (o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QVariantList arguments = message.arguments();
    if (!m_watching || m_state != State::Bound || arguments.size() < 2
        || arguments[0].value<QDBusObjectPath>().path() != m_session)
        return;
    const QString id = arguments[1].toString();
    for (int key = F9; key <= F12; ++key) {
        if (id == shortcutId(Key(key)))
            m_pressed.set(key);
    }
}

bool PortalShortcuts::isAvailable() const
{
    return m_state == State::Unbound || m_state == State::Binding || m_state == State::Bound;
}

void PortalShortcuts::startWatching()
{
    m_pressed.reset();
    m_watching = true;
    bind();
}

void PortalShortcuts::stopWatching()
{
    m_watching = false;
}

bool PortalShortcuts::takePressed(Key key)
{
    const bool pressed = m_pressed.test(key);
    m_pressed.reset(key);
    return pressed;
}
