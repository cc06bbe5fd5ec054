#pragma once

#include <QString>

// The owner of an icon toolbar, told which icon was chosen.
class KTToolbarViewControllerProtocol
{
public:
    virtual ~KTToolbarViewControllerProtocol() = default;
    virtual void toolbarIconClickedNamed(quint64 index, const QString &name) = 0;
};
