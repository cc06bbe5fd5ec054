#pragma once

#include <QMimeData>
#include <QStringList>

// What the graphics browser hands to a drag: the pictures' GUIDs in browser
// order as a property list under "FrameImages". Being of this class tells a
// drop target that the drag comes from the browser of this program.
class KTEImagesMimeData : public QMimeData
{
    Q_OBJECT
public:
    static constexpr const char *kPasteboardType = "FrameImages";

    explicit KTEImagesMimeData(const QStringList &guids);

    // The GUIDs of any "FrameImages" data; empty when there is none or it is
    // not an array of strings.
    static QStringList frameImageGUIDs(const QMimeData *data);
};
