#pragma once

namespace platform {

// Codes of the decoders' errors, in the application's error domain: damage,
// said in a few words, or a kind of picture not read here, named in a whole
// sentence.
enum class DecodeError {
    Damaged = 1,
    KindNotRead = 2,
};

} // namespace platform
