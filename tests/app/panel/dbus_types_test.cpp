#include "panel/dbus_types.h"

#include <QDBusMetaType>

#include <gtest/gtest.h>

namespace {

struct Wire {
    const char* type;
    QMetaType metaType;
    const char* signature;
};

}  // namespace

// What a panel reads is fixed by these signatures; a type that marshals differently, or that QtDBus cannot
// find by the name a signal or slot gives it, is a menu or an icon that never reaches the panel.
TEST(DBusTypes, MarshalAsThePanelProtocolsSignaturesSay)
{
    registerDBusTypes();
    const Wire wires[] = {
        {"DBusImage", QMetaType::fromType<DBusImage>(), "(iiay)"},
        {"DBusImageList", QMetaType::fromType<DBusImageList>(), "a(iiay)"},
        {"DBusToolTip", QMetaType::fromType<DBusToolTip>(), "(sa(iiay)ss)"},
        {"DBusMenuItem", QMetaType::fromType<DBusMenuItem>(), "(ia{sv})"},
        {"DBusMenuItemList", QMetaType::fromType<DBusMenuItemList>(), "a(ia{sv})"},
        {"DBusMenuItemKeys", QMetaType::fromType<DBusMenuItemKeys>(), "(ias)"},
        {"DBusMenuItemKeysList", QMetaType::fromType<DBusMenuItemKeysList>(), "a(ias)"},
        {"DBusMenuLayoutItem", QMetaType::fromType<DBusMenuLayoutItem>(), "(ia{sv}av)"},
        {"DBusMenuEvent", QMetaType::fromType<DBusMenuEvent>(), "(isvu)"},
        {"DBusMenuEventList", QMetaType::fromType<DBusMenuEventList>(), "a(isvu)"},
        {"a shortcut", QMetaType::fromType<QList<QStringList>>(), "aas"},
    };
    for (const Wire& wire : wires) {
        EXPECT_STREQ(QDBusMetaType::typeToSignature(wire.metaType), wire.signature) << wire.type;
        if (QByteArrayView(wire.type).startsWith("DBus")) {
            EXPECT_EQ(QMetaType::fromName(wire.type), wire.metaType) << wire.type << " is found by its name";
        }
    }
}
