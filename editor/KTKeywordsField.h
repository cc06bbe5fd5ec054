#pragma once

#include <QFrame>
#include <QLineEdit>
#include <QPointer>
#include <QStringList>
#include <QToolButton>

// Keywords as chips, with a line at the end to type more: a comma, Return or
// leaving the field turns the typed text into a chip; a chip's cross takes
// it away. Read-only, it only shows its chips.
class KTKeywordsField : public QFrame
{
    Q_OBJECT
public:
    explicit KTKeywordsField(QWidget *parent = nullptr);

    QStringList keywords() const { return m_keywords; }
    void setKeywords(const QStringList &keywords);
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);
    QLineEdit *editor() const { return m_editor; }
    QList<QToolButton *> chips() const { return m_chips; }
    // Turns text into a chip (duplicates and blanks are left out), as typing it and a comma would.
    void commit(const QString &text);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

signals:
    // The user changed the keywords.
    void editingFinished();
    void chipMenuRequested(const QString &keyword, const QPoint &globalPosition);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuildChips();
    int layOut(int width, bool apply);

    QStringList m_keywords;
    QList<QToolButton *> m_chips;
    QPointer<QLineEdit> m_editor;
    bool m_readOnly = false;
};
