// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/receiveview/accessiblebus.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

// The names Qt's bridge uses: its connection to the accessibility bus, and the paths of its objects.
const QString kConnection = QStringLiteral("a11y");
const QString kObjectPrefix = QStringLiteral("/org/a11y/atspi/accessible/");

} // namespace

bool AccessibleBus::sendTextChanged(QObject *object, bool inserted, int position, int length, const QString &text)
{
    QDBusConnection bus(kConnection);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    if (!bus.isConnected() || !iface)
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPrefix + QString::number(QAccessible::uniqueId(iface)),
        QStringLiteral("org.a11y.atspi.Event.Object"), QStringLiteral("TextChanged"));
    // The application's root, which every AT-SPI event names last.
    QDBusArgument root;
    root.beginStructure();
    root << bus.baseService() << QDBusObjectPath(kObjectPrefix + QStringLiteral("root"));
    root.endStructure();
    signal << (inserted ? QStringLiteral("insert") : QStringLiteral("delete")) << position << length
           << QVariant::fromValue(QDBusVariant(text)) << QVariant::fromValue(root);
    return bus.send(signal);
}
