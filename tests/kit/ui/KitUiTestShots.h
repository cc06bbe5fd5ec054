#pragma once

#include <QDir>
#include <QWidget>

// Saves a picture of a widget when KANTELO_TEST_SHOTS names a folder, so a
// person can look at the windows the tests build.
inline void saveKitShot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("KANTELO_TEST_SHOTS");
    if (dir.isEmpty() || !widget)
        return;
    QDir().mkpath(dir);
    widget->grab().save(dir + "/" + name + ".png");
}
