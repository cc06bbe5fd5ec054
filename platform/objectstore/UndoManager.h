#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace platform {

// Undo and redo of closures, grouped: by default every registration made
// during one pass of the event loop lands in one group. An action registered
// while undoing goes to the redo stack and the other way round.
class UndoManager : public QObject
{
    Q_OBJECT
public:
    explicit UndoManager(QObject *parent = nullptr);
    ~UndoManager() override;

    void registerUndo(std::function<void()> action);
    void setActionName(const QString &name);

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return m_level; }
    void setGroupsByEvent(bool on) { m_groupsByEvent = on; }
    bool groupsByEvent() const { return m_groupsByEvent; }

    bool canUndo() const;
    bool canRedo() const;
    QString undoActionName() const;
    QString redoActionName() const;
    void undo();
    void redo();
    bool isUndoing() const { return m_undoing; }
    bool isRedoing() const { return m_redoing; }

    void disableUndoRegistration() { ++m_disabled; }
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return m_disabled == 0; }

    void removeAllActions();

signals:
    void didUndo();
    void didRedo();
    // Any change to what can be undone or redone (menus refresh on it).
    void checkpoint();

private:
    struct Group {
        QString actionName;
        std::vector<std::function<void()>> actions;
    };
    void closeAutomaticGroup();
    void runGroup(Group group, bool undoing);
    std::vector<Group> &targetStack();

    std::vector<Group> m_undoStack;
    std::vector<Group> m_redoStack;
    Group m_open;
    int m_level = 0;
    int m_disabled = 0;
    bool m_groupsByEvent = true;
    bool m_autoGroupOpen = false;
    bool m_undoing = false;
    bool m_redoing = false;
};

} // namespace platform
