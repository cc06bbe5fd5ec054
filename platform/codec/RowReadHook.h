#pragma once

#include <QtGlobal>

#include <functional>

namespace platform {

// Asked by an encoder just before it reads more rows of the picture, with
// the rows it will then have read and the row reads the whole encoding
// takes (a writer that reads the picture twice counts both passes). The
// last call has both equal. Answering false stops the encoding, which then
// fails with CodecError::Cancelled.
using RowReadHook = std::function<bool(qint64 rowsRead, qint64 rowsInAll)>;

} // namespace platform
