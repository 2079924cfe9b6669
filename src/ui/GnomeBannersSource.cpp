#include "ui/GnomeBannersSource.h"

#include <QString>

// GLib's headers use the word Qt takes for its signals.
#undef signals

#include <gio/gio.h>

namespace pellora {

namespace {

constexpr const char* Schema = "org.gnome.desktop.notifications";
constexpr const char* Key = "show-banners";

// GSettings reaches GNOME's settings store over GLib's own connection to the session bus,
// which would end the program should the bus go away: the reminders go on without it.
void KeepRunningWithoutTheBus(GObject*, GAsyncResult* result, gpointer) {
    if (GDBusConnection* bus = g_bus_get_finish(result, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
}

bool OnGnome() {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return desktops.contains(QLatin1String("GNOME"), Qt::CaseInsensitive);
}

} // namespace

TGnomeBannersSource::TGnomeBannersSource(QObject* parent) : QObject(parent) {}

TGnomeBannersSource::~TGnomeBannersSource() {
    if (Settings != nullptr) {
        g_signal_handlers_disconnect_by_data(Settings, this);
        g_object_unref(Settings);
    }
}

bool TGnomeBannersSource::Start() {
    if (Settings != nullptr)
        return true;
    if (!OnGnome())
        return false;
    // Looked up first: GSettings ends the program when asked for a schema it lacks.
    GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        schemas != nullptr ? g_settings_schema_source_lookup(schemas, Schema, TRUE) : nullptr;
    if (schema == nullptr)
        return false;
    const bool hasKey = g_settings_schema_has_key(schema, Key) != FALSE;
    if (hasKey)
        Settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);
    if (Settings == nullptr)
        return false;
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, &KeepRunningWithoutTheBus, nullptr);
    g_signal_connect(Settings, "changed::show-banners", G_CALLBACK(&SettingChanged), this);
    Read();
    return true;
}

void TGnomeBannersSource::SettingChanged(void*, const char*, void* self) {
    static_cast<TGnomeBannersSource*>(self)->Read();
}

void TGnomeBannersSource::Read() {
    const bool off = g_settings_get_boolean(static_cast<GSettings*>(Settings), Key) == FALSE;
    if (off == BannersOff)
        return;
    BannersOff = off;
    emit Changed();
}

} // namespace pellora
