#pragma once

#include "platform/ui/ViewController.h"

class QCheckBox;

// The part of the template save panel where the user says whether the photo
// goes into the package; the choice is the "IncludeImageInTemplate" setting.
class KTSavePanelTemplateAccessoryViewController : public platform::ViewController
{
    Q_OBJECT
public:
    static constexpr const char *kNibName = "KTSavePanelTemplateAccessoryViewController";
    static constexpr const char *kIncludeImageInTemplateKey = "IncludeImageInTemplate";

    explicit KTSavePanelTemplateAccessoryViewController(QObject *parent = nullptr);
    QCheckBox *includeImageCheckBox() const { return m_includeImage; }

protected:
    QWidget *loadView() override;

private:
    QCheckBox *m_includeImage = nullptr;
};
