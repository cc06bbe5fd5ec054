#pragma once

class KTTemplate;

// Every read of a design allows at most KTTemplate::kMaxLayers layers, so
// the window adds none past that: a design the user makes always reads back.
namespace KTLayerLimit {

inline constexpr const char *kFullMessage = "This design can take no more layers";
inline constexpr const char *kFullInformativeFormat = "A design holds at most %1 layers. Remove one to add another.";

// True when `design` has room for one more layer; otherwise tells the user
// why nothing was added and answers false.
bool roomForAnotherLayer(const KTTemplate &design);

} // namespace KTLayerLimit
