#pragma once

#include <QObject>

namespace pellora {

// GNOME's do-not-disturb: its notification banners switched off (GSettings
// org.gnome.desktop.notifications, key show-banners). Followed only on a GNOME desktop whose
// settings schema has the key.
class TGnomeBannersSource : public QObject {
    Q_OBJECT
public:
    explicit TGnomeBannersSource(QObject* parent);
    ~TGnomeBannersSource() override;

    // Starts following the setting where there is one; false where there is none.
    bool Start();
    // Banners are off.
    bool On() const { return BannersOff; }

signals:
    void Changed();

private:
    static void SettingChanged(void* settings, const char* key, void* self);
    void Read();

    void* Settings = nullptr; // GSettings*
    bool BannersOff = false;
};

} // namespace pellora
