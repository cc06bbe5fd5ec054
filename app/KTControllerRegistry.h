#pragma once

#include "kit/ui/XSViewController.h"

#include <QString>

#include <functional>

// Makes the document window's controllers that live above the shell (the
// canvas, the browsers, the overlay controls, the layer settings panels) by
// class name: the program registers their makers at start-up, so the shell
// never links the editor or the library. A class nobody registered is made
// as a plain controller with an empty view, so the window keeps its shape.
class KTControllerRegistry
{
public:
    using Maker = std::function<XSViewController *(const QString &nibName, platform::WindowController *windowController,
                                                   QObject *parent)>;

    static void registerClass(const QString &className, Maker maker);
    static void unregisterClass(const QString &className);
    static bool isRegistered(const QString &className);

    // Null when the class was not registered.
    static XSViewController *make(const QString &className, const QString &nibName,
                                  platform::WindowController *windowController, QObject *parent = nullptr);
    // As make, else a plain controller; its objectName is the class name.
    static XSViewController *makeOrPlaceholder(const QString &className, const QString &nibName,
                                               platform::WindowController *windowController, QObject *parent = nullptr);
};
