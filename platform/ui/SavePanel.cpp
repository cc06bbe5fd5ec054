#include "platform/ui/SavePanel.h"

#include "platform/ui/FilePanels.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace platform {

SavePanel::SavePanel(QObject *parent)
    : QObject(parent)
{
}

SavePanel::~SavePanel() = default;

void SavePanel::setAllowedFileTypes(const QStringList &extensions)
{
    if (m_allowedFileTypes == extensions)
        return;
    m_allowedFileTypes = extensions;
    emit allowedFileTypesChanged(extensions);
}

QUrl SavePanel::withAcceptedExtension(const QUrl &url, const QStringList &extensions)
{
    if (url.isEmpty() || !url.isLocalFile() || extensions.isEmpty())
        return url;
    const QString path = url.toLocalFile();
    const QString suffix = QFileInfo(path).suffix();
    for (const QString &extension : extensions) {
        if (suffix.compare(extension, Qt::CaseInsensitive) == 0)
            return url;
    }
    return QUrl::fromLocalFile(path + QLatin1Char('.') + extensions.constFirst());
}

QUrl SavePanel::settledURL(const QUrl &chosen)
{
    if (chosen.isEmpty() || !chosen.isLocalFile() || m_allowedFileTypes.isEmpty())
        return chosen;
    const QString path = chosen.toLocalFile();
    const QFileInfo info(path);
    auto accepted = [this](const QString &suffix) { return m_allowedFileTypes.contains(suffix, Qt::CaseInsensitive); };
    if (info.suffix().isEmpty() || accepted(info.suffix()))
        return withAcceptedExtension(chosen, m_allowedFileTypes);
    if (m_unacceptedExtension) {
        m_unacceptedExtension(info.suffix());
        if (accepted(info.suffix()))
            return chosen;
    }
    return QUrl::fromLocalFile(
        QDir(info.path()).filePath(fileNameWithExtension(info.fileName(), m_allowedFileTypes.constFirst())));
}

QUrl SavePanel::runModal(QWidget *parent)
{
    SavePanelRequest request;
    request.title = m_title;
    request.directory = m_directory;
    request.nameFieldValue = m_nameFieldStringValue;
    request.allowedExtensions = m_allowedFileTypes;
    request.accessoryView = m_accessoryView.data();
    request.parent = parent;
    request.panel = this;
    request.followAllowedExtensions = [this](QObject *receiver, std::function<void(const QStringList &)> changed) {
        connect(this, &SavePanel::allowedFileTypesChanged, receiver, std::move(changed));
    };
    request.settlePath = [this](const QString &path) { return settledURL(QUrl::fromLocalFile(path)).toLocalFile(); };
    m_running = true;
    const QUrl chosen = runSavePanel(request);
    m_running = false;
    if (m_accessoryView)
        m_accessoryView->setParent(nullptr);
    // The accessory may have changed the accepted extensions meanwhile.
    return settledURL(chosen);
}

} // namespace platform
