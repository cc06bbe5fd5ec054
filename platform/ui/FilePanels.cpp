#include "platform/ui/FilePanels.h"

#include "platform/GlobalHook.h"
#include "platform/TypeTable.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>

#include <algorithm>

namespace platform {

namespace {

GlobalHook<QList<QUrl>(const OpenPanelRequest &)> &openHook()
{
    static GlobalHook<QList<QUrl>(const OpenPanelRequest &)> hook;
    return hook;
}
GlobalHook<QUrl(const SavePanelRequest &)> &saveHook()
{
    static GlobalHook<QUrl(const SavePanelRequest &)> hook;
    return hook;
}

bool isPackage(const QString &path)
{
    return QFileInfo(path).isDir()
           && TypeTable::conformsTo(TypeTable::typeForFile(path), QLatin1String(TypeTable::kPackage));
}

// Picks files, and a package among them as one file: opening it, by the
// button or a double click, chooses it instead of going into the folder.
class PackageChoosingFileDialog : public QFileDialog
{
public:
    PackageChoosingFileDialog(QWidget *parent, const QString &title, const QString &directory, const QString &filter,
                              bool packagesAsFiles)
        : QFileDialog(parent, title, directory, filter)
        , m_packagesAsFiles(packagesAsFiles)
    {
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString &entered) {
            if (!m_packagesAsFiles || !isPackage(entered))
                return;
            const QFileInfo package(entered);
            setDirectory(package.absolutePath());
            chooseAll({package.absoluteFilePath()});
        });
    }
    // What was chosen when a package was among it; empty otherwise.
    QList<QUrl> chosenWithPackages;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (m_packagesAsFiles && std::any_of(files.begin(), files.end(), isPackage)) {
            chooseAll(files);
            return;
        }
        QFileDialog::accept();
    }

private:
    bool m_packagesAsFiles;

    void chooseAll(const QStringList &files)
    {
        chosenWithPackages.clear();
        for (const QString &file : files) {
            // A plain folder among packages is no document to open.
            if (isPackage(file) || QFileInfo(file).isFile())
                chosenWithPackages << QUrl::fromLocalFile(file);
        }
        if (!chosenWithPackages.isEmpty())
            QDialog::accept();
    }
};

QList<QUrl> openWithDialog(const OpenPanelRequest &request)
{
    // Files and packages side by side: only the built-in dialog tells a
    // package from a folder to go into.
    const bool filesAndPackages =
        !request.choosesPackages && !request.choosesDirectories
        && std::any_of(request.allowedTypes.begin(), request.allowedTypes.end(), [](const QString &type) {
               return TypeTable::conformsTo(type, QLatin1String(TypeTable::kPackage));
           });
    PackageChoosingFileDialog dialog(request.parent, request.title, request.directory,
                                     fileDialogFilter(request.allowedTypes), filesAndPackages);
    if (filesAndPackages)
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!request.nameFilters.isEmpty())
        dialog.setNameFilters(request.nameFilters);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (request.choosesDirectories) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    }
    if (request.choosesPackages) {
        // A package is a folder: only the built-in dialog picks folders,
        // and only its views can pick several.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        if (request.allowsMultipleSelection) {
            for (QAbstractItemView *view : dialog.findChildren<QAbstractItemView *>())
                view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (!dialog.chosenWithPackages.isEmpty())
        return dialog.chosenWithPackages;
    return dialog.selectedUrls();
}

// Checks the chosen name before the dialog's own checks (overwriting):
// a name the panel settles otherwise is shown instead of accepted.
class SettlingFileDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;
    std::function<QString(const QString &)> settle;

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (settle && !files.isEmpty() && !QFileInfo(files.constFirst()).isDir()) {
            const QString settled = settle(files.constFirst());
            if (settled != files.constFirst()) {
                showName(QFileInfo(settled).fileName());
                return;
            }
            // The name filter of a format followed gives its own first
            // extension to the typed name: the user's one stays.
            if (selectedFiles().value(0) != settled)
                showName(QFileInfo(settled).fileName());
        }
        QFileDialog::accept();
    }

private:
    // selectFile leaves a name field that has the focus as typed.
    void showName(const QString &name)
    {
        selectFile(name);
        if (auto *field = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")); field && field->text() != name)
            field->setText(name);
    }
};

QUrl saveWithDialog(const SavePanelRequest &request)
{
    QString filter = request.allowedExtensions.isEmpty() ? fileDialogFilter(request.allowedTypes)
                                                         : extensionsNameFilter(request.allowedExtensions);
    if (request.allowedExtensions.isEmpty() && !request.typesName.isEmpty() && !filter.isEmpty())
        filter = request.typesName + QLatin1Char(' ') + filter;
    SettlingFileDialog dialog(request.parent, request.title, request.directory, filter);
    dialog.settle = request.settlePath;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (!request.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, request.prompt);
    if (!request.allowedExtensions.isEmpty())
        dialog.setDefaultSuffix(request.allowedExtensions.constFirst());
    if (request.followAllowedExtensions) {
        // The accessory narrows the accepted extensions while the dialog shows.
        request.followAllowedExtensions(&dialog, [&dialog](const QStringList &extensions) {
            dialog.setNameFilter(extensionsNameFilter(extensions));
            dialog.setDefaultSuffix(extensions.isEmpty() ? QString() : extensions.constFirst());
            // The typed name follows the new format.
            const QStringList files = dialog.selectedFiles();
            if (files.isEmpty() || extensions.isEmpty())
                return;
            const QFileInfo info(files.constFirst());
            if (info.fileName().isEmpty() || info.isDir() || extensions.contains(info.suffix(), Qt::CaseInsensitive))
                return;
            dialog.selectFile(fileNameWithExtension(info.fileName(), extensions.constFirst()));
        });
    }
    // Only the built-in dialog takes an accessory, or stays open on a name it settles.
    dialog.setOption(QFileDialog::DontUseNativeDialog, request.accessoryView || request.settlePath);
    if (!request.nameFieldValue.isEmpty())
        dialog.selectFile(request.nameFieldValue);
    if (request.accessoryView) {
        // The non-native dialog is a grid: the accessory goes below it.
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
            grid->addWidget(request.accessoryView, grid->rowCount(), 0, 1, grid->columnCount());
    }
    QUrl chosen;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedUrls().isEmpty())
        chosen = dialog.selectedUrls().constFirst();
    if (request.accessoryView)
        request.accessoryView->setParent(nullptr); // the caller keeps its accessory
    return chosen;
}

} // namespace

QString fileNameWithExtension(const QString &fileName, const QString &extension)
{
    const QFileInfo info(fileName);
    const QString stem = TypeTable::typeForExtension(info.suffix()).isEmpty() ? fileName : info.completeBaseName();
    return stem + QLatin1Char('.') + extension;
}

QString extensionsNameFilter(const QStringList &extensions)
{
    QStringList patterns;
    for (const QString &extension : extensions)
        patterns << QStringLiteral("*.") + extension;
    patterns.removeDuplicates();
    if (patterns.isEmpty())
        return QString();
    // Named after the format, as file dialogs list types: "JPEG image (*.jpg *.jpeg)".
    QString format = extensions.constFirst().toUpper();
    if (format == QLatin1String("JPG"))
        format = QStringLiteral("JPEG");
    else if (format == QLatin1String("TIF"))
        format = QStringLiteral("TIFF");
    return QStringLiteral("%1 image (%2)").arg(format, patterns.join(QLatin1Char(' ')));
}

QString fileDialogFilter(const QStringList &types)
{
    QStringList patterns;
    for (const QString &type : types) {
        for (const QString &extension : TypeTable::conformingExtensions(type))
            patterns << QStringLiteral("*.") + extension;
    }
    patterns.removeDuplicates();
    if (patterns.isEmpty())
        return QString();
    return QStringLiteral("(%1)").arg(patterns.join(QLatin1Char(' ')));
}

QStringList patternsOfNameFilter(const QString &filter)
{
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    const QString inside = open >= 0 && close > open ? filter.mid(open + 1, close - open - 1) : filter;
    return inside.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void setOpenPanelPresenter(OpenPanelPresenter presenter)
{
    openHook().set(std::move(presenter));
}

void setSavePanelPresenter(SavePanelPresenter presenter)
{
    saveHook().set(std::move(presenter));
}

QList<QUrl> runOpenPanel(const OpenPanelRequest &request)
{
    const OpenPanelPresenter presenter = openHook().get();
    return presenter ? presenter(request) : openWithDialog(request);
}

QUrl runSavePanel(const SavePanelRequest &request)
{
    const SavePanelPresenter presenter = saveHook().get();
    return presenter ? presenter(request) : saveWithDialog(request);
}

} // namespace platform
