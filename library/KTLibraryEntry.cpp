#include "library/KTLibraryEntry.h"

#include "library/KTButtonFrame.h"
#include "stores/Frame.h"
#include "stores/FrameCollection.h"
#include "stores/FrameSet.h"

KTLibraryEntry::KTLibraryEntry(LibraryItem *item)
    : m_item(item)
{
}

KTLibraryEntry::KTLibraryEntry(std::shared_ptr<KTButtonFrame> button)
    : m_button(std::move(button))
{
}

Frame *KTLibraryEntry::frame() const
{
    return dynamic_cast<Frame *>(m_item);
}

FrameSet *KTLibraryEntry::frameSet() const
{
    return dynamic_cast<FrameSet *>(m_item);
}

FrameCollection *KTLibraryEntry::collection() const
{
    return dynamic_cast<FrameCollection *>(m_item);
}

QString KTLibraryEntry::name() const
{
    if (m_button)
        return m_button->name();
    return m_item ? m_item->name() : QString();
}

QString KTLibraryEntry::iconKey() const
{
    if (m_button)
        return QStringLiteral("tile:") + m_button->iconImageName();
    if (!m_item)
        return QString();
    const char *kind = frame() ? "frame:" : frameSet() ? "set:" : "collection:";
    return QString::fromLatin1(kind) + m_item->guid() + QLatin1Char(':') + QString::number(quintptr(m_item), 16);
}
