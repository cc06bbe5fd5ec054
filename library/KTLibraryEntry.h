#pragma once

#include <QString>

#include <memory>

class Frame;
class FrameCollection;
class FrameSet;
class KTButtonFrame;
class LibraryItem;

// One item the library panel lists: a collection, a set or a frame of the
// library, or a command tile. Entries compare by what they stand for.
class KTLibraryEntry
{
public:
    KTLibraryEntry() = default;
    explicit KTLibraryEntry(LibraryItem *item);
    explicit KTLibraryEntry(std::shared_ptr<KTButtonFrame> button);

    LibraryItem *libraryItem() const { return m_item; }
    Frame *frame() const;
    FrameSet *frameSet() const;
    FrameCollection *collection() const;
    KTButtonFrame *button() const { return m_button.get(); }

    QString name() const;
    // What the icon cache knows the entry's picture by.
    QString iconKey() const;

    bool operator==(const KTLibraryEntry &other) const
    {
        return m_item == other.m_item && m_button == other.m_button;
    }

private:
    LibraryItem *m_item = nullptr;
    std::shared_ptr<KTButtonFrame> m_button;
};
