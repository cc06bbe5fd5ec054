#pragma once

#include <QByteArray>
#include <QStringList>

namespace platform {

// What an XMP packet says of itself, for what Exiv2 would get wrong: it
// refuses a whole packet that repeats a property, and it writes every
// namespace with a "/" at its end.
class XmpPacket
{
public:
    // The first packet a file holds, as written, its wrapper included, found
    // as XMP lets a reader that doesn't know the file's format find it
    // (Exiv2 hands back its own rewriting of the packets it read); empty
    // when there is no wrapped packet.
    static QByteArray inPicture(const QByteArray &file);

    // The packet without the properties it repeats, the first of each kept,
    // their names in `repeated`; the packet as it was when it repeats none
    // or is no well-formed XML.
    static QByteArray withoutRepeatedProperties(const QByteArray &packet, QStringList *repeated);

    // The namespaces the packet declares that end in neither "/" nor "#".
    static QStringList bareNamespaces(const QByteArray &packet);
    // `packet` (as Exiv2 writes it) declaring those namespaces as they were
    // written, not with the "/" Exiv2 gave them.
    static QByteArray withNamespaces(QByteArray packet, const QStringList &bareNamespaces);
};

} // namespace platform
