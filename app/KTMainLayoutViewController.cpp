#include "app/KTMainLayoutViewController.h"

#include "app/KTDesignPreviewView.h"

#include <QVBoxLayout>

KTMainLayoutViewController::KTMainLayoutViewController(const QString &nibName,
                                                       platform::WindowController *windowController, QObject *parent)
    : XSViewController(nibName, windowController, parent)
{
}

KTMainLayoutViewController::~KTMainLayoutViewController() = default;

QWidget *KTMainLayoutViewController::loadView()
{
    auto *view = new QWidget;
    view->setObjectName(nibName());
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    m_designView = new KTDesignPreviewView(view);
    layout->addWidget(m_designView);
    return view;
}

void KTMainLayoutViewController::setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate)
{
    m_docTemplate = docTemplate;
    view();
    m_designView->setDocTemplate(docTemplate);
}

void KTMainLayoutViewController::stage2Setup()
{
    view();
    m_designView->update();
}
