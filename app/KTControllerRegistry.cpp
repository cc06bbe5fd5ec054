#include "app/KTControllerRegistry.h"

#include <QHash>

namespace {

QHash<QString, KTControllerRegistry::Maker> &makers()
{
    static QHash<QString, KTControllerRegistry::Maker> table;
    return table;
}

} // namespace

void KTControllerRegistry::registerClass(const QString &className, Maker maker)
{
    makers().insert(className, std::move(maker));
}

void KTControllerRegistry::unregisterClass(const QString &className)
{
    makers().remove(className);
}

bool KTControllerRegistry::isRegistered(const QString &className)
{
    return makers().contains(className);
}

XSViewController *KTControllerRegistry::make(const QString &className, const QString &nibName,
                                             platform::WindowController *windowController, QObject *parent)
{
    const auto it = makers().constFind(className);
    if (it == makers().constEnd() || !*it)
        return nullptr;
    XSViewController *controller = (*it)(nibName, windowController, parent);
    if (controller && controller->objectName().isEmpty())
        controller->setObjectName(className);
    return controller;
}

XSViewController *KTControllerRegistry::makeOrPlaceholder(const QString &className, const QString &nibName,
                                                          platform::WindowController *windowController, QObject *parent)
{
    if (XSViewController *made = make(className, nibName, windowController, parent))
        return made;
    auto *placeholder = new XSViewController(nibName, windowController, parent);
    placeholder->setObjectName(className);
    return placeholder;
}
