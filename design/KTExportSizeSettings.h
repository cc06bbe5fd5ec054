#pragma once

#include <QtGlobal>

namespace platform {
class UserDefaults;
}

// The export size preferences a design is saved at: the rule
// ("ExportSizeModification") and the fixed sizes it may name. The caller
// reads them from its settings; the values here stand in where a setting is
// absent, so a design used without the shell gets the same sizes.
struct KTExportSizeSettings {
    enum Mode : qint64 { DesignSize = 0, LastDrawnSize = 1, FixedHeight = 2, FixedWidth = 3 }; // else both fixed
    qint64 mode = DesignSize;
    qint64 fixHeight = 600;
    qint64 fixWidth = 800;
    qint64 fixWidth2 = 800;
    qint64 fixHeight2 = 600;

    static KTExportSizeSettings fromDefaults(const platform::UserDefaults &defaults);
};
