#include "app/DarkAppearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace DarkAppearance {

namespace {
bool g_applied = false;
}

void apply()
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app)
        return;
    // Fusion follows the palette everywhere; native styles may not.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QPalette p;
    const QColor window(50, 50, 52);
    const QColor base(36, 36, 38);
    const QColor text(222, 222, 222);
    const QColor disabled(120, 120, 120);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    p.setColor(QPalette::ToolTipBase, QColor(60, 60, 62));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(62, 62, 64));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Link, QColor(90, 160, 240));
    p.setColor(QPalette::Highlight, QColor(38, 110, 210));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Light, QColor(80, 80, 82));
    p.setColor(QPalette::Midlight, QColor(70, 70, 72));
    p.setColor(QPalette::Mid, QColor(44, 44, 46));
    p.setColor(QPalette::Dark, QColor(30, 30, 32));
    p.setColor(QPalette::Shadow, QColor(10, 10, 10));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    QApplication::setPalette(p);
    g_applied = true;
}

bool isApplied()
{
    return g_applied;
}

} // namespace DarkAppearance
