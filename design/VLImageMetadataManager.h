#pragma once

#include "platform/imaging/ImageMetadata.h"

#include <QList>
#include <QMap>
#include <QString>

#include <memory>

class QTextDocument;

// Turns the photo's metadata into text for text overlays: a fixed set of tags
// (file name, dates and size, EXIF capture date, IPTC headline, caption and
// location), each written in a text as its display name between double
// braces, and replaced there by the photo's value.
class VLImageMetadataManager
{
public:
    struct MenuItem {
        QString title;
        long tag;
    };

    VLImageMetadataManager();

    // "%04ld" of the tag.
    static QString keyForTag(long tag);
    // "{{<display name>}}"; empty for a tag not in the table.
    QString templateStringForTag(long tag) const;

    // The photo's value for a tag as text; a null string when it has none.
    QString metadataValueForTag(long tag) const;

    platform::ImageMetadata metadata() const { return m_metadata; }
    // Rebuilds the placeholder values, unless it is the very metadata stored.
    void setMetadata(const platform::ImageMetadata &metadata);

    // The text with every placeholder replaced by its value; values are
    // inserted literally (never searched again). Unchanged before any
    // metadata was set.
    QString processTemplateString(const QString &text) const;
    // The same for styled text: a new document; the inserted characters take
    // the format of the placeholder's first character. Null for null.
    std::unique_ptr<QTextDocument> processTemplateString(const QTextDocument *text) const;
    // The same in the document itself.
    void fillTemplateDocument(QTextDocument &document) const;
    // How many characters the text holds once its placeholders are replaced,
    // and in `lineBreaks` how many line breaks; counted without building it,
    // and no further than just past `limit` characters.
    qsizetype filledLength(const QString &text, qsizetype limit, qsizetype *lineBreaks) const;
    // Whether the character ends a line where a text is laid out.
    static bool isLineBreak(QChar c);
    // How many placeholders processTemplateString would replace in the text.
    static qsizetype countOfPlaceholders(const QString &text);

    // The entries of the placeholder menu: "Select" (tag -1), then every tag
    // in key order.
    QList<MenuItem> menuItemsForMetadataSelection() const;

    QMap<QString, QString> templateTextForTags() const { return m_templateTextForTags; }
    QMap<QString, QString> valueForTemplate() const { return m_valueForTemplate; }

private:
    platform::ImageMetadata m_metadata;
    QMap<QString, QString> m_templateTextForTags; // key -> display name
    QMap<QString, QString> m_valueForTemplate;    // placeholder -> value
};
