#pragma once

#include <QHash>
#include <QString>

#include <optional>

// A position in a sectioned list: (section, item).
struct GRKIndexPath {
    qint64 section = 0;
    qint64 item = 0;
    bool operator==(const GRKIndexPath &) const = default;
};

// One entry of an array diff: an identity with its index before and after.
class GRKArrayDiffInfo
{
public:
    enum IndexType { Previous = 0, Current = 1 };

    GRKArrayDiffInfo(QString identity, std::optional<qint64> previousIndex,
                     std::optional<qint64> currentIndex);

    const QString &identity() const { return m_identity; }
    std::optional<qint64> previousIndex() const { return m_previousIndex; }
    std::optional<qint64> currentIndex() const { return m_currentIndex; }

    // previousIndex for 0, currentIndex for 1; any other type logs and answers none.
    std::optional<qint64> valueForIndexType(int indexType) const;
    std::optional<GRKIndexPath> indexPathForIndexTypeWithSection(int indexType, qint64 section) const;

    // Mixes the three values' hashes (nil or zero counts as 31), each rotated
    // further; used for hashing only, never for equality.
    quint64 hash() const;

    // Entries are equal when their three values are equal; equal hashes alone
    // would let two different entries collapse into one in a set.
    bool isEqualToArrayDiffInfo(const GRKArrayDiffInfo &other) const;
    bool operator==(const GRKArrayDiffInfo &other) const { return isEqualToArrayDiffInfo(other); }

    QString description() const;

private:
    QString m_identity;
    std::optional<qint64> m_previousIndex;
    std::optional<qint64> m_currentIndex;
};

size_t qHash(const GRKArrayDiffInfo &info, size_t seed = 0);
