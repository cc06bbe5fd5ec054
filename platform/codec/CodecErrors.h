#pragma once

#include "platform/Error.h"

namespace platform {

// Codes of the encoders' errors, in the application's error domain.
enum class CodecError {
    UnsupportedType = 801,
    EmptyImage = 802,
    TooLarge = 803,
    OutOfMemory = 804,
    WriteFailed = 805,
    EncoderFailed = 806,
    Cancelled = 807,
    // Between a band writer and ImageEncoder only: the pixels proved the
    // guess of their transparency wrong, the file is to be written again.
    StartOver = 808,
};

inline void codecError(Error *error, CodecError code, const QString &description)
{
    if (!error)
        return;
    error->domain = QString::fromLatin1(kKanteloErrorDomain);
    error->code = int(code);
    error->description = description;
}

} // namespace platform
