#pragma once

#include "app/HXPrefsWindowController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

// The application's preferences: the "Export" pane (format, quality, size
// rule and file-name rule of saved pictures) and the "Updates" pane. Every
// control writes its default as it changes and reads it when the window opens.
class KTPreferencesController : public HXPrefsWindowController
{
    Q_OBJECT
public:
    explicit KTPreferencesController(QObject *parent = nullptr);
    ~KTPreferencesController() override;

    // One window for the process, made on first use.
    static KTPreferencesController *sharedPrefsWindowController();

    QWidget *exportPreferenceView();
    QWidget *updatesPreferenceView();
    void closePreferences();

protected:
    void setupToolbar() override;

private:
    void buildPanes();
    // Puts every default into its control.
    void readDefaults();
    void enableChosenFields();

    QPointer<QWidget> m_exportPreferenceView;
    QPointer<QWidget> m_updatesPreferenceView;
    QPointer<QComboBox> m_exFileFormat;
    QPointer<QSpinBox> m_exQuality;
    QPointer<QSpinBox> m_exWidth, m_exHeight, m_exWidth2, m_exHeight2;
    QPointer<QLineEdit> m_exPrependText, m_exAppendText;
    QButtonGroup *m_exSizeMatrix = nullptr;
    QButtonGroup *m_exFileNameMatrix = nullptr;
    QPointer<QCheckBox> m_libraryCheckAtStartup;
};
