#include "app/KTControllerRegistry.h"
#include "design/KTLayerKinds.h"
#include "programs/kantelo/WindowControllers.h"

#include <gtest/gtest.h>

// Selecting a layer of any kind opens a real settings panel, not a placeholder.
TEST(LayerPanels, EveryLayerKindsPanelIsMadeByTheProgram)
{
    kantelo::registerWindowControllers();
    for (const KTLayerKind &kind : KTLayerKinds::all()) {
        if (!kind.panelController.isEmpty()) {
            EXPECT_TRUE(KTControllerRegistry::isRegistered(kind.panelController)) << kind.className.toStdString();
        }
    }
}
