#pragma once

// Two mouldings round a photo, drawn as an export draws them: pictures with
// wood-like grain, a see-through knot, colour settings, shadows. Everything
// is made from fixed seeds (scenes/), so the pixels of a render are known in
// advance.

#include "scenes/ScenePictures.h"

#include <QList>
#include <QPoint>

namespace mouldingscene {

constexpr int kPhotoWidth = 1200;
constexpr int kPhotoHeight = 800;

inline QImage photo()
{
    return scenes::photo(kPhotoWidth, kPhotoHeight);
}

// Side pictures by attribute: left, top, right, bottom.
inline QImage side(int which)
{
    return scenes::mouldingSide(which);
}

// Scene 0: saturation and exposure, wide enough that an export draws its
// sides in bands. Scene 1 (a frame with "Mirror images"): colourised, turned
// a quarter, see-through.
inline void applySettings(KTMoldingFrameLayer &layer, int scene)
{
    scenes::applyMouldingSettings(layer, scene);
}

// Where to look (pixels, y down, in the 1632 x 1232 render): the mitres at
// the four corners, tile seams on a side and across the top, the shadows on
// the photo below the top side and above the bottom one, the photo itself.
inline const QList<QPoint> &probes()
{
    static const QList<QPoint> points = {{100, 100},  {119, 120},   {120, 119},   {1532, 100}, {1512, 119}, {100, 1132},
                                         {119, 1112}, {1531, 1131}, {1512, 1112}, {120, 271},  {120, 272},  {120, 273},
                                         {30, 900},   {959, 100},   {960, 100},   {961, 30},   {300, 245},  {300, 252},
                                         {300, 262},  {800, 985},   {800, 975},   {250, 600},  {1385, 600}, {816, 616},
                                         {150, 700},  {1480, 700},  {700, 1180},  {700, 50}};
    return points;
}

} // namespace mouldingscene
