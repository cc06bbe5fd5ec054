#pragma once

#include <QKeySequence>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QWidget;
class XSDocumentWindowController;

// The menu bar of a document window: File, Edit, View, Window and Help, each
// command an action named "<command>Action"; other windows of ours get its
// File, Window and Help menus. Every window has a bar of its own; a command
// is enabled exactly when it can act, and commands of windows this build does
// not have are shown disabled.
class KTMainMenu : public QObject
{
    Q_OBJECT
public:
    static constexpr double kZoomStep = 0.1;
    static constexpr const char *kNotAvailableTip = "Not available in this version of Kantelo";

    // Every document window built from now on gets its menu bar.
    static void installForDocumentWindows();
    // Builds the window's bar, owned by the window.
    static KTMainMenu *install(XSDocumentWindowController *controller);
    // The bar of a window of ours that shows no document (the frame editor):
    // File with the application's commands, Close Window and Quit before the
    // menus the window has made itself (its own Edit), then Window and Help.
    static KTMainMenu *installForWindow(QMainWindow *window);
    // A menu of a feature above the shell, appended to the bar of every
    // document window, open now or built later; `fill` adds its commands.
    static void addMenuToEveryWindow(const QString &title, const QString &objectName,
                                     std::function<void(QMenu *)> fill);

    QMenuBar *menuBar() const { return m_menuBar; }
    QAction *action(const QString &name) const;
    // Brings every command's enabled state up to date (each menu does so as it opens).
    void validateCommands();

private:
    KTMainMenu(XSDocumentWindowController *controller, QMainWindow *window, bool documentWindow);
    QAction *add(QMenu *menu, const QString &title, const char *name, std::function<void()> run,
                 const QKeySequence &shortcut = {});
    void build();
    QMenu *buildFileMenu();
    // The recent documents that still exist, newest first, then Clear Menu.
    void fillOpenRecentMenu(QMenu *menu);
    QMenu *buildEditMenu();
    QMenu *buildViewMenu();
    QMenu *buildWindowMenu();
    // The open documents at the Window menu's end, the one of this window checked.
    void fillDocumentList(QMenu *menu);
    QMenu *buildHelpMenu();
    void appendMenu(const QString &title, const QString &objectName, const std::function<void(QMenu *)> &fill);

    QPointer<XSDocumentWindowController> m_controller;
    QPointer<QMainWindow> m_window;
    QPointer<QMenuBar> m_menuBar;
    // Where the focus was in the window before its menus took it: the part
    // whose Undo the Edit menu offers.
    QPointer<QWidget> m_commandFocus;
    // False for a window without a document: its Edit menu is its own.
    bool m_documentWindow = true;
};
