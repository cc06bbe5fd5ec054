#pragma once

#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QWidget>

#include <functional>
#include <memory>

class KTTemplate;
class QLabel;

// The design report: a printable page that documents a design for framing it
// for real. A heading, a picture of the framed design, then one row per layer
// (photo first, then outwards) with its icon, name and measurements at the
// picture's real size. The page is 400 points wide and as tall as its
// content; one view unit is one point. Made in code only, laid out once.
class KTReportView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWidth = 400;
    static constexpr const char *kReportFileName = "Kantelo Report.pdf";
    static constexpr const char *kHeading = "Kantelo design report";

    // Lays out the page for the design's report at its real width.
    explicit KTReportView(std::shared_ptr<KTTemplate> design, QWidget *parent = nullptr);
    ~KTReportView() override;

    QVariantList report() const { return m_report; }
    void setReport(const QVariantList &report) { m_report = report; }
    std::shared_ptr<KTTemplate> designTemplate() const { return m_template; }
    void setTemplate(std::shared_ptr<KTTemplate> design) { m_template = std::move(design); }

    // Builds the page and sizes the view to it. Called once, by the constructor.
    void layoutViews();
    // (400, 220 + the sum over the entries of max(92, 16 n - 16)).
    QSizeF sizeForReport() const;

    QLabel *headingView() const { return m_heading; }
    QLabel *pictureView() const { return m_picture; }

    // Writes the page as a PDF file (one page, as tall as the content), in
    // points; false when the file cannot be written.
    bool writePDF(const QString &path);

    // The design's report as a PDF file "Kantelo Report.pdf" in a new folder
    // of the temporary folder, shown with the desktop's viewer. Answers the
    // file's path; empty (and no message) when the folder or file can't be made.
    static QString createDesignReport(const std::shared_ptr<KTTemplate> &design);
    // Who opens the finished report; the desktop's viewer unless replaced
    // (tests pass their own). A null opener restores the default.
    using Opener = std::function<void(const QUrl &)>;
    static void setReportOpener(Opener opener);

private:
    std::shared_ptr<KTTemplate> m_template;
    QVariantList m_report;
    QLabel *m_heading = nullptr;
    QLabel *m_picture = nullptr;
};
