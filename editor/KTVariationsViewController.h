#pragma once

#include "editor/KTDesignBrowserViewController.h"
#include "kit/ui/VLForwardingView.h"
#include "kit/ui/VLForwardingViewProtocol.h"

#include <QPointer>

#include <memory>

class KTTemplate;
class Variation;

namespace platform {
class ManagedObjectContext;
}

// The "VARIATIONS" panel: snapshots of the current design kept for this run
// only, to compare, apply again and save as templates. While it is empty a
// hint points to the add button.
class KTVariationsViewController : public KTDesignBrowserViewController, public VLForwardingViewProtocol
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "VariationsView";
    static constexpr const char *kHint = "Click the + button below to add current design as a variation";
    static constexpr const char *kNewVariationName = "New Variation";

    KTVariationsViewController(const QString &nibName, platform::WindowController *windowController,
                               QObject *parent = nullptr);

    // The variations context of the shared store unless one is set (tests).
    platform::ManagedObjectContext *moc() const { return browserContext(); }
    void setMoc(platform::ManagedObjectContext *context);

    void addVariation(const std::shared_ptr<KTTemplate> &design) override;
    void removeSelectedVariations() override;
    void activateViewController() override;
    void applyTemplate() override;
    void saveAsTemplate();

    // Where "Save as templates" sends the designs, when not the window's own browser (tests).
    void setTemplatesBrowser(QObject *browser) { m_templatesBrowser = browser; }

    void refreshContent();
    QList<Variation *> content() const;
    QList<Variation *> selectedItems() const override;
    // The hint while the list is empty, else null.
    VLForwardingView *instructionView() const { return m_instructionView; }

    void drawRectInView(QPainter &painter, const QRect &rect, VLForwardingView *view) override;

protected:
    platform::ManagedObjectContext *sharedStoreContext() const override;
    QWidget *loadView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createInstructionsView();

    QPointer<VLForwardingView> m_instructionView;
    QPointer<QObject> m_templatesBrowser;
};
