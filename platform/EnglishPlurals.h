#pragma once

#include <QString>
#include <QTranslator>

namespace platform {

// Counted texts are written once, in Qt's plural form:
// tr("%n set(s)", nullptr, count). With no translation loaded Qt would show
// "1 set(s)"; this translator, installed in every program, gives the English
// forms: "1 set", "0 sets", "2 sets" ("(es)" works the same way).
class EnglishPlurals : public QTranslator
{
    Q_OBJECT
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }

    // The English form of a counted text for `n` ("%n" is left for Qt).
    static QString form(const QString &text, int n);
    // Installs one translator into the running application, once.
    static void install();
};

} // namespace platform
