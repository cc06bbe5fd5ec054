#include "platform/imaging/XmpPacket.h"

#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

#include <algorithm>

namespace platform {

namespace {

const QString kRdf = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");

bool isRdf(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri() == kRdf && xml.name() == QLatin1String(name);
}

} // namespace

QByteArray XmpPacket::inPicture(const QByteArray &file)
{
    const qsizetype begin = file.indexOf("<?xpacket begin=");
    const qsizetype trailer = begin < 0 ? -1 : file.indexOf("<?xpacket end=", begin);
    const qsizetype end = trailer < 0 ? -1 : file.indexOf("?>", trailer);
    return end < 0 ? QByteArray() : file.mid(begin, end + 2 - begin);
}

QByteArray XmpPacket::withoutRepeatedProperties(const QByteArray &packet, QStringList *repeated)
{
    const QString text = QString::fromUtf8(packet);
    QXmlStreamReader xml(text);
    // Per open element, the properties met among its children and where its
    // children count as properties: the descriptions at the top all describe
    // the one picture, so theirs count together, under rdf:RDF; the items of
    // an array and the value of a plain property are no properties.
    struct Open {
        QSet<QString> properties;
        qsizetype countsIn = -1;
        bool isRoot = false;
    };
    QList<Open> path;
    QList<std::pair<qsizetype, qsizetype>> cuts;
    QStringList names;
    const auto seenAgain = [&](qsizetype holder, const QString &property, const QString &shown) {
        if (!path[holder].properties.contains(property)) {
            path[holder].properties.insert(property);
            return false;
        }
        if (!names.contains(shown))
            names.append(shown);
        return true;
    };
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && !path.isEmpty())
            path.removeLast();
        if (token != QXmlStreamReader::StartElement)
            continue;
        // The reader stands just past the start tag; no "<" lies within one.
        const qsizetype end = qsizetype(xml.characterOffset());
        const qsizetype start = text.lastIndexOf(QLatin1Char('<'), end - 1);
        const qsizetype parent = path.size() - 1;
        const qsizetype holder = parent >= 0 ? path[parent].countsIn : -1;
        if (holder >= 0 && xml.namespaceUri() != kRdf
            && seenAgain(holder, xml.namespaceUri().toString() + xml.name().toString(),
                         xml.qualifiedName().toString())) {
            xml.skipCurrentElement();
            cuts.append({start, qsizetype(xml.characterOffset())});
            continue;
        }
        Open open;
        open.isRoot = isRdf(xml, "RDF");
        if (isRdf(xml, "Description")) {
            open.countsIn = parent >= 0 && path[parent].isRoot ? parent : path.size();
        } else if (xml.attributes().value(kRdf, QStringLiteral("parseType")) == QLatin1String("Resource")) {
            open.countsIn = path.size();
        }
        path.append(open);
        if (!isRdf(xml, "Description"))
            continue;
        // A description's attributes are properties too.
        const QString tag = text.mid(start, end - start);
        for (const QXmlStreamAttribute &attribute : xml.attributes()) {
            const QStringView uri = attribute.namespaceUri();
            if (uri.isEmpty() || uri == kRdf || uri == QLatin1String("http://www.w3.org/XML/1998/namespace"))
                continue;
            if (!seenAgain(open.countsIn, uri.toString() + attribute.name().toString(),
                           attribute.qualifiedName().toString()))
                continue;
            const QRegularExpression written(
                QStringLiteral("\\s+%1\\s*=\\s*(\"[^\"]*\"|'[^']*')")
                    .arg(QRegularExpression::escape(attribute.qualifiedName().toString())));
            const QRegularExpressionMatch found = written.match(tag);
            if (found.hasMatch())
                cuts.append({start + found.capturedStart(), start + found.capturedEnd()});
        }
    }
    if (xml.hasError() || cuts.isEmpty())
        return packet;
    std::sort(cuts.begin(), cuts.end());
    QString kept = text;
    for (auto cut = cuts.crbegin(); cut != cuts.crend(); ++cut)
        kept.remove(cut->first, cut->second - cut->first);
    if (repeated)
        *repeated = names;
    return kept.toUtf8();
}

QStringList XmpPacket::bareNamespaces(const QByteArray &packet)
{
    QStringList bare;
    QXmlStreamReader xml(packet);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        for (const QXmlStreamNamespaceDeclaration &declared : xml.namespaceDeclarations()) {
            const QString uri = declared.namespaceUri().toString();
            if (!uri.isEmpty() && !uri.endsWith(QLatin1Char('/')) && !uri.endsWith(QLatin1Char('#'))
                && !bare.contains(uri))
                bare.append(uri);
        }
    }
    return bare;
}

QByteArray XmpPacket::withNamespaces(QByteArray packet, const QStringList &bareNamespaces)
{
    for (const QString &uri : bareNamespaces) {
        const QRegularExpression declared(
            QStringLiteral("(xmlns:[\\w.-]+=[\"'])%1/([\"'])").arg(QRegularExpression::escape(uri)));
        packet = QString::fromUtf8(packet).replace(declared, QStringLiteral("\\1%1\\2").arg(uri)).toUtf8();
    }
    return packet;
}

} // namespace platform
