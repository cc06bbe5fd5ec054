#pragma once

#include <QtGlobal>

class KTNavigationBarView;

// Told when a click on the navigation bar makes another component active.
class KTNavigationBarViewProtocol
{
public:
    virtual ~KTNavigationBarViewProtocol() = default;
    virtual void selectedComponentInNavigationBarView(qint64 component, KTNavigationBarView *bar) = 0;
};
