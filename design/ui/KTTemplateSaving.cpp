#include "design/ui/KTTemplateSaving.h"

#include "design/KTTemplate.h"
#include "design/ui/KTSavePanelTemplateAccessoryViewController.h"
#include "platform/TypeTable.h"
#include "platform/UserDefaults.h"
#include "platform/ui/FilePanels.h"

namespace KTTemplateSaving {

KTSavePanelTemplateAccessoryViewController *savePanelAccessoryViewController()
{
    static KTSavePanelTemplateAccessoryViewController *controller = new KTSavePanelTemplateAccessoryViewController;
    return controller;
}

bool saveToDiskWithWindow(KTTemplate &design, QWidget *window, const QStringList &tagNames, bool askToSaveImage)
{
    platform::SavePanelRequest request;
    request.nameFieldValue = design.name();
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kTemplate)};
    request.accessoryView = askToSaveImage ? savePanelAccessoryViewController()->view() : nullptr;
    request.parent = window;
    QUrl url = platform::runSavePanel(request);
    if (request.accessoryView)
        request.accessoryView->setParent(nullptr);
    if (url.isEmpty())
        return true;
    const QString extension = QStringLiteral(".") + QString::fromLatin1(KTTemplate::kPackageExtension);
    if (!url.toLocalFile().endsWith(extension))
        url = QUrl::fromLocalFile(url.toLocalFile() + extension);
    const bool withImage =
        askToSaveImage
        && platform::UserDefaults::standard().boolForKey(
            QString::fromLatin1(KTSavePanelTemplateAccessoryViewController::kIncludeImageInTemplateKey));
    design.saveToURL(url, tagNames, design.variationGUID(), withImage);
    return true;
}

} // namespace KTTemplateSaving
