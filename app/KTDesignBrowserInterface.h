#pragma once

#include <QStringList>

#include <memory>

class KTTemplate;
class QWidget;
namespace platform {
class UndoManager;
}

// What the shell asks of the templates and variations browsers
// ("KTTemplatesViewController", "KTVariationsViewController").
class KTDesignBrowserInterface
{
public:
    virtual ~KTDesignBrowserInterface() = default;
    virtual void addVariation(const std::shared_ptr<KTTemplate> &design) = 0;
    virtual void removeSelectedVariations() = 0;
    // The window closes: the browser lets go of its designs.
    virtual void emptyTemplates() {}
    // Shows and selects the saved designs of these GUIDs (just imported).
    virtual void showDesigns(const QStringList &guids) { Q_UNUSED(guids); }
    // The browser's own undo when `focus` is its list, where its keys undo
    // on it (the Edit menu follows); null elsewhere or without one.
    virtual platform::UndoManager *undoManagerForFocus(const QWidget *focus)
    {
        Q_UNUSED(focus);
        return nullptr;
    }
};
