#pragma once

#include <QStringList>

#include <memory>

class KTTemplate;

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
};
