#include "design/ui/KTSavePanelTemplateAccessoryViewController.h"

#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QWidget>

KTSavePanelTemplateAccessoryViewController::KTSavePanelTemplateAccessoryViewController(QObject *parent)
    : platform::ViewController(QString::fromLatin1(kNibName), parent)
{
}

QWidget *KTSavePanelTemplateAccessoryViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(QString::fromLatin1(kNibName));
    auto *layout = new QHBoxLayout(view);
    m_includeImage = new QCheckBox(tr("Include the photo in the template"), view);
    const QString key = QString::fromLatin1(kIncludeImageInTemplateKey);
    m_includeImage->setChecked(platform::UserDefaults::standard().boolForKey(key));
    connect(m_includeImage, &QCheckBox::toggled, this,
            [key](bool on) { platform::UserDefaults::standard().setBool(key, on); });
    layout->addWidget(m_includeImage);
    return view;
}
