#include "app/KTPreferencesController.h"

#include "design/KTExportQuality.h"
#include "design/KTPreferenceKeys.h"
#include "platform/UserDefaults.h"
#include "platform/codec/ExportFormat.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

platform::UserDefaults &defaults()
{
    return platform::UserDefaults::standard();
}

QSpinBox *pixels(QWidget *parent, const char *name, const char *defaultsKey)
{
    auto *box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, 100000);
    box->setSuffix(QStringLiteral(" px"));
    QObject::connect(box, &QSpinBox::valueChanged, box,
                     [defaultsKey](int value) { defaults().setInteger(key(defaultsKey), value); });
    return box;
}

} // namespace

KTPreferencesController::KTPreferencesController(QObject *parent)
    : HXPrefsWindowController(parent)
{
}

KTPreferencesController::~KTPreferencesController()
{
    delete m_exportPreferenceView.data();
    delete m_updatesPreferenceView.data();
}

KTPreferencesController *KTPreferencesController::sharedPrefsWindowController()
{
    static QPointer<KTPreferencesController> shared;
    if (!shared)
        shared = new KTPreferencesController;
    return shared;
}

QWidget *KTPreferencesController::exportPreferenceView()
{
    buildPanes();
    return m_exportPreferenceView;
}

QWidget *KTPreferencesController::updatesPreferenceView()
{
    buildPanes();
    return m_updatesPreferenceView;
}

void KTPreferencesController::setupToolbar()
{
    buildPanes();
    readDefaults();
    addView(m_exportPreferenceView, tr("Export"), QStringLiteral("Export"));
    addView(m_updatesPreferenceView, tr("Updates"), QStringLiteral("Updates"));
}

void KTPreferencesController::closePreferences()
{
    if (isWindowLoaded())
        window()->close();
}

void KTPreferencesController::buildPanes()
{
    if (m_exportPreferenceView)
        return;
    auto *pane = new QWidget;
    pane->setObjectName(QStringLiteral("exportPreferenceView"));
    auto *form = new QFormLayout(pane);
    form->setContentsMargins(20, 16, 20, 16);

    m_exFileFormat = new QComboBox(pane);
    m_exFileFormat->setObjectName(QStringLiteral("ExFileFormat"));
    for (const platform::ExportFormat &format : platform::ExportFormat::all())
        m_exFileFormat->addItem(format.name);
    connect(m_exFileFormat, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            defaults().setInteger(key(KTPreferenceKeys::kOutputImageFormatKey), index);
        enableChosenFields();
    });
    form->addRow(tr("File format:"), m_exFileFormat);

    m_exQuality = new QSpinBox(pane);
    m_exQuality->setObjectName(QStringLiteral("ExQuality"));
    m_exQuality->setRange(1, 100);
    m_exQuality->setSuffix(QStringLiteral(" %"));
    connect(m_exQuality, &QSpinBox::valueChanged, this,
            [](int value) { defaults().setInteger(key(KTPreferenceKeys::kOutputImageQualityKey), value); });
    form->addRow(tr("JPEG quality:"), m_exQuality);

    // The size rule: its button's id is the stored value.
    auto *sizes = new QWidget(pane);
    auto *sizeGrid = new QGridLayout(sizes);
    sizeGrid->setContentsMargins(0, 0, 0, 0);
    m_exSizeMatrix = new QButtonGroup(pane);
    m_exWidth = pixels(sizes, "ExWidth", KTPreferenceKeys::kExportFixWidthKey);
    m_exHeight = pixels(sizes, "ExHeight", KTPreferenceKeys::kExportFixHeightKey);
    m_exWidth2 = pixels(sizes, "ExWidth2", KTPreferenceKeys::kExportFixWidth2Key);
    m_exHeight2 = pixels(sizes, "ExHeight2", KTPreferenceKeys::kExportFixHeight2Key);
    const QString rules[] = {tr("The photo's own size"), tr("The size shown on screen"), tr("A fixed height"),
                             tr("A fixed width"), tr("A fixed width and height")};
    for (int id = 0; id < 5; ++id) {
        auto *button = new QRadioButton(rules[id], sizes);
        button->setObjectName(QStringLiteral("ExSize%1").arg(id));
        m_exSizeMatrix->addButton(button, id);
        sizeGrid->addWidget(button, id, 0);
    }
    sizeGrid->addWidget(m_exHeight, 2, 1);
    sizeGrid->addWidget(m_exWidth, 3, 1);
    auto *both = new QHBoxLayout;
    both->addWidget(m_exWidth2);
    both->addWidget(new QLabel(QStringLiteral("×"), sizes));
    both->addWidget(m_exHeight2);
    sizeGrid->addLayout(both, 4, 1);
    connect(m_exSizeMatrix, &QButtonGroup::idClicked, this, [this](int id) {
        defaults().setInteger(key(KTPreferenceKeys::kExportSizeModificationKey), id);
        enableChosenFields();
    });
    form->addRow(tr("Size:"), sizes);

    auto *names = new QWidget(pane);
    auto *nameGrid = new QGridLayout(names);
    nameGrid->setContentsMargins(0, 0, 0, 0);
    m_exFileNameMatrix = new QButtonGroup(pane);
    m_exPrependText = new QLineEdit(names);
    m_exPrependText->setObjectName(QStringLiteral("ExPrependText"));
    m_exAppendText = new QLineEdit(names);
    m_exAppendText->setObjectName(QStringLiteral("ExAppendText"));
    const QString nameRules[] = {tr("Keep the photo's name"), tr("Put text before it"), tr("Put text after it")};
    for (int id = 0; id < 3; ++id) {
        auto *button = new QRadioButton(nameRules[id], names);
        button->setObjectName(QStringLiteral("ExFileName%1").arg(id));
        m_exFileNameMatrix->addButton(button, id);
        nameGrid->addWidget(button, id, 0);
    }
    nameGrid->addWidget(m_exPrependText, 1, 1);
    nameGrid->addWidget(m_exAppendText, 2, 1);
    connect(m_exFileNameMatrix, &QButtonGroup::idClicked, this, [this](int id) {
        defaults().setInteger(key(KTPreferenceKeys::kExportFilenameModificationKey), id);
        enableChosenFields();
    });
    connect(m_exPrependText, &QLineEdit::textEdited, this, [](const QString &text) {
        defaults().setObject(key(KTPreferenceKeys::kExportFilenamePrependTextKey), text);
    });
    connect(m_exAppendText, &QLineEdit::textEdited, this, [](const QString &text) {
        defaults().setObject(key(KTPreferenceKeys::kExportFilenameAppendTextKey), text);
    });
    form->addRow(tr("File name:"), names);
    m_exportPreferenceView = pane;

    auto *updates = new QWidget;
    updates->setObjectName(QStringLiteral("updatesPreferenceView"));
    auto *column = new QVBoxLayout(updates);
    column->setContentsMargins(20, 16, 20, 16);
    m_libraryCheckAtStartup = new QCheckBox(tr("Look for new frames for the library at start-up"), updates);
    m_libraryCheckAtStartup->setObjectName(QStringLiteral("LibraryCheckAtStartup"));
    connect(m_libraryCheckAtStartup, &QCheckBox::toggled, this,
            [](bool on) { defaults().setBool(key(KTPreferenceKeys::kLibraryCheckAtStartupKey), on); });
    column->addWidget(m_libraryCheckAtStartup);
    auto *note = new QLabel(tr("Kantelo itself is updated by your system's package manager."), updates);
    note->setWordWrap(true);
    column->addWidget(note);
    m_updatesPreferenceView = updates;
}

void KTPreferencesController::readDefaults()
{
    const platform::UserDefaults &d = defaults();
    const QSignalBlocker a(m_exFileFormat), b(m_exQuality), c(m_exWidth), e(m_exHeight), f(m_exWidth2),
        g(m_exHeight2), h(m_exPrependText), i(m_exAppendText), j(m_libraryCheckAtStartup);
    const qint64 lastFormat = qint64(platform::ExportFormat::all().size()) - 1;
    m_exFileFormat->setCurrentIndex(
        int(std::clamp<qint64>(d.integerForKey(key(KTPreferenceKeys::kOutputImageFormatKey)), 0, lastFormat)));
    m_exQuality->setValue(int(KTExportQuality::percentFromDefaults(d)));
    m_exWidth->setValue(int(d.integerForKey(key(KTPreferenceKeys::kExportFixWidthKey))));
    m_exHeight->setValue(int(d.integerForKey(key(KTPreferenceKeys::kExportFixHeightKey))));
    m_exWidth2->setValue(int(d.integerForKey(key(KTPreferenceKeys::kExportFixWidth2Key))));
    m_exHeight2->setValue(int(d.integerForKey(key(KTPreferenceKeys::kExportFixHeight2Key))));
    if (QAbstractButton *size = m_exSizeMatrix->button(int(d.integerForKey(key(KTPreferenceKeys::kExportSizeModificationKey)))))
        size->setChecked(true);
    if (QAbstractButton *name = m_exFileNameMatrix->button(int(d.integerForKey(key(KTPreferenceKeys::kExportFilenameModificationKey)))))
        name->setChecked(true);
    m_exPrependText->setText(d.stringForKey(key(KTPreferenceKeys::kExportFilenamePrependTextKey)));
    m_exAppendText->setText(d.stringForKey(key(KTPreferenceKeys::kExportFilenameAppendTextKey)));
    m_libraryCheckAtStartup->setChecked(d.boolForKey(key(KTPreferenceKeys::kLibraryCheckAtStartupKey)));
    enableChosenFields();
}

void KTPreferencesController::enableChosenFields()
{
    // Only the fields the chosen format and rules use can be edited.
    m_exQuality->setEnabled(platform::ExportFormat::forSavedIndex(m_exFileFormat->currentIndex()).hasQuality);
    const int size = m_exSizeMatrix->checkedId();
    m_exHeight->setEnabled(size == 2);
    m_exWidth->setEnabled(size == 3);
    m_exWidth2->setEnabled(size == 4);
    m_exHeight2->setEnabled(size == 4);
    const int name = m_exFileNameMatrix->checkedId();
    m_exPrependText->setEnabled(name == 1);
    m_exAppendText->setEnabled(name == 2);
}
