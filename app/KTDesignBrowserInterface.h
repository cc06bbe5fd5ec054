#pragma once

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
};
