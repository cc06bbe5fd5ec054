#include "kit/VLLongProcessPanel.h"

namespace {
VLLongProcessPanel::Factory &installedFactory()
{
    static VLLongProcessPanel::Factory factory;
    return factory;
}
} // namespace

void VLLongProcessPanel::setFactory(Factory factory)
{
    installedFactory() = std::move(factory);
}

const VLLongProcessPanel::Factory &VLLongProcessPanel::factory()
{
    return installedFactory();
}
