#pragma once

#include "kit/ui/XSViewController.h"

#include "app/KTDesignPreviewView.h"

#include <QPointer>

#include <memory>

class KTTemplate;

// The content of the document window. For now it shows the design in a
// preview view; the panels, toolbar and bottom bar come in around it.
class KTMainLayoutViewController : public XSViewController
{
    Q_OBJECT
public:
    KTMainLayoutViewController(const QString &nibName, platform::WindowController *windowController,
                               QObject *parent = nullptr);
    ~KTMainLayoutViewController() override;

    std::shared_ptr<KTTemplate> docTemplate() const { return m_docTemplate; }
    void setDocTemplate(const std::shared_ptr<KTTemplate> &docTemplate);
    // Runs once the design is known.
    void stage2Setup();

    KTDesignPreviewView *designView() const { return m_designView; }

protected:
    QWidget *loadView() override;

private:
    std::shared_ptr<KTTemplate> m_docTemplate;
    QPointer<KTDesignPreviewView> m_designView;
};
