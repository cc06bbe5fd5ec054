#pragma once

#include "platform/ui/WindowController.h"

#include <QAbstractAnimation>
#include <QHash>
#include <QPointer>
#include <QAction>
#include <QStringList>
#include <QToolBar>

class QAction;
class QToolBar;

// A preferences window with one pane per toolbar item: choosing an item shows
// its pane, fits the window to it with the top edge kept in place and titles
// the window after it. Subclasses add their panes in setupToolbar.
class HXPrefsWindowController : public platform::WindowController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "Preferences";
    static constexpr const char *kFrameAutosaveName = "PreferencesFrame";
    static constexpr const char *kToolbarIdentifier = "HXPreferencesToolbar";
    static constexpr const char *kNilView = "Attempted to add a nil view when calling -addView:label:image:.";
    static constexpr const char *kNoItems = "No items were added to the toolbar in -setupToolbar.";

    explicit HXPrefsWindowController(QObject *parent = nullptr);
    ~HXPrefsWindowController() override;

    // Rebuilds the panes, opens the first one and brings the window forward.
    void showWindow() override;

    void addView(QWidget *view, const QString &label);
    void addView(QWidget *view, const QString &label, const QString &imageName);
    QStringList toolbarIdentifiers() const { return m_toolbarIdentifiers; }
    QToolBar *toolbar() const { return m_toolbar; }
    // The pane shown now.
    QWidget *currentView() const { return m_currentView; }
    // A choice of the user's (animate) fades from the old pane to the new.
    void displayViewForIdentifier(const QString &identifier, bool animate = false);

    static constexpr int kCrossFadeMilliseconds = 250;
    static constexpr int kSlowCrossFadeMilliseconds = 1250;
    bool crossFade() const { return m_crossFade; }
    void setCrossFade(bool crossFade) { m_crossFade = crossFade; }
    bool shiftSlowsAnimation() const { return m_shiftSlowsAnimation; }
    void setShiftSlowsAnimation(bool slows) { m_shiftSlowsAnimation = slows; }
    // The fade under way, if any.
    QAbstractAnimation *viewAnimation() const { return m_viewAnimation; }

protected:
    virtual void setupToolbar() {}
    QWidget *loadWindow() override;
    void windowWillClose() override;

private:
    QStringList m_toolbarIdentifiers;
    QHash<QString, QPointer<QWidget>> m_toolbarViews;
    QHash<QString, QPointer<QAction>> m_toolbarItems;
    QPointer<QToolBar> m_toolbar;
    QPointer<QWidget> m_contentSubview;
    QPointer<QWidget> m_currentView;
    bool m_crossFade = true;
    bool m_shiftSlowsAnimation = true;
    QPointer<QAbstractAnimation> m_viewAnimation;
    // The pane fading out, above the new one until the fade ends.
    QPointer<QWidget> m_fadingView;

    void crossFadeView(QWidget *oldView, QWidget *newView);
    void endCrossFade();
};
