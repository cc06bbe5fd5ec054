#pragma once

#include <QVariant>

#include <utility>
#include <vector>

namespace platform {

// What one save writes: new and changed rows, join-table rows of many-to-many
// relationships, and deleted rows. Written in one transaction.
struct StoreSaveRequest {
    struct RowWrite {
        int entity = -1;
        qint64 pk = 0;
        bool isInsert = false;
        std::vector<std::pair<int, QVariant>> attributes; // attribute index, value
        std::vector<std::pair<int, qint64>> toOnes;       // relationship index, target pk (0 = none)
    };
    struct JoinWrite {
        int entity = -1;
        int relationship = -1;
        qint64 pk = 0;
        std::vector<qint64> targets;
    };
    struct RowDelete {
        int entity = -1;
        qint64 pk = 0;
    };

    std::vector<RowWrite> writes;
    std::vector<JoinWrite> joins;
    std::vector<RowDelete> deletes;

    bool isEmpty() const { return writes.empty() && joins.empty() && deletes.empty(); }
};

} // namespace platform
