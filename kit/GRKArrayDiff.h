#pragma once

#include "kit/GRKArrayDiffInfo.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <QVariantList>

#include <functional>

class VLArrayListModel;

// The deletions, insertions, moves and modifications that turn one snapshot
// of a list into the next, items matched by an identity string.
class GRKArrayDiff
{
public:
    enum DiffType { Deletions = 0, Insertions = 1, Moves = 2, Modifications = 3 };

    // Answers an item's identity; an empty (null) answer means "use the default".
    using IdentityBlock = std::function<QString(const QVariant &item)>;
    // Answers whether the previous and the current item of one identity differ.
    using ModifiedBlock = std::function<bool(const QVariant &previous, const QVariant &current)>;

    GRKArrayDiff(const QVariantList &previousArray, const QVariantList &currentArray,
                 const IdentityBlock &identityBlock = {}, const ModifiedBlock &modifiedBlock = {});

    const QSet<GRKArrayDiffInfo> &deletions() const { return m_deletions; }
    const QSet<GRKArrayDiffInfo> &insertions() const { return m_insertions; }
    const QSet<GRKArrayDiffInfo> &moves() const { return m_moves; }
    const QSet<GRKArrayDiffInfo> &modifications() const { return m_modifications; }
    void setDeletions(const QSet<GRKArrayDiffInfo> &set) { m_deletions = set; }
    void setInsertions(const QSet<GRKArrayDiffInfo> &set) { m_insertions = set; }
    void setMoves(const QSet<GRKArrayDiffInfo> &set) { m_moves = set; }
    void setModifications(const QSet<GRKArrayDiffInfo> &set) { m_modifications = set; }

    // The set of a diff type; null (and a log line) for an unknown type.
    const QSet<GRKArrayDiffInfo> *diffInfoSetForType(int diffType) const;
    // Index paths of one set (deletions by previous index, the rest by
    // current index); empty when the set is missing or empty.
    QList<GRKIndexPath> indexPathsForDiffTypeWithSection(int diffType, qint64 section) const;

    // True when an identity occurs twice in either array: the entries then
    // cannot describe the change and an update reloads everything.
    bool hasRepeatedIdentities() const { return m_repeatedIdentities; }

    // Brings a model that shows the previous array to the current one: rows
    // deleted, inserted and moved, then modified rows reloaded, then the
    // completion. Falls back to a full reload when the model does not hold
    // the previous array, identities repeat, or the result would not match.
    void updateCollectionView(VLArrayListModel &model, qint64 section,
                              const std::function<void()> &completion = {}) const;

    // The identity of an item: the block's answer, else a text made from the
    // item's value (so equal values match and different values never do).
    static QString identityOf(const QVariant &item, const IdentityBlock &identityBlock);

    // Internal steps of the computation, kept visible for their own tests.
    static void populateIdentityIndex(QHash<QString, qint64> &index, QStringList &identitySet,
                                      const QVariantList &array, const IdentityBlock &identityBlock,
                                      bool *repeated = nullptr);
    static void increment(bool up, QHash<QString, qint64> &offsets, const QStringList &orderedSet,
                          qint64 fromIndex);

private:
    QSet<GRKArrayDiffInfo> m_deletions;
    QSet<GRKArrayDiffInfo> m_insertions;
    QSet<GRKArrayDiffInfo> m_moves;
    QSet<GRKArrayDiffInfo> m_modifications;
    QVariantList m_previous;
    QVariantList m_current;
    QStringList m_previousIdentities;
    QStringList m_currentIdentities;
    bool m_repeatedIdentities = false;
};
