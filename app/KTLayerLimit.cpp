#include "app/KTLayerLimit.h"

#include "design/KTTemplate.h"
#include "platform/Alert.h"

#include <QCoreApplication>
#include <QLocale>

bool KTLayerLimit::roomForAnotherLayer(const KTTemplate &design)
{
    if (design.layers().size() < KTTemplate::kMaxLayers)
        return true;
    platform::runAlert({QCoreApplication::translate("KTLayerLimit", kFullMessage),
                        QCoreApplication::translate("KTLayerLimit", kFullInformativeFormat)
                            .arg(QLocale().toString(KTTemplate::kMaxLayers)),
                        {},
                        platform::AlertRequest::Style::Warning});
    return false;
}
