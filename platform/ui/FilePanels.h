#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QObject;
class QWidget;

namespace platform {

class SavePanel;

// Open and save panels. Windows use QFileDialog; tests install presenters
// that answer with chosen files, so every flow runs headless.
struct OpenPanelRequest {
    QString title;
    QStringList allowedTypes; // type identifiers; empty allows every file
    bool allowsMultipleSelection = false;
    QString directory;
    QWidget *parent = nullptr; // the window the panel belongs to, if any
    // Named choices ("Images (*.jpg *.png)"), first shown first; replace the
    // one filter made from the types when given.
    QStringList nameFilters;
    // A folder instead of files.
    bool choosesDirectories = false;
    // The allowed types are folders read as one document (packages): the
    // panel chooses folders.
    bool choosesPackages = false;
};

struct SavePanelRequest {
    QString title;
    QString directory;
    QString nameFieldValue;
    QStringList allowedTypes;
    // What the types are called in the panel's file type list ("Frame archives").
    QString typesName;
    QWidget *accessoryView = nullptr; // shown inside the panel when given
    QWidget *parent = nullptr;
    // Extensions without the dot; when given they filter instead of the types.
    QStringList allowedExtensions;
    // The panel object behind the request, when there is one: its accepted
    // extensions may change while it shows.
    SavePanel *panel = nullptr;
    // Calls back on the receiver's thread whenever the panel's accepted
    // extensions change, while the receiver lives; null when they can't.
    std::function<void(QObject *receiver, std::function<void(const QStringList &)> changed)> followAllowedExtensions;
    // The confirming button's text when not "Save".
    QString prompt;
    // The path the panel settles on for a chosen one; when it differs, the
    // dialog shows it and stays open for the user to confirm.
    std::function<QString(const QString &path)> settlePath;
};

// Answers the chosen files; empty when cancelled.
using OpenPanelPresenter = std::function<QList<QUrl>(const OpenPanelRequest &)>;
// Answers the chosen file; empty when cancelled.
using SavePanelPresenter = std::function<QUrl(const SavePanelRequest &)>;

void setOpenPanelPresenter(OpenPanelPresenter presenter); // null restores the dialog
void setSavePanelPresenter(SavePanelPresenter presenter);
QList<QUrl> runOpenPanel(const OpenPanelRequest &request);
QUrl runSavePanel(const SavePanelRequest &request);

// The file name with `extension`: a known type's extension is replaced,
// anything else after a dot is kept as part of the name.
QString fileNameWithExtension(const QString &fileName, const QString &extension);
// "JPEG image (*.jpg *.jpeg)": the name filter of a list of extensions.
QString extensionsNameFilter(const QStringList &extensions);
// The name filter QFileDialog wants for a list of type identifiers.
QString fileDialogFilter(const QStringList &types);
// The patterns of a name filter: "Images (*.jpg *.png)" gives *.jpg and *.png.
QStringList patternsOfNameFilter(const QString &filter);

} // namespace platform
