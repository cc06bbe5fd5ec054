#include "platform/ui/FilePanels.h"

#include "platform/GlobalHook.h"
#include "platform/TypeTable.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>

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

QList<QUrl> openWithDialog(const OpenPanelRequest &request)
{
    QFileDialog dialog(request.parent, request.title, request.directory, fileDialogFilter(request.allowedTypes));
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
    return dialog.selectedUrls();
}

QUrl saveWithDialog(const SavePanelRequest &request)
{
    QString filter = request.allowedExtensions.isEmpty() ? fileDialogFilter(request.allowedTypes)
                                                         : extensionsNameFilter(request.allowedExtensions);
    if (request.allowedExtensions.isEmpty() && !request.typesName.isEmpty() && !filter.isEmpty())
        filter = request.typesName + QLatin1Char(' ') + filter;
    QFileDialog dialog(request.parent, request.title, request.directory, filter);
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
            // A known extension is replaced, anything else kept.
            const QString stem =
                TypeTable::typeForExtension(info.suffix()).isEmpty() ? info.fileName() : info.completeBaseName();
            dialog.selectFile(stem + QLatin1Char('.') + extensions.constFirst());
        });
    }
    dialog.setOption(QFileDialog::DontUseNativeDialog, request.accessoryView != nullptr);
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
