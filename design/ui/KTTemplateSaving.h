#pragma once

#include <QStringList>

class KTTemplate;
class KTSavePanelTemplateAccessoryViewController;
class QWidget;

// Saving a design as a template package through the save panel.
namespace KTTemplateSaving {

// Asks where to save (type "KTTemplate" only, the design's name proposed);
// with `askToSaveImage` the panel carries the accessory, and the photo is
// included when "IncludeImageInTemplate" is on. Answers true: the outcome of
// the save itself is shown to the user by the package writer.
bool saveToDiskWithWindow(KTTemplate &design, QWidget *window, const QStringList &tagNames, bool askToSaveImage);
// Made on first use and kept.
KTSavePanelTemplateAccessoryViewController *savePanelAccessoryViewController();

} // namespace KTTemplateSaving
