#pragma once

// Additions to arrays (QList) and sets (QSet). Every operation works on a
// snapshot of the container, so a block that changes the original cannot
// upset the walk.

#include <QList>
#include <QSet>

#include <optional>
#include <type_traits>
#include <utility>

namespace NSMutableArrayVLExtras {
// Moves the element at `from` to index `to`, those between shifting one
// place towards the gap. Nothing happens when either index is out of range
// or they are equal.
template<typename T>
void moveIndexToIndex(QList<T> &list, qsizetype from, qsizetype to)
{
    const qsizetype count = list.size();
    if (from < 0 || to < 0 || from >= count || to >= count || from == to)
        return;
    if (from + 1 == to || to + 1 == from) {
        list.swapItemsAt(from, to);
        return;
    }
    T moved = std::move(list[from]);
    if (from < to) {
        for (qsizetype i = from; i < to; ++i)
            list[i] = std::move(list[i + 1]);
    } else {
        for (qsizetype i = from; i > to; --i)
            list[i] = std::move(list[i - 1]);
    }
    list[to] = std::move(moved);
}
} // namespace NSMutableArrayVLExtras

namespace NSArrayCollectionsAdditions {
// `do:` (a keyword in C++).
template<typename T, typename Block>
void doEach(const QList<T> &list, Block &&block)
{
    const QList<T> snapshot = list;
    for (const T &item : snapshot)
        block(item);
}

template<typename T, typename Block>
QList<T> select(const QList<T> &list, Block &&block)
{
    QList<T> result;
    const QList<T> snapshot = list;
    for (const T &item : snapshot) {
        if (block(item))
            result.append(item);
    }
    return result;
}

// One result per element, in order. (A closure always answers a value, so
// the two generations of map agree here.)
template<typename T, typename Block>
auto map(const QList<T> &list, Block &&block) -> QList<std::decay_t<decltype(block(std::declval<const T &>()))>>
{
    QList<std::decay_t<decltype(block(std::declval<const T &>()))>> result;
    result.reserve(list.size());
    const QList<T> snapshot = list;
    for (const T &item : snapshot)
        result.append(block(item));
    return result;
}

template<typename T, typename Block>
auto vl_map(const QList<T> &list, Block &&block)
{
    return map(list, std::forward<Block>(block));
}

template<typename T, typename Block>
QList<T> vl_select(const QList<T> &list, Block &&block)
{
    return select(list, std::forward<Block>(block));
}

// The first element the block accepts; none when there is none.
template<typename T, typename Block>
std::optional<T> vl_match(const QList<T> &list, Block &&block)
{
    const QList<T> snapshot = list;
    for (const T &item : snapshot) {
        if (block(item))
            return item;
    }
    return std::nullopt;
}

template<typename T, typename Value, typename Block>
Value vl_reduce(const QList<T> &list, Value initial, Block &&block)
{
    const QList<T> snapshot = list;
    for (const T &item : snapshot)
        initial = block(std::move(initial), item);
    return initial;
}
} // namespace NSArrayCollectionsAdditions

namespace NSSetTQCollectionUtilities {
// Equal results collapse into one.
template<typename T, typename Block>
auto vl_map(const QSet<T> &set, Block &&block) -> QSet<std::decay_t<decltype(block(std::declval<const T &>()))>>
{
    QSet<std::decay_t<decltype(block(std::declval<const T &>()))>> result;
    result.reserve(set.size());
    const QSet<T> snapshot = set;
    for (const T &item : snapshot)
        result.insert(block(item));
    return result;
}

template<typename T, typename Block>
QSet<T> vl_select(const QSet<T> &set, Block &&block)
{
    QSet<T> result;
    const QSet<T> snapshot = set;
    for (const T &item : snapshot) {
        if (block(item))
            result.insert(item);
    }
    return result;
}

// Some member the block accepts (which one depends on the set's order).
template<typename T, typename Block>
std::optional<T> vl_match(const QSet<T> &set, Block &&block)
{
    const QSet<T> snapshot = set;
    for (const T &item : snapshot) {
        if (block(item))
            return item;
    }
    return std::nullopt;
}
} // namespace NSSetTQCollectionUtilities
