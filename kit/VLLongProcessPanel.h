#pragma once

#include <QString>

#include <functional>
#include <memory>

// The floating progress panel of a long process, as the process drives it.
// The widget lives in kit_ui; the process only knows this interface, so the
// runner itself stays headless.
class VLLongProcessPanel
{
public:
    virtual ~VLLongProcessPanel() = default;
    virtual void setLabelText(const QString &text) = 0;
    virtual void setProgressValue(qint64 value) = 0;
    // Hides the panel; it is destroyed right after.
    virtual void close() = 0;

    // What the panel is made with: its title, the widest label it will show
    // (sized to fit), and the progress maximum.
    struct Spec {
        QString title;
        QString widestLabel;
        qint64 maximum = 0;
    };
    using Factory = std::function<std::unique_ptr<VLLongProcessPanel>(const Spec &spec)>;
    // Installed once by the user interface; without one no panel is shown.
    static void setFactory(Factory factory);
    static const Factory &factory();
};
