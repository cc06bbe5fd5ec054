#include "platform/objectstore/UndoManager.h"

#include <QMetaObject>

namespace platform {

UndoManager::UndoManager(QObject *parent)
    : QObject(parent)
{
}

UndoManager::~UndoManager() = default;

std::vector<UndoManager::Group> &UndoManager::targetStack()
{
    return m_undoing ? m_redoStack : m_undoStack;
}

void UndoManager::registerUndo(std::function<void()> action)
{
    if (!action || m_disabled > 0)
        return;
    if (m_undoing || m_redoing) {
        // Collected into the group being built by undo()/redo().
        m_open.actions.push_back(std::move(action));
        return;
    }
    if (m_level == 0) {
        if (!m_groupsByEvent)
            return; // nothing open and no automatic grouping: dropped, as asked
        beginUndoGrouping();
        m_autoGroupOpen = true;
        QMetaObject::invokeMethod(this, [this] { closeAutomaticGroup(); }, Qt::QueuedConnection);
    }
    m_open.actions.push_back(std::move(action));
    // A fresh change makes the redo history meaningless.
    m_redoStack.clear();
}

void UndoManager::closeAutomaticGroup()
{
    if (!m_autoGroupOpen)
        return;
    m_autoGroupOpen = false;
    if (m_level > 0) {
        m_level = 1;
        endUndoGrouping();
    }
}

void UndoManager::setActionName(const QString &name)
{
    if (m_undoing || m_redoing)
        return;
    if (m_level > 0)
        m_open.actionName = name;
    else if (!m_undoStack.empty())
        m_undoStack.back().actionName = name;
    emit checkpoint();
}

void UndoManager::beginUndoGrouping()
{
    ++m_level;
}

void UndoManager::endUndoGrouping()
{
    if (m_level == 0)
        return;
    if (--m_level > 0)
        return;
    if (!m_open.actions.empty())
        m_undoStack.push_back(std::move(m_open));
    m_open = Group();
    emit checkpoint();
}

bool UndoManager::canUndo() const
{
    return !m_undoStack.empty() || !m_open.actions.empty();
}

bool UndoManager::canRedo() const
{
    return !m_redoStack.empty();
}

QString UndoManager::undoActionName() const
{
    if (m_level > 0 && !m_open.actions.empty())
        return m_open.actionName;
    return m_undoStack.empty() ? QString() : m_undoStack.back().actionName;
}

QString UndoManager::redoActionName() const
{
    return m_redoStack.empty() ? QString() : m_redoStack.back().actionName;
}

void UndoManager::runGroup(Group group, bool undoing)
{
    Group saved = std::move(m_open);
    const int savedLevel = m_level;
    const bool savedAuto = m_autoGroupOpen;
    m_open = Group();
    m_open.actionName = group.actionName;
    m_level = 0;
    (undoing ? m_undoing : m_redoing) = true;
    for (auto it = group.actions.rbegin(); it != group.actions.rend(); ++it)
        (*it)();
    (undoing ? m_undoing : m_redoing) = false;
    Group inverse = std::move(m_open);
    if (!inverse.actions.empty())
        (undoing ? m_redoStack : m_undoStack).push_back(std::move(inverse));
    m_open = std::move(saved);
    m_level = savedLevel;
    m_autoGroupOpen = savedAuto;
}

void UndoManager::undo()
{
    if (m_undoing || m_redoing)
        return;
    // An open automatic group is closed first, so the latest edit is undone.
    if (m_level > 0) {
        m_level = 1;
        m_autoGroupOpen = false;
        endUndoGrouping();
    }
    if (m_undoStack.empty())
        return;
    Group group = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    runGroup(std::move(group), true);
    emit didUndo();
    emit checkpoint();
}

void UndoManager::redo()
{
    if (m_undoing || m_redoing || m_redoStack.empty())
        return;
    Group group = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    // Keep the redo stack across the redo: registrations go to the undo stack
    // without clearing it.
    runGroup(std::move(group), false);
    emit didRedo();
    emit checkpoint();
}

void UndoManager::enableUndoRegistration()
{
    if (m_disabled > 0)
        --m_disabled;
}

void UndoManager::removeAllActions()
{
    m_undoStack.clear();
    m_redoStack.clear();
    m_open = Group();
    m_level = 0;
    m_autoGroupOpen = false;
    emit checkpoint();
}

} // namespace platform
