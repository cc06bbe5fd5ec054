#pragma once

#include <QVariantMap>
#include <QWidget>

// One row of the design report: a layer's icon, its name and its
// measurements at the picture's real size, one line each. Made in code only.
// Units are points; the page is printed at 72 dpi.
class KTReportItemView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWidth = 400;
    static constexpr int kMinimumHeight = 92;
    static constexpr int kLineHeight = 16;
    static constexpr int kTextX = 90;
    static constexpr int kIconX = 10;

    // A row of height max(92, 16 x keys + 4) for the entry.
    explicit KTReportItemView(const QVariantMap &report, QWidget *parent = nullptr);

    QVariantMap report() const { return m_report; }
    void setReport(const QVariantMap &report);

    // The text lines the row writes, in order (the title first).
    QStringList lines() const;
    // At most two fraction digits, at least one integer digit.
    static QString formatNumber(double value);
    // The height a row takes for an entry.
    static int heightForReport(const QVariantMap &report);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantMap m_report;
};
