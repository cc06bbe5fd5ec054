#include "design/KTColorMatLayer.h"
#include "design/KTImageLayer.h"
#include "editor/KTBoundControls.h"
#include "editor/KTEyedropper.h"
#include "kit/ui/VLColorWell.h"
#include "editor/KTLayerPanelController.h"
#include "editor/KTLayersPaletteController.h"
#include "editor/KTTemplateControlsViewController.h"
#include "editor/KTOverlayControlsViewController.h"
#include "design/KTTextOverlayLayer.h"
#include "design/KTImageOverlayLayer.h"
#include "design/VLImageMetadataManager.h"
#include "design/KTTemplate.h"
#include "editor/VLRotateView.h"
#include "platform/NotificationCenter.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

namespace {

void holdAlt(bool down)
{
    QKeyEvent e(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Alt, down ? Qt::AltModifier : Qt::NoModifier);
    platform::NotificationCenter::defaultCenter().post(QStringLiteral("flagsChangedNotification"), &e);
}

KTPanelSlider *sliderNamed(QWidget *view, const QString &title)
{
    for (auto *slider : view->findChildren<KTPanelSlider *>()) {
        if (slider->slider()->objectName() == title + QStringLiteral(" slider"))
            return slider;
    }
    return nullptr;
}

void type(KTPanelSlider *slider, const QString &text)
{
    slider->field()->setText(text);
    emit slider->field()->editingFinished();
}

} // namespace

TEST(KTLayerPanels, NumbersShowMultipliedWithAtMostTwoFractionDigits)
{
    EXPECT_EQ(KTPanelSlider::formatNumber(0.25, 100), QStringLiteral("25"));
    EXPECT_EQ(KTPanelSlider::formatNumber(0.3, 10), QStringLiteral("3"));
    EXPECT_EQ(KTPanelSlider::formatNumber(0.123456, 100), QStringLiteral("12.35"));
    EXPECT_EQ(KTPanelSlider::formatNumber(-0.00001, 100), QStringLiteral("0"));
    EXPECT_DOUBLE_EQ(*KTPanelSlider::parseNumber(QStringLiteral(" 12.5 "), 100), 0.125);
    EXPECT_FALSE(KTPanelSlider::parseNumber(QStringLiteral("abc"), 100));
}

TEST(KTLayerPanels, PhotoCropsLockWhileAltIsHeldAndStopAt0475)
{
    auto photo = std::make_shared<KTImageLayer>();
    KTImageLayerPanelController panel(QStringLiteral("ImageLayerControls"), nullptr);
    panel.setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(photo.get())));
    EXPECT_FALSE(panel.lock()->lockSliders());

    holdAlt(true);
    holdAlt(true); // a long press toggles once
    EXPECT_TRUE(panel.lock()->lockSliders());
    panel.cropLeftMoved(0.6, false);
    for (double crop : {photo->cropLeft(), photo->cropRight(), photo->cropTop(), photo->cropBottom()})
        EXPECT_DOUBLE_EQ(crop, 0.475);

    holdAlt(false);
    EXPECT_FALSE(panel.lock()->lockSliders());
    panel.cropLeftMoved(0.2, false);
    EXPECT_NEAR(photo->cropLeft(), 0.2, 1e-6);
    EXPECT_DOUBLE_EQ(photo->cropTop(), 0.475);
    // The field shows the model's value x100.
    EXPECT_EQ(sliderNamed(panel.view(), QStringLiteral("Crop top"))->field()->text(), QStringLiteral("47.5"));
}

TEST(KTLayerPanels, MatWidthsMoveTogetherUnlessAltIsHeld)
{
    auto mat = std::make_shared<KTColorMatLayer>();
    KTColorMatFrameLayerPanelController panel(QStringLiteral("ColorMatControls"), nullptr);
    panel.setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(mat.get())));
    KTPanelSlider *left = sliderNamed(panel.view(), QStringLiteral("Left"));
    ASSERT_TRUE(left);
    type(left, QStringLiteral("12"));
    for (double width : {mat->leftWidth(), mat->rightWidth(), mat->topWidth(), mat->bottomWidth()})
        EXPECT_NEAR(width, 0.12, 1e-6);

    holdAlt(true);
    type(left, QStringLiteral("30"));
    holdAlt(false);
    EXPECT_NEAR(mat->leftWidth(), 0.30, 1e-6);
    EXPECT_NEAR(mat->rightWidth(), 0.12, 1e-6);
    EXPECT_TRUE(panel.view()->findChild<QCheckBox *>()->isChecked());
}

TEST(KTLayerPanels, EditsAreUndoableAndThePanelFollowsTheModel)
{
    QUndoStack stack;
    KTLayersPaletteController palette;
    palette.setUndoStack(&stack);
    auto mat = std::make_shared<KTColorMatLayer>();
    mat->setOpacity(0.5);
    KTColorMatFrameLayerPanelController panel(QStringLiteral("ColorMatControls"), nullptr);
    panel.useLayersPaletteController(&palette);
    panel.setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(mat.get())));
    KTPanelSlider *opacity = sliderNamed(panel.view(), QStringLiteral("Opacity"));
    EXPECT_EQ(opacity->field()->text(), QStringLiteral("50"));

    // A slider gesture is one step.
    opacity->slider()->setSliderDown(true);
    opacity->slider()->setValue(700);
    opacity->slider()->setValue(800);
    opacity->slider()->setSliderDown(false);
    EXPECT_NEAR(mat->opacity(), 0.8, 1e-9);
    EXPECT_EQ(stack.count(), 1);
    type(sliderNamed(panel.view(), QStringLiteral("Left")), QStringLiteral("20"));
    EXPECT_EQ(stack.count(), 2);

    stack.undo();
    EXPECT_NEAR(mat->leftWidth(), KTColorMatLayer().leftWidth(), 1e-6);
    EXPECT_NEAR(mat->topWidth(), KTColorMatLayer().topWidth(), 1e-6);
    stack.undo();
    EXPECT_DOUBLE_EQ(mat->opacity(), 0.5);
    EXPECT_EQ(opacity->field()->text(), QStringLiteral("50"));
    EXPECT_EQ(opacity->slider()->value(), 500);

    // A change made elsewhere shows too.
    mat->setOpacity(0.25);
    EXPECT_EQ(opacity->field()->text(), QStringLiteral("25"));
}

TEST(KTLayerPanels, FourClicksOnTheRotateViewTurnThePersonUprightAgain)
{
    VLRotateView view;
    std::vector<unsigned> told;
    QObject::connect(&view, &VLRotateView::rotationEdited, [&](unsigned r) { told.push_back(r); });
    const QPoint person = view.personRect().center().toPoint();
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(&view, Qt::LeftButton, {}, person);
    EXPECT_EQ(told, (std::vector<unsigned>{1, 2, 3, 0}));

    // Pressed on the person, released elsewhere: nothing turns.
    QTest::mousePress(&view, Qt::LeftButton, {}, person);
    EXPECT_TRUE(view.arrowPressed());
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), view.mapToGlobal(QPointF(1, 1)), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(&view, &move);
    EXPECT_FALSE(view.arrowPressed());
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(1, 1));
    EXPECT_EQ(told.size(), 4u);
}

TEST(KTLayerPanels, JoystickDirectionsReachAndTheDesignsShadowBothWays)
{
    auto design = std::make_shared<KTTemplate>();
    QUndoStack stack;
    KTTemplateControlsViewController panel(QStringLiteral("TemplateControlsView"), nullptr);
    panel.setUndoStack(&stack);
    panel.view();
    JoystickView *joystick = panel.shadowsControl();
    ASSERT_TRUE(joystick);
    const QPoint c(joystick->width() / 2, joystick->height() / 2);
    QTest::mouseClick(joystick, Qt::LeftButton, {}, c + QPoint(0, -10));
    EXPECT_DOUBLE_EQ(joystick->angle(), 28.0); // no design: nothing moves

    panel.setRepresentedObject(QVariant::fromValue(static_cast<QObject *>(design.get())));
    const std::pair<QPoint, double> clicks[] = {{{0, -10}, 0}, {{10, 0}, 90}, {{0, 10}, 180}, {{-10, 0}, 270}};
    for (const auto &[step, degrees] : clicks) {
        QTest::mouseClick(joystick, Qt::LeftButton, {}, c + step);
        EXPECT_NEAR(design->shadowAngle(), degrees, 1e-6);
        EXPECT_NEAR(design->shadowOffset(), 10 / joystick->maxOffset(), 1e-6);
    }
    QTest::mouseClick(joystick, Qt::LeftButton, {}, c + QPoint(0, 49));
    EXPECT_DOUBLE_EQ(design->shadowOffset(), 1.0);
    EXPECT_DOUBLE_EQ(joystick->offset(), joystick->maxOffset());

    // Undo brings the design's shadow and the cross-hair back.
    stack.undo();
    EXPECT_NEAR(design->shadowAngle(), 270, 1e-6);
    EXPECT_NEAR(joystick->angle(), 270, 1e-6);
    EXPECT_NEAR(joystick->offset(), 10, 1e-6);
    EXPECT_FALSE(joystick->setMaxOffset(0));
}

TEST(KTLayerPanels, OverlaysAreAddedOnTopAndTextTakesPlaceholders)
{
    auto design = std::make_shared<KTTemplate>();
    design->addTopmostLayer(std::make_shared<KTImageLayer>());
    QUndoStack stack;
    KTOverlayControlsViewController panel(QStringLiteral("OverlayControls"), nullptr);
    panel.setUndoStack(&stack);
    panel.setDocTemplate(design);
    design->setMetadataManager(std::make_shared<VLImageMetadataManager>());
    panel.addImageOverlay();
    panel.addImageOverlay();
    ASSERT_EQ(design->layers().size(), 3);
    EXPECT_EQ(design->layers().first(), panel.imageOverlayLayer());

    panel.addTextOverlay();
    EXPECT_EQ(design->layers().first(), panel.textOverlayLayer());
    const platform::StyledText start = panel.textOverlayLayer()->overlayText();
    EXPECT_EQ(start.string(), QStringLiteral("Overlay"));
    EXPECT_EQ(start.attributesAt(0).paragraphStyle.value_or(platform::StyledText::ParagraphStyle()).alignment,
              int(platform::StyledText::Center));

    panel.setCurrentOverlayType(1);
    QComboBox *menu = panel.metadataPopUpButton();
    ASSERT_GT(menu->count(), 1);
    EXPECT_LT(menu->itemData(0).toLongLong(), 0);
    panel.insertTemplateText(-1); // a heading inserts nothing
    EXPECT_EQ(panel.textOverlayLayer()->overlayText().string(), QStringLiteral("Overlay"));
    QTextCursor cursor = panel.textView()->textCursor();
    cursor.movePosition(QTextCursor::End);
    panel.textView()->setTextCursor(cursor);
    const long tag = menu->itemData(1).toLongLong();
    panel.insertTemplateText(tag);
    const QString placeholder = design->metadataManager()->templateStringForTag(tag);
    EXPECT_TRUE(placeholder.startsWith(QStringLiteral("{{")));
    EXPECT_EQ(panel.textOverlayLayer()->overlayText().string(), QStringLiteral("Overlay") + placeholder);

    // Undo takes the placeholder out and the text view follows.
    stack.undo();
    EXPECT_EQ(panel.textOverlayLayer()->overlayText().string(), QStringLiteral("Overlay"));
    EXPECT_EQ(panel.textView()->toPlainText(), QStringLiteral("Overlay"));
}

TEST(KTLayerPanels, TheEyedropperPicksAPixelOfTheProgramsWindowsAndEscapeCancels)
{
    QWidget swatch;
    swatch.setAutoFillBackground(true);
    QPalette red = swatch.palette();
    red.setColor(QPalette::Window, QColor(200, 30, 40));
    swatch.setPalette(red);
    swatch.resize(60, 40);
    swatch.show();
    VLColorWell well;
    well.setColor(Qt::white);
    int edits = 0;
    QObject::connect(&well, &VLColorWell::colorEdited, [&] { ++edits; });

    KTEyedropper::pickColorForWell(&well);
    EXPECT_TRUE(KTEyedropper::isPicking());
    QTest::keyClick(&swatch, Qt::Key_A); // ignored
    EXPECT_TRUE(KTEyedropper::isPicking());
    QTest::keyClick(&swatch, Qt::Key_Escape);
    EXPECT_FALSE(KTEyedropper::isPicking());
    QTest::mouseClick(&swatch, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(well.color(), QColor(Qt::white));

    KTEyedropper::pickColorForWell(&well);
    QTest::mouseClick(&swatch, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_FALSE(KTEyedropper::isPicking());
    EXPECT_EQ(well.color(), QColor(200, 30, 40));
    EXPECT_EQ(edits, 1);
    EXPECT_FALSE(VLColorWell::sharedColorDialogIsVisible());
    well.deactivate();
}

TEST(KTLayerPanels, AnAltLetGoElsewhereIsForgottenWhenAWindowBecomesActive)
{
    KTImageLayerPanelController panel(QStringLiteral("ImageLayerControls"), nullptr);
    holdAlt(true);
    ASSERT_TRUE(panel.lock()->lockSliders());
    // The release went to another program; the keyboard says Alt is up now.
    emit qApp->focusWindowChanged(nullptr);
    EXPECT_FALSE(panel.lock()->lockSliders());
    EXPECT_FALSE(panel.lock()->altWasPressed());
}
