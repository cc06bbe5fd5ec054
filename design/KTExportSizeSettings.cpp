#include "design/KTExportSizeSettings.h"

#include "design/KTPreferenceKeys.h"
#include "platform/UserDefaults.h"

KTExportSizeSettings KTExportSizeSettings::fromDefaults(const platform::UserDefaults &defaults)
{
    KTExportSizeSettings settings;
    const auto read = [&defaults](const char *key, qint64 *value) {
        const QString k = QString::fromLatin1(key);
        if (defaults.objectForKey(k).isValid())
            *value = defaults.integerForKey(k);
    };
    read(KTPreferenceKeys::kExportSizeModificationKey, &settings.mode);
    read(KTPreferenceKeys::kExportFixHeightKey, &settings.fixHeight);
    read(KTPreferenceKeys::kExportFixWidthKey, &settings.fixWidth);
    read(KTPreferenceKeys::kExportFixWidth2Key, &settings.fixWidth2);
    read(KTPreferenceKeys::kExportFixHeight2Key, &settings.fixHeight2);
    return settings;
}
