#pragma once

// Pictures made from fixed seeds, so a render of them is known in advance.

#include <QColor>
#include <QImage>
#include <QString>

class KTMoldingFrameLayer;

namespace scenes {

// Wood: streaks along the long side with noise; an optional half-transparent knot.
QImage grain(int w, int h, QColor base, unsigned seed, bool knot);
// Sky over grass with noise on every `noiseStep`-th pixel of a row.
QImage photo(int w, int h, int noiseStep = 3);
// A moulding's side pictures by attribute (0 left, 1 top, 2 right, 3
// bottom): 60 x 240 grain times `scale`, two of them with a knot.
QImage mouldingSide(int which, int scale = 1);
// Moulding scene 0: saturation and exposure, wide enough that an export
// draws its sides in bands. Scene 1: colourised, turned a quarter, see-through.
void applyMouldingSettings(KTMoldingFrameLayer &layer, int scene);
// A full frame's picture: grain with a transparent window `border` of the
// short side in from each edge.
QImage fullFramePicture(int w, int h, double border);
// A camera-like photo with the entropy of a real one (soft shapes, sensor
// noise), written as JPEG q90 with a shooting date and 300 dpi in its EXIF.
bool writeCameraPhoto(const QString &path, int w, int h, unsigned seed = 7);

} // namespace scenes
