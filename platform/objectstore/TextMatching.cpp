#include "platform/objectstore/TextMatching.h"

namespace platform::TextMatching {

QString fold(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const auto category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
            continue;
        out.append(c);
    }
    // toCaseFolded handles the letters whose lower case is not their fold
    // (final sigma, sharp s stays single-char but compares with itself).
    return out.toCaseFolded();
}

bool containsCD(const QString &text, const QString &part)
{
    return fold(text).contains(fold(part));
}

bool beginsWithCD(const QString &text, const QString &prefix)
{
    return fold(text).startsWith(fold(prefix));
}

bool equalsCD(const QString &a, const QString &b)
{
    return fold(a) == fold(b);
}

} // namespace platform::TextMatching
