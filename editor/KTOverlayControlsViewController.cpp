#include "editor/KTOverlayControlsViewController.h"

#include "app/KTLayerLimit.h"
#include "design/KTImageOverlayLayer.h"
#include "design/KTTemplate.h"
#include "design/KTTextOverlayLayer.h"
#include "design/VLImageMetadataManager.h"
#include "editor/KTBoundControls.h"
#include "editor/KTLayersPaletteController.h"
#include "kit/VLWAnalytics.h"
#include "platform/Bundle.h"
#include "platform/TypeTable.h"
#include "platform/archive/StyledText.h"
#include "platform/ui/Document.h"
#include "platform/ui/FilePanels.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUndoCommand>
#include <QUndoStack>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSetOverlayTextId = 0x4b5454;

// One edit of an overlay's text; typing without a pause of other edits is one step.
class KTSetOverlayTextCommand : public QUndoCommand
{
public:
    KTSetOverlayTextCommand(std::shared_ptr<KTTextOverlayLayer> layer, platform::StyledText before,
                            platform::StyledText after, int session)
        : QUndoCommand(QObject::tr("Typing"))
        , m_layer(std::move(layer))
        , m_before(std::move(before))
        , m_after(std::move(after))
        , m_session(session)
    {
    }
    int id() const override { return kSetOverlayTextId; }
    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *next = static_cast<const KTSetOverlayTextCommand *>(other);
        if (next->m_layer != m_layer || next->m_session != m_session)
            return false;
        m_after = next->m_after;
        return true;
    }
    void redo() override { m_layer->setOverlayText(m_after); }
    void undo() override { m_layer->setOverlayText(m_before); }

private:
    std::shared_ptr<KTTextOverlayLayer> m_layer;
    platform::StyledText m_before;
    platform::StyledText m_after;
    int m_session;
};

// Why a text overlay may not hold `after` (empty when it may): every read of
// a design refuses more. A text already past a limit (from an older design)
// may still be shortened.
QString refusalOfText(const QString &after, const QString &before)
{
    const QLocale locale;
    if (after.size() > KTTextOverlayLayer::kMaxTextLength && after.size() > before.size())
        return QObject::tr("A text overlay holds at most %1 characters: the text was left as it was.")
            .arg(locale.toString(KTTextOverlayLayer::kMaxTextLength));
    const qsizetype placeholders = VLImageMetadataManager::countOfPlaceholders(after);
    if (placeholders > KTTextOverlayLayer::kMaxPlaceholders
        && placeholders > VLImageMetadataManager::countOfPlaceholders(before))
        return QObject::tr("A text overlay holds at most %1 placeholders: the text was left as it was.")
            .arg(locale.toString(KTTextOverlayLayer::kMaxPlaceholders));
    return {};
}

QToolButton *toggle(const QString &title)
{
    auto *button = new QToolButton;
    button->setText(title);
    button->setCheckable(true);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setMinimumWidth(70);
    return button;
}

} // namespace

KTOverlayControlsViewController::KTOverlayControlsViewController(const QString &nibName,
                                                                 platform::WindowController *windowController,
                                                                 QObject *parent)
    : XSViewController(nibName, windowController, parent)
    , m_imageControls(new KTBoundControls(this))
    , m_textControls(new KTBoundControls(this))
{
    m_imageControls->setUndoStackProvider([this] { return undoStack(); });
    m_textControls->setUndoStackProvider([this] { return undoStack(); });
}

KTOverlayControlsViewController::~KTOverlayControlsViewController()
{
    disconnect(m_textLayerConnection);
}

QUndoStack *KTOverlayControlsViewController::undoStack() const
{
    if (m_undoStack)
        return m_undoStack;
    if (KTLayersPaletteController *p = palette()) {
        if (QUndoStack *stack = p->undoStack())
            return stack;
    }
    platform::WindowController *window = windowController();
    auto *document = window ? qobject_cast<platform::Document *>(window->document()) : nullptr;
    return document && document->hasUndoManager() ? document->undoManager() : nullptr;
}

KTLayersPaletteController *KTOverlayControlsViewController::palette() const
{
    return qobject_cast<KTLayersPaletteController *>(m_layersPaletteController.data());
}

QWidget *KTOverlayControlsViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 6, 8, 8);

    auto *toolbar = new QHBoxLayout;
    m_imageButton = toggle(tr("Image"));
    m_textButton = toggle(tr("Text"));
    auto *group = new QButtonGroup(view);
    group->addButton(m_imageButton, 0);
    group->addButton(m_textButton, 1);
    toolbar->addStretch(1);
    toolbar->addWidget(m_imageButton);
    toolbar->addWidget(m_textButton);
    toolbar->addStretch(1);
    layout->addLayout(toolbar);
    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        m_currentOverlayType = id;
        showControlsForOverlayType(id);
    });

    m_stack = new QStackedWidget;
    layout->addWidget(m_stack, 1);

    // Picture overlay controls.
    auto *imagePage = new QWidget;
    auto *imageLayout = new QVBoxLayout(imagePage);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    auto *addImage = new QPushButton(tr("Add Picture Overlay"));
    connect(addImage, &QPushButton::clicked, this, &KTOverlayControlsViewController::addImageOverlay);
    imageLayout->addWidget(addImage);
    auto *wellRow = new QHBoxLayout;
    m_imageOverlayWell = new KTImageView;
    m_imageOverlayWell->setFixedSize(120, 120);
    m_imageOverlayWell->setToolTip(tr("Drop a picture here"));
    wellRow->addWidget(m_imageOverlayWell);
    auto *choose = new QPushButton(tr("Choose…"));
    connect(choose, &QPushButton::clicked, this, &KTOverlayControlsViewController::selectImage);
    wellRow->addWidget(choose, 0, Qt::AlignBottom);
    wellRow->addStretch(1);
    imageLayout->addLayout(wellRow);
    connect(m_imageOverlayWell, &KTImageView::imageDropped, this,
            [this] { updateOverlayImageWithPath(m_imageOverlayWell->imagePath()); });
    m_imageControls->addSlider(imageLayout, tr("Opacity"), "opacity", 0.0, 1.0, 100);
    m_imageControls->addSlider(imageLayout, tr("Scale"), "scale", KTImageOverlayLayer::kMinScale,
                               KTImageOverlayLayer::kMaxScale, 100);
    imageLayout->addStretch(1);
    m_stack->addWidget(imagePage);

    // Text overlay controls.
    auto *textPage = new QWidget;
    auto *textLayout = new QVBoxLayout(textPage);
    textLayout->setContentsMargins(0, 0, 0, 0);
    auto *addText = new QPushButton(tr("Add Text Overlay"));
    connect(addText, &QPushButton::clicked, this, &KTOverlayControlsViewController::addTextOverlay);
    textLayout->addWidget(addText);
    m_textView = new QTextEdit;
    m_textView->setAcceptRichText(true);
    m_textView->setMinimumHeight(90);
    m_textView->setMaximumHeight(160);
    textLayout->addWidget(m_textView);
    connect(m_textView, &QTextEdit::textChanged, this, &KTOverlayControlsViewController::textEdited);
    m_limitNote = new QLabel;
    m_limitNote->setObjectName(QStringLiteral("textLimitNote"));
    m_limitNote->setWordWrap(true);
    m_limitNote->setStyleSheet(QStringLiteral("color: #b00000"));
    m_limitNote->hide();
    textLayout->addWidget(m_limitNote);
    auto *styleRow = new QHBoxLayout;
    auto *font = new QPushButton(tr("Font…"));
    connect(font, &QPushButton::clicked, this, &KTOverlayControlsViewController::fontButtonPressed);
    auto *color = new QPushButton(tr("Color…"));
    connect(color, &QPushButton::clicked, this, &KTOverlayControlsViewController::colorButtonClicked);
    styleRow->addWidget(font);
    styleRow->addWidget(color);
    textLayout->addLayout(styleRow);
    m_metadataPopUpButton = new QComboBox;
    m_metadataPopUpButton->setToolTip(tr("Insert a detail of the photo"));
    textLayout->addWidget(m_metadataPopUpButton);
    connect(m_metadataPopUpButton, &QComboBox::activated, this, [this](int index) {
        insertTemplateText(m_metadataPopUpButton->itemData(index).toLongLong());
        m_metadataPopUpButton->setCurrentIndex(0);
    });
    m_textControls->addSlider(textLayout, tr("Opacity"), "opacity", 0.0, 1.0, 100);
    m_textControls->addSlider(textLayout, tr("Scale"), "scale", KTTextOverlayLayer::kMinDragScale,
                              KTTextOverlayLayer::kMaxDragScale, 100);
    textLayout->addStretch(1);
    m_stack->addWidget(textPage);

    m_currentOverlayType = -1;
    QMetaObject::invokeMethod(this, [this] {
        if (m_currentOverlayType < 0)
            setCurrentOverlayType(0);
    }, Qt::QueuedConnection);
    return view;
}

void KTOverlayControlsViewController::setCurrentOverlayType(int type)
{
    view();
    if (type == m_currentOverlayType)
        return;
    m_currentOverlayType = type;
    showControlsForOverlayType(type);
}

void KTOverlayControlsViewController::toggleView()
{
    setCurrentOverlayType(m_currentOverlayType == 0 ? 1 : 0);
}

void KTOverlayControlsViewController::showControlsForOverlayType(int type)
{
    if (!m_stack)
        return;
    (type == 0 ? m_imageButton : m_textButton)->setChecked(true);
    if (type != 0)
        fillMetadataMenu();
    m_stack->setCurrentIndex(type == 0 ? 0 : 1);
    selectActiveLayer();
}

void KTOverlayControlsViewController::fillMetadataMenu()
{
    if (!m_metadataPopUpButton || m_metadataPopUpButton->count() > 0 || !m_docTemplate
        || !m_docTemplate->metadataManager())
        return;
    for (const auto &item : m_docTemplate->metadataManager()->menuItemsForMetadataSelection())
        m_metadataPopUpButton->addItem(item.title, qlonglong(item.tag));
}

void KTOverlayControlsViewController::selectActiveLayer()
{
    KTLayersPaletteController *p = palette();
    if (!p)
        return;
    if (m_currentOverlayType == 0 && m_imageOverlayLayer)
        p->selectLayer(m_imageOverlayLayer.get());
    else if (m_currentOverlayType == 1 && m_textOverlayLayer)
        p->selectLayer(m_textOverlayLayer.get());
}

void KTOverlayControlsViewController::activateViewController()
{
    selectActiveLayer();
}

void KTOverlayControlsViewController::setDocTemplate(const std::shared_ptr<KTTemplate> &design)
{
    if (m_docTemplate)
        disconnect(m_docTemplate.get(), &KTTemplate::metadataManagerChanged, this, nullptr);
    m_docTemplate = design;
    auto refill = [this] {
        if (m_metadataPopUpButton)
            m_metadataPopUpButton->clear();
        if (m_currentOverlayType == 1)
            fillMetadataMenu();
    };
    if (design)
        connect(design.get(), &KTTemplate::metadataManagerChanged, this, refill);
    refill();
}

void KTOverlayControlsViewController::useLayersPaletteController(QObject *controller)
{
    m_layersPaletteController = controller;
}

void KTOverlayControlsViewController::setImageOverlayLayer(const std::shared_ptr<KTLayer> &layer)
{
    view();
    m_imageOverlayLayer = std::dynamic_pointer_cast<KTImageOverlayLayer>(layer);
    m_imageControls->setTarget(m_imageOverlayLayer.get());
    if (m_imageOverlayWell) {
        // Only a picture the layer has: a name it keeps of one it lacks is no file to read.
        m_imageOverlayWell->setImage(
            m_imageOverlayLayer && m_imageOverlayLayer->image() ? QImage(m_imageOverlayLayer->imagePath()) : QImage());
    }
}

void KTOverlayControlsViewController::setTextOverlayLayer(const std::shared_ptr<KTLayer> &layer)
{
    view();
    auto text = std::dynamic_pointer_cast<KTTextOverlayLayer>(layer);
    if (text == m_textOverlayLayer)
        return;
    disconnect(m_textLayerConnection);
    m_textOverlayLayer = text;
    ++m_textSession;
    m_textControls->setTarget(text.get());
    if (text)
        m_textLayerConnection = connect(text.get(), &KTLayer::layerChanged, this, [this] { showOverlayText(); });
    showOverlayText();
}

void KTOverlayControlsViewController::showOverlayText()
{
    if (!m_textView || m_typing)
        return;
    m_showingText = true;
    if (m_textOverlayLayer) {
        const platform::StyledText text = m_textOverlayLayer->overlayText();
        if (platform::StyledText::fromTextDocument(*m_textView->document()) != text)
            text.toTextDocument(m_textView->document());
        // Light text stays readable on a dark ground.
        const QColor ink = text.isEmpty() ? QColor(Qt::black) : text.attributesAt(0).color.value_or(platform::Color()).toQColor();
        QPalette colours = m_textView->palette();
        const double brightness = ink.isValid() ? ink.lightnessF() : 0.0;
        colours.setColor(QPalette::Base, brightness > 0.6 ? QColor(60, 60, 60) : QColor(Qt::white));
        colours.setColor(QPalette::Text, brightness > 0.6 ? QColor(Qt::white) : QColor(Qt::black));
        m_textView->setPalette(colours);
        m_textView->setEnabled(true);
    } else {
        m_textView->clear();
        m_textView->setEnabled(false);
    }
    m_showingText = false;
}

void KTOverlayControlsViewController::textEdited()
{
    if (m_showingText || !m_textOverlayLayer)
        return;
    const platform::StyledText after = platform::StyledText::fromTextDocument(*m_textView->document());
    const platform::StyledText before = m_textOverlayLayer->overlayText();
    if (after == before)
        return;
    if (const QString refusal = refusalOfText(after.string(), before.string()); !refusal.isEmpty()) {
        m_limitNote->setText(refusal);
        m_limitNote->show();
        // The field goes back to the layer's text once the edit that changed it is over.
        const qsizetype grown = after.string().size() - before.string().size();
        const int position = int(std::max<qsizetype>(0, m_textView->textCursor().position() - grown));
        QMetaObject::invokeMethod(
            this,
            [this, position] {
                showOverlayText();
                QTextCursor cursor = m_textView->textCursor();
                cursor.setPosition(std::min(position, m_textView->document()->characterCount() - 1));
                m_textView->setTextCursor(cursor);
            },
            Qt::QueuedConnection);
        return;
    }
    m_limitNote->hide();
    m_typing = true;
    if (QUndoStack *stack = undoStack())
        stack->push(new KTSetOverlayTextCommand(m_textOverlayLayer, before, after, m_textSession));
    else
        m_textOverlayLayer->setOverlayText(after);
    m_typing = false;
}

void KTOverlayControlsViewController::addImageOverlay()
{
    if (!m_docTemplate || !KTLayerLimit::roomForAnotherLayer(*m_docTemplate))
        return;
    auto overlay = std::make_shared<KTImageOverlayLayer>();
    setImageOverlayLayer(overlay);
    m_docTemplate->addTopmostLayer(overlay);
    const QString placeholder = platform::Bundle::pathForResource(QStringLiteral("Placeholder"), QStringLiteral("png"));
    overlay->setImagePath(placeholder);
    overlay->loadImage();
    setImageOverlayLayer(overlay);
    if (KTLayersPaletteController *p = palette()) {
        p->addOverlayLayer(overlay);
        p->selectLayer(overlay.get());
        p->layerWasAdded(overlay);
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Overlays"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Added Image")}});
}

void KTOverlayControlsViewController::addTextOverlay()
{
    if (!m_docTemplate || !KTLayerLimit::roomForAnotherLayer(*m_docTemplate))
        return;
    auto overlay = std::make_shared<KTTextOverlayLayer>();
    // A new overlay says "Overlay" in the system font at 12 points, centred.
    QTextDocument document;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(12);
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centred);
    QTextCharFormat format;
    format.setFont(font);
    format.setForeground(Qt::black);
    cursor.insertText(tr("Overlay"), format);
    overlay->setOverlayText(platform::StyledText::fromTextDocument(document));
    setTextOverlayLayer(overlay);
    m_docTemplate->addTopmostLayer(overlay);
    if (KTLayersPaletteController *p = palette()) {
        p->addOverlayLayer(overlay);
        p->selectLayer(overlay.get());
        p->layerWasAdded(overlay);
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Overlays"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Added Text")}});
}

void KTOverlayControlsViewController::updateOverlayImageWithPath(const QString &path)
{
    if (path.isEmpty() || !m_imageOverlayLayer)
        return;
    m_imageOverlayLayer->setImagePath(path);
    m_imageOverlayLayer->loadImage();
    if (m_imageOverlayWell)
        m_imageOverlayWell->setImage(QImage(path));
    if (KTLayersPaletteController *p = palette())
        p->refreshIconForLayer(m_imageOverlayLayer.get());
    emit m_imageOverlayLayer->layerChanged();
}

void KTOverlayControlsViewController::selectImage()
{
    if (!m_imageOverlayLayer)
        return;
    platform::OpenPanelRequest request;
    request.allowedTypes = {QString::fromLatin1(platform::TypeTable::kImage)};
    request.parent = view() ? view()->window() : nullptr;
    const QList<QUrl> chosen = platform::runOpenPanel(request);
    if (!chosen.isEmpty())
        updateOverlayImageWithPath(chosen.last().toLocalFile());
}

void KTOverlayControlsViewController::insertTemplateText(long tag)
{
    if (tag < 0 || !m_textView || !m_docTemplate || !m_docTemplate->metadataManager())
        return;
    const QString placeholder = m_docTemplate->metadataManager()->templateStringForTag(tag);
    if (!placeholder.isEmpty()) {
        ++m_textSession;
        m_textView->textCursor().insertText(placeholder);
        ++m_textSession;
    }
    VLWAnalytics::trackEventProperties(QStringLiteral("Overlays"),
                             QVariantMap{{QStringLiteral("Action"), QStringLiteral("Added Template Text")}});
}

void KTOverlayControlsViewController::applyToSelection(const std::function<void(QTextCharFormat &)> &change)
{
    QTextCursor cursor = m_textView->textCursor();
    if (!cursor.hasSelection()) {
        cursor.select(QTextCursor::Document);
        m_textView->setTextCursor(cursor);
    }
    QTextCharFormat format = cursor.charFormat();
    change(format);
    ++m_textSession;
    cursor.mergeCharFormat(format);
    ++m_textSession;
}

void KTOverlayControlsViewController::fontButtonPressed()
{
    if (!m_textView || !m_textOverlayLayer)
        return;
    m_textView->setFocus();
    QTextCursor cursor = m_textView->textCursor();
    const QFont current = cursor.hasSelection() ? cursor.charFormat().font() : m_textView->document()->begin().charFormat().font();
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, m_textView->window(), tr("Font"));
    VLWAnalytics::trackEventProperties(QStringLiteral("Overlays"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Font Button")}});
    if (ok)
        applyToSelection([&](QTextCharFormat &format) { format.setFont(chosen); });
}

void KTOverlayControlsViewController::colorButtonClicked()
{
    if (!m_textView || !m_textOverlayLayer)
        return;
    m_textView->setFocus();
    const QColor current = m_textView->textCursor().charFormat().foreground().color();
    const QColor chosen = QColorDialog::getColor(current, m_textView->window(), tr("Text Color"),
                                                 QColorDialog::ShowAlphaChannel);
    VLWAnalytics::trackEventProperties(QStringLiteral("Overlays"), QVariantMap{{QStringLiteral("Action"), QStringLiteral("Color Button")}});
    if (chosen.isValid())
        applyToSelection([&](QTextCharFormat &format) { format.setForeground(chosen); });
}
