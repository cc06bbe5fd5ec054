#pragma once

namespace platform {

// Codes of the decoders' errors, in the application's error domain: damage,
// said in a few words, a kind of picture not read here, named in a whole
// sentence, or a picture too large for the memory there is.
enum class DecodeError {
    Damaged = 1,
    KindNotRead = 2,
    // More than the memory the process can have now would hold.
    OutOfMemory = 3,
};

} // namespace platform
