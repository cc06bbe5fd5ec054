#pragma once

#include "platform/archive/Color.h"

#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>

class QTextDocument;

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// Styled text as the text overlay keeps it: a string and runs of attributes
// (font, colour, paragraph alignment; underline, strikethrough, shadow and
// kerning when present). Run lengths count UTF-16 code units and add up to
// the length of the string.
class StyledText
{
public:
    // Paragraph alignment codes as archived: left 0, right 1, centre 2,
    // justified 3, natural 4.
    enum Alignment { Left = 0, Right = 1, Center = 2, Justified = 3, Natural = 4 };

    struct Font {
        QString name; // PostScript-style ("Helvetica-Bold"), or an archived system font name
        double size = 12.0;
        std::optional<qint64> flags; // "NSfFlags", kept as read
        bool operator==(const Font &o) const { return name == o.name && size == o.size && flags == o.flags; }
        void encode(KeyedArchiver &coder) const;
        static Font decode(KeyedUnarchiver &coder);
    };
    struct ParagraphStyle {
        int alignment = Natural;
        bool operator==(const ParagraphStyle &o) const { return alignment == o.alignment; }
        void encode(KeyedArchiver &coder) const;
        static ParagraphStyle decode(KeyedUnarchiver &coder);
    };
    struct Shadow {
        QPointF offset;
        double blurRadius = 0;
        std::optional<Color> color;
        bool operator==(const Shadow &o) const { return offset == o.offset && blurRadius == o.blurRadius && color == o.color; }
        void encode(KeyedArchiver &coder) const;
        static Shadow decode(KeyedUnarchiver &coder);
    };
    struct Attributes {
        std::optional<Font> font;
        std::optional<Color> color;
        std::optional<ParagraphStyle> paragraphStyle;
        std::optional<qint64> underline;
        std::optional<qint64> strikethrough;
        std::optional<Shadow> shadow;
        std::optional<double> kern;
        bool operator==(const Attributes &o) const
        {
            return font == o.font && color == o.color && paragraphStyle == o.paragraphStyle && underline == o.underline
                   && strikethrough == o.strikethrough && shadow == o.shadow && kern == o.kern;
        }
        bool operator!=(const Attributes &o) const { return !(*this == o); }
    };
    struct Run {
        int length = 0;
        Attributes attributes;
        bool operator==(const Run &o) const { return length == o.length && attributes == o.attributes; }
    };

    StyledText() = default;
    explicit StyledText(const QString &text, const Attributes &attributes = {});

    const QString &string() const { return m_text; }
    const QList<Run> &runs() const { return m_runs; }
    int length() const { return int(m_text.size()); }
    bool isEmpty() const { return m_text.isEmpty(); }

    // Appends text with its attributes (adjacent equal runs merge).
    void append(const QString &text, const Attributes &attributes);
    // The attributes at a position (those of the last run at the end).
    Attributes attributesAt(int position) const;
    // Sets the paragraph style over the whole text (setAlignment: of the overlay).
    void setParagraphStyle(const ParagraphStyle &style);
    // A copy with every font size multiplied by `factor`.
    StyledText scaledFonts(double factor) const;

    bool operator==(const StyledText &o) const { return m_text == o.m_text && m_runs == o.m_runs; }
    bool operator!=(const StyledText &o) const { return !(*this == o); }

    // Keyed form: "NSString", "NSAttributes" (one dictionary, or an array of
    // them with the "NSAttributeInfo" run table).
    void encode(KeyedArchiver &coder) const;
    static StyledText decode(KeyedUnarchiver &coder);
    static QStringList archiveClassNames();

    // Rich text for drawing and editing. Fonts are looked up by family
    // (FontNames); the archived names, flags and shadow ride along as format
    // properties so that an unedited text converts back unchanged.
    void toTextDocument(QTextDocument *document) const;
    static StyledText fromTextDocument(const QTextDocument &document);

private:
    void normalize();

    QString m_text;
    QList<Run> m_runs;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::StyledText)
Q_DECLARE_METATYPE(platform::StyledText::Font)
Q_DECLARE_METATYPE(platform::StyledText::ParagraphStyle)
Q_DECLARE_METATYPE(platform::StyledText::Shadow)
