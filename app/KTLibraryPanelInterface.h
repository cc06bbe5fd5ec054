#pragma once

class Frame;
class LibraryItem;
class QMenu;

// What the shell asks of the library panel ("KTLibraryViewController").
class KTLibraryPanelInterface
{
public:
    static constexpr int kFavoritesState = 1;

    virtual ~KTLibraryPanelInterface() = default;
    // Steps the library's view (the panel was already open).
    virtual void toggleView() = 0;
    virtual void showAndSelectFrame(Frame *frame) = 0;
    // A collection among the collections, a set among its collection's sets,
    // a frame among its set's frames.
    virtual void showAndSelectItem(LibraryItem *item) = 0;
    // 0 all, 1 favourites, 2 recent.
    virtual int libraryState() const = 0;
    virtual void removeFromFavorites() = 0;
    // The commands for the last selected item; the panel owns the menu.
    virtual QMenu *libraryPopUpMenu() = 0;
};
