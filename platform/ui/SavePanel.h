#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <QWidget>

#include <functional>

namespace platform {

// A save panel whose accepted extensions may change while it shows (the
// accessory's format pop-up narrows them). It runs through runSavePanel,
// so the presenters that tests install answer it too.
class SavePanel : public QObject
{
    Q_OBJECT
public:
    explicit SavePanel(QObject *parent = nullptr);
    ~SavePanel() override;

    // Extensions without the dot, e.g. {"jpg", "jpeg"}; empty accepts any.
    QStringList allowedFileTypes() const { return m_allowedFileTypes; }
    void setAllowedFileTypes(const QStringList &extensions);

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    QString nameFieldStringValue() const { return m_nameFieldStringValue; }
    void setNameFieldStringValue(const QString &name) { m_nameFieldStringValue = name; }
    QString directory() const { return m_directory; }
    void setDirectory(const QString &directory) { m_directory = directory; }
    bool isExtensionHidden() const { return m_extensionHidden; }
    void setExtensionHidden(bool hidden) { m_extensionHidden = hidden; }
    bool canSelectHiddenExtension() const { return m_canSelectHiddenExtension; }
    void setCanSelectHiddenExtension(bool can) { m_canSelectHiddenExtension = can; }
    QWidget *accessoryView() const { return m_accessoryView.data(); }
    void setAccessoryView(QWidget *view) { m_accessoryView = view; }

    // Asked for the extension of a chosen name that the panel does not
    // accept: the owner may switch to a format of that extension (the
    // accessory's format pop-up, which changes the accepted extensions).
    void setUnacceptedExtensionHandler(std::function<void(const QString &extension)> handler)
    {
        m_unacceptedExtension = std::move(handler);
    }

    // Shows the panel and answers the chosen file, or empty when cancelled.
    // A chosen name settles as settledURL says; the dialog shows a name it
    // changed before it is accepted. The accessory is handed back without
    // a parent.
    QUrl runModal(QWidget *parent = nullptr);
    bool isRunning() const { return m_running; }

    // The chosen name kept when its extension is accepted, or once the owner
    // switched to a format of it; else given the first accepted extension
    // in place of a known one.
    QUrl settledURL(const QUrl &chosen);

    // The extension the panel gives a name that has none of the accepted ones.
    static QUrl withAcceptedExtension(const QUrl &url, const QStringList &extensions);

signals:
    void allowedFileTypesChanged(const QStringList &extensions);

private:
    QStringList m_allowedFileTypes;
    QString m_title;
    QString m_nameFieldStringValue;
    QString m_directory;
    bool m_extensionHidden = false;
    bool m_canSelectHiddenExtension = true;
    bool m_running = false;
    QPointer<QWidget> m_accessoryView;
    std::function<void(const QString &)> m_unacceptedExtension;
};

} // namespace platform
