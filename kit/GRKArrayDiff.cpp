#include "kit/GRKArrayDiff.h"

#include "kit/VLArrayListModel.h"
#include "platform/Log.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

GRKArrayDiff::GRKArrayDiff(const QVariantList &previousArray, const QVariantList &currentArray,
                           const IdentityBlock &identityBlock, const ModifiedBlock &modifiedBlock)
    : m_previous(previousArray)
    , m_current(currentArray)
{
    QHash<QString, qint64> previousIndex;
    QHash<QString, qint64> currentIndex;
    QStringList &previousSet = m_previousIdentities;
    bool repeatedPrevious = false;
    bool repeatedCurrent = false;
    populateIdentityIndex(previousIndex, previousSet, previousArray, identityBlock, &repeatedPrevious);
    populateIdentityIndex(currentIndex, m_currentIdentities, currentArray, identityBlock,
                          &repeatedCurrent);
    m_repeatedIdentities = repeatedPrevious || repeatedCurrent;

    const QSet<QString> inPrevious(previousSet.cbegin(), previousSet.cend());
    const QSet<QString> inCurrent(m_currentIdentities.cbegin(), m_currentIdentities.cend());
    QHash<QString, qint64> offsets;

    for (const QString &identity : std::as_const(previousSet)) {
        if (inCurrent.contains(identity))
            continue;
        const qint64 p = previousIndex.value(identity);
        m_deletions.insert(GRKArrayDiffInfo(identity, p, std::nullopt));
        increment(false, offsets, previousSet, p + 1);
    }
    for (const QString &identity : std::as_const(m_currentIdentities)) {
        if (inPrevious.contains(identity))
            continue;
        const qint64 c = currentIndex.value(identity);
        m_insertions.insert(GRKArrayDiffInfo(identity, std::nullopt, c));
        increment(true, offsets, m_currentIdentities, c + 1);
    }
    for (const QString &identity : std::as_const(m_currentIdentities)) {
        if (!inPrevious.contains(identity))
            continue;
        const qint64 p = previousIndex.value(identity);
        const qint64 c = currentIndex.value(identity);
        if (offsets.value(identity, 0) != c - p)
            m_moves.insert(GRKArrayDiffInfo(identity, p, c));
        if (modifiedBlock && modifiedBlock(previousArray.at(p), currentArray.at(c)))
            m_modifications.insert(GRKArrayDiffInfo(identity, p, c));
    }
}

QString GRKArrayDiff::identityOf(const QVariant &item, const IdentityBlock &identityBlock)
{
    if (identityBlock) {
        const QString identity = identityBlock(item);
        if (!identity.isNull())
            return identity;
    }
    if (item.typeId() == QMetaType::QString)
        return QStringLiteral("s:") + item.toString();
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << item;
    return QStringLiteral("v:") + QString::fromLatin1(bytes.toHex());
}

void GRKArrayDiff::populateIdentityIndex(QHash<QString, qint64> &index, QStringList &identitySet,
                                         const QVariantList &array,
                                         const IdentityBlock &identityBlock, bool *repeated)
{
    QSet<QString> seen;
    for (qint64 i = 0; i < array.size(); ++i) {
        const QString identity = identityOf(array.at(i), identityBlock);
        index.insert(identity, i); // a repeated identity keeps its later index
        if (seen.contains(identity)) {
            if (repeated)
                *repeated = true;
            continue; // ...and its earlier place in the ordered set
        }
        seen.insert(identity);
        identitySet.append(identity);
    }
}

void GRKArrayDiff::increment(bool up, QHash<QString, qint64> &offsets, const QStringList &orderedSet,
                             qint64 fromIndex)
{
    for (qint64 i = std::max<qint64>(fromIndex, 0); i < orderedSet.size(); ++i)
        offsets[orderedSet.at(i)] += up ? 1 : -1;
}

const QSet<GRKArrayDiffInfo> *GRKArrayDiff::diffInfoSetForType(int diffType) const
{
    switch (diffType) {
    case Deletions:
        return &m_deletions;
    case Insertions:
        return &m_insertions;
    case Moves:
        return &m_moves;
    case Modifications:
        return &m_modifications;
    default:
        platform::logLine(
            QStringLiteral("[ERROR] GRKArrayDiff: Unhandled case (%1) for `diffInfoSetForType:`")
                .arg(diffType));
        return nullptr;
    }
}

QList<GRKIndexPath> GRKArrayDiff::indexPathsForDiffTypeWithSection(int diffType, qint64 section) const
{
    QList<GRKIndexPath> paths;
    const QSet<GRKArrayDiffInfo> *set = diffInfoSetForType(diffType);
    if (!set)
        return paths;
    const int indexType = diffType == Deletions ? GRKArrayDiffInfo::Previous : GRKArrayDiffInfo::Current;
    for (const GRKArrayDiffInfo &info : *set) {
        if (auto path = info.indexPathForIndexTypeWithSection(indexType, section))
            paths.append(*path);
    }
    return paths;
}

void GRKArrayDiff::updateCollectionView(VLArrayListModel &model, qint64 section,
                                        const std::function<void()> &completion) const
{
    Q_UNUSED(section); // a list model has one section: rows are the items
    const auto finish = [&] {
        if (completion)
            completion();
    };
    if (m_repeatedIdentities || model.items() != m_previous) {
        model.setItems(m_current);
        finish();
        return;
    }

    QList<qint64> deleted;
    for (const GRKArrayDiffInfo &info : m_deletions)
        deleted.append(info.previousIndex().value_or(-1));
    std::sort(deleted.begin(), deleted.end(), std::greater<>());
    QList<qint64> inserted;
    for (const GRKArrayDiffInfo &info : m_insertions)
        inserted.append(info.currentIndex().value_or(-1));
    std::sort(inserted.begin(), inserted.end());

    // The identities of the model's rows, kept in step with every change.
    // Without repeats, the ordered identity sets list every row.
    QStringList rows = m_previousIdentities;
    const QStringList &target = m_currentIdentities;

    bool ok = true;
    for (qint64 row : std::as_const(deleted)) {
        ok = ok && model.removeItem(int(row));
        if (ok)
            rows.removeAt(row);
    }
    for (qint64 row : std::as_const(inserted)) {
        ok = ok && row >= 0 && row < m_current.size() && model.insertItem(int(row), m_current.at(row));
        if (ok)
            rows.insert(row, target.at(row));
    }
    // Moves: put each row where the current array has it.
    for (int i = 0; ok && i < target.size() && i < rows.size(); ++i) {
        const int at = int(rows.indexOf(target.at(i), i));
        if (at < 0) {
            ok = false;
        } else if (at != i) {
            ok = model.moveItem(at, i);
            rows.move(at, i);
        }
    }
    // Modifications are reloaded at their current index; rows whose value
    // changed without being reported are refreshed too.
    QSet<qint64> modified;
    for (const GRKArrayDiffInfo &info : m_modifications)
        modified.insert(info.currentIndex().value_or(-1));
    for (int i = 0; ok && i < model.items().size() && i < m_current.size(); ++i) {
        if (modified.contains(i) || model.items().at(i) != m_current.at(i))
            ok = model.replaceItem(i, m_current.at(i));
    }
    if (!ok || model.items() != m_current) {
        platform::logLine(QStringLiteral("Warning: array diff did not reproduce the new list; reloading"));
        model.setItems(m_current);
    }
    finish();
}
