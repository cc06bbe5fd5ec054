#pragma once

#include "platform/NotificationCenter.h"

#include "app/KTPanelManagerViewController.h"
#include "kit/ui/XSViewController.h"
#include "kit/ui/VLColorWell.h"
#include "platform/archive/Color.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSizeF>
#include <QSlider>
#include <QToolButton>

#include <functional>
#include <memory>

class KTPresentationSettings;
class KTTemplate;
class KTViewState;
class QPushButton;
class QSlider;


// The strip along the bottom of a document window. For now it holds what
// the window around it relies on: the plus and minus buttons of the browser
// panels, and the two background colours with the blend slider between them,
// which colour the canvas and make up the presentation settings.
class KTBottomBarViewController : public XSViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "BottomBarView";
    static constexpr const char *kTemplateSetTwice = "Template can only be set once in KTBottomBarViewController";
    static constexpr int kSliderSteps = 255;

    KTBottomBarViewController(const QString &nibName, platform::WindowController *windowController,
                              QObject *parent = nullptr);
    ~KTBottomBarViewController() override;

    std::shared_ptr<KTViewState> viewState() const { return m_viewState; }
    void setViewState(const std::shared_ptr<KTViewState> &viewState);

    std::shared_ptr<KTTemplate> docTemplate() const { return m_template; }
    // Accepted once.
    void setTemplate(const std::shared_ptr<KTTemplate> &design);

    bool plusButtonEnabled() const { return m_plusButtonEnabled; }
    void setPlusButtonEnabled(bool enabled);
    bool minusButtonEnabled() const { return m_minusButtonEnabled; }
    void setMinusButtonEnabled(bool enabled);

    platform::Color leftColor() const { return m_leftColor; }
    void setLeftColor(const platform::Color &color);
    platform::Color rightColor() const { return m_rightColor; }
    void setRightColor(const platform::Color &color);
    double colorSliderPosition() const { return m_colorSliderPosition; }
    void setColorSliderPosition(double position);
    // The canvas colour: the blend of the two at the slider's position.
    QColor blendedColor() const;

    void saveCurrentPresentationSettings();
    void loadPreviousPresentationSettings();
    void resetToDefaultPresentationSettings();
    KTPresentationSettings currentPresentationSettings() const;
    bool previousPresentationSettingsAreDifferentFromCurrentValues() const;

    // The window's browsers and canvas, known once the split is set up.
    QObject *libraryViewController() const { return m_libraryViewController.data(); }
    // Its favourites state enables the minus button while its panel is open.
    void setLibraryViewController(QObject *controller);
    // The split's panel manager: + and − follow the panel it opens.
    void setPanelManager(KTPanelManagerViewController *manager);
    Q_SLOT void panelManagerPanelOpenedHandler();
    QObject *designViewController() const { return m_designViewController.data(); }
    void setDesignViewController(QObject *controller) { m_designViewController = controller; }

    // The warnings button: shown while the warnings list has something to
    // say, with the count of new warnings; pressing it opens the list above it.
    QPushButton *alertsButton() const { return m_alertsButton; }
    void showAlertsButton(const platform::Notification &notification);
    void alertsButtonPressed();
    // The open list's popup, if any.
    QWidget *alertsPopup() const { return m_alertsPopup; }

    // --- size, proportions and the aspect lock ---
    static constexpr int kOriginalAspectRatioTag = 998;
    static constexpr int kCurrentAspectRatioTag = 999;
    static constexpr int kAspectRatioCount = 10;
    static constexpr const char *kSameAsImageFormat = "Same as Image — %1";
    // The standard ratios, long side over short side, and the short side printed.
    static double aspectRatioAtIndex(int index);
    static double shortSideAtIndex(int index);
    // Long side over short; `flipped` when the size stands upright.
    static double aspectRatioForSize(const QSizeF &size, bool *flipped);
    // The nearest standard ratio, ties to the larger.
    static int aspectRatioArrayIndexForRatio(double ratio);
    static QSizeF humanAspectRatio(int index, double ratio, bool flip);
    static QString aspectRatioStringWithRatioSize(const QSizeF &pair);

    QComboBox *aspectRatioPopupButton() const { return m_aspectRatioPopup; }
    QSlider *zoomSlider() const { return m_zoomSlider; }
    VLColorWell *leftColorWell() const { return m_leftColorWell; }
    VLColorWell *rightColorWell() const { return m_rightColorWell; }
    QString imageSizeText() const;
    QString imageRatioText() const;
    // Whether the ratio shown lies within 2 % of the chosen one (shown in green).
    bool isGoodAspectRatio() const { return m_aspectAccuracy >= 0.98 && m_aspectAccuracy <= 1.02; }
    int selectedAspectRatioTag() const;
    void aspectRatioSelectionChanged(int index);
    bool isLockedAspectRatio() const;
    void setIsLockedAspectRatio(bool locked);
    double aspectRatioToLock() const;
    void modelChanged();
    void updateImageSize(const QSizeF &size);

    // --- sharing the framed picture ---
    static constexpr const char *kShareText = "Framed with Kantelo for Linux";
    static constexpr const char *kMailNotStartedMessage = "Couldn't start an e-mail with “%1”";
    static constexpr const char *kMailNotStartedText =
        "No e-mail program could be started (xdg-email). The picture is in the folder:\n%1";
    // Runs a desktop program or opens a file (tests record instead).
    using DesktopRunner = std::function<bool(const QString &program, const QStringList &arguments)>;
    static void setDesktopRunner(DesktopRunner runner);
    QPushButton *shareButton() const { return m_shareButton; }
    // The framed picture as the export preferences make it, given the size
    // shown on screen, rendered off the main thread behind the canvas's busy cover.
    QImage imageToShare() const;
    void copyToClipboard();
    void openWithViewer();
    void saveCopy();
    void emailPicture();

    // The action menu: item 0 is the button's face; while the library panel
    // is open, the library's commands for its selection follow it. Refilled
    // each time it opens.
    QToolButton *actionButton() const { return m_actionButton; }
    QMenu *actionMenu() const { return m_actionMenu; }
    void menuNeedsUpdate();

    QPushButton *plusButton() const { return m_plusButton; }
    QPushButton *minusButton() const { return m_minusButton; }

signals:
    void plusButtonPressed();
    void minusButtonPressed();

protected:
    QWidget *loadView() override;

private:
    void applySettings(const KTPresentationSettings &settings);
    void recolorViewState();
    void showColorsInWells();

    std::shared_ptr<KTViewState> m_viewState;
    std::shared_ptr<KTTemplate> m_template;
    bool m_plusButtonEnabled = false;
    bool m_minusButtonEnabled = false;
    platform::Color m_leftColor = platform::Color::white(0.0);
    platform::Color m_rightColor = platform::Color::white(1.0);
    double m_colorSliderPosition = 214.0 / 255.0;
    QPointer<VLColorWell> m_leftColorWell;
    QPointer<VLColorWell> m_rightColorWell;
    QPointer<QObject> m_libraryViewController;
    QPointer<QObject> m_designViewController;
    QPointer<QPushButton> m_plusButton;
    QPointer<QPushButton> m_minusButton;
    QPointer<QSlider> m_slider;
    QPointer<QPushButton> m_alertsButton;
    QPointer<QPushButton> m_shareButton;
    QPointer<QToolButton> m_actionButton;
    QPointer<QMenu> m_actionMenu;
    // The picture written to a private temporary file for the viewer or the
    // mail, in the preferred format unless an index is given.
    QString writeShareFile(int formatIndex = -1) const;
    QSizeF sizeShownOnScreen() const;
    QPointer<KTPanelManagerViewController> m_panelManager;
    platform::NotificationCenter::ObserverId m_panelObserver = 0;
    QMetaObject::Connection m_libraryStateConnection;
    QPointer<QComboBox> m_aspectRatioPopup;
    QPointer<QCheckBox> m_lockButton;
    QPointer<QSlider> m_zoomSlider;
    QPointer<QPushButton> m_imageSize;
    QPointer<QLabel> m_imageRatio;
    QList<platform::NotificationCenter::ObserverId> m_designObservers;
    QSizeF m_lastOriginalImageSize;
    double m_originalImageAspectRatio = 1.0;
    int m_originalImageAspectRatioArrayIndex = 0;
    QSizeF m_currentAspectRatio;
    double m_aspectAccuracy = 0.0;
    void updateOriginalAspectRatio();
    QSizeF humanAspectRatioBasedOnMenuForSize(const QSizeF &size);
    QPointer<QWidget> m_alertsPopup;
    platform::NotificationCenter::ObserverId m_alertsObserver = 0;
};
