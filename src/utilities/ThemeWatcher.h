#pragma once

#include <QObject>

class QDBusVariant;

// Follows the desktop's light or dark appearance: the application palette's change event and the
// desktop portal's SettingChanged for "color-scheme" both make IColorUtil read the mode again,
// then changed() tells the owner to redraw what depends on it.
class ThemeWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ThemeWatcher(QObject* parent = nullptr);
    ~ThemeWatcher() override;

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void onSettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

private:
    void update();
};
