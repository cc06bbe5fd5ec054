#include "platform/archive/Unarchiver.h"

#include "platform/archive/Color.h"
#include "platform/archive/TypedStreamReader.h"

#include <QHash>
#include <QSet>

#include <cmath>

namespace platform {

namespace {

using Reader = TypedStreamReader;

class Interpreter
{
public:
    explicit Interpreter(const Reader &reader) : m_reader(reader) {}

    QVariant value(const Reader::Value &v, int depth)
    {
        if (!m_error.isEmpty())
            return {};
        if (v.kind == Reader::Value::Kind::Nil)
            return {};
        if (v.kind != Reader::Value::Kind::Object) {
            fail(QStringLiteral("unexpected value where an object belongs"));
            return {};
        }
        return object(v.index, depth);
    }

    QString error() const { return m_error; }

private:
    void fail(const QString &message)
    {
        if (m_error.isEmpty())
            m_error = message;
    }

    // The single value of a group of the expected types.
    const Reader::Value *single(const Reader::Object &o, qsizetype index, const char *encoding)
    {
        if (index >= o.groups.size() || o.groups[index].encodings != QList<QByteArray>{QByteArray(encoding)}) {
            fail(QStringLiteral("unexpected contents"));
            return nullptr;
        }
        return &o.groups[index].values.first();
    }

    bool reals(const Reader::Object &o, qsizetype index, int count, QList<double> *out)
    {
        if (index >= o.groups.size() || o.groups[index].encodings.size() != count) {
            fail(QStringLiteral("damaged colour"));
            return false;
        }
        for (qsizetype i = 0; i < count; ++i) {
            const Reader::Value &v = o.groups[index].values[i];
            if (o.groups[index].encodings[i] != "f" || v.kind != Reader::Value::Kind::Real || !std::isfinite(v.real)) {
                fail(QStringLiteral("damaged colour"));
                return false;
            }
            out->append(v.real);
        }
        return true;
    }

    QVariant object(int index, int depth)
    {
        if (index < 0 || size_t(index) >= m_reader.objects().size()) {
            fail(QStringLiteral("object reference out of range"));
            return {};
        }
        if (m_done.contains(index))
            return m_done.value(index);
        if (m_busy.contains(index)) {
            fail(QStringLiteral("an object contains itself"));
            return {};
        }
        if (depth > Reader::kMaxDepth) {
            fail(QStringLiteral("objects nested too deeply"));
            return {};
        }
        m_busy.insert(index);
        const QVariant result = interpret(m_reader.objects()[size_t(index)], depth);
        m_busy.remove(index);
        if (m_error.isEmpty())
            m_done.insert(index, result);
        return result;
    }

    QVariant interpret(const Reader::Object &o, int depth)
    {
        const auto chain = m_reader.classChain(o.classIndex);
        for (const Reader::Class *cls : chain) {
            const QByteArray &name = cls->name;
            if (name == "NSString" || name == "NSMutableString") {
                const Reader::Value *v = single(o, 0, "+");
                if (!v)
                    return {};
                return QString::fromUtf8(v->bytes);
            }
            if (name == "NSArray" || name == "NSMutableArray") {
                const Reader::Value *count = single(o, 0, "i");
                if (!count)
                    return {};
                if (count->integer < 0 || count->integer > o.groups.size() - 1) {
                    fail(QStringLiteral("damaged array"));
                    return {};
                }
                QVariantList items;
                for (qint64 i = 1; i <= count->integer; ++i) {
                    const Reader::Value *item = single(o, qsizetype(i), "@");
                    if (!item)
                        return {};
                    items.append(value(*item, depth + 1));
                    if (!m_error.isEmpty())
                        return {};
                }
                return items;
            }
            if (name == "NSColor")
                return color(o, depth);
        }
        fail(QStringLiteral("cannot read an object of class %1")
                 .arg(chain.isEmpty() ? QStringLiteral("?") : QString::fromLatin1(chain.first()->name.left(80))));
        return {};
    }

    QVariant color(const Reader::Object &o, int depth)
    {
        const Reader::Value *kind = single(o, 0, "c");
        if (!kind)
            return {};
        QList<double> c;
        switch (kind->integer) {
        case 1:
        case 2:
            if (!reals(o, 1, 4, &c))
                return {};
            return QVariant::fromValue(Color::rgb(c[0], c[1], c[2], c[3], Color::Space(kind->integer)));
        case 3:
        case 4:
            if (!reals(o, 1, 2, &c))
                return {};
            return QVariant::fromValue(Color::white(c[0], c[1], Color::Space(kind->integer)));
        case 5:
            if (!reals(o, 1, 5, &c))
                return {};
            return QVariant::fromValue(Color::cmyk(c[0], c[1], c[2], c[3], c[4]));
        case 6: {
            if (o.groups.size() < 2 || o.groups[1].encodings != QList<QByteArray>{"@", "@", "@"}) {
                fail(QStringLiteral("damaged colour"));
                return {};
            }
            const QVariant catalog = value(o.groups[1].values[0], depth + 1);
            const QVariant name = value(o.groups[1].values[1], depth + 1);
            const QVariant resolved = value(o.groups[1].values[2], depth + 1);
            if (!m_error.isEmpty())
                return {};
            return QVariant::fromValue(Color::named(catalog.toString(), name.toString(), resolved.value<Color>()));
        }
        default:
            fail(QStringLiteral("unknown colour kind %1").arg(kind->integer));
            return {};
        }
    }

    const Reader &m_reader;
    QHash<int, QVariant> m_done;
    QSet<int> m_busy;
    QString m_error;
};

Error archiveError(const QString &message)
{
    return Error{QString::fromLatin1(kKanteloErrorDomain), 1, QStringLiteral("The archive is damaged: %1.").arg(message), {}, {}};
}

} // namespace

Unarchiver::Result Unarchiver::unarchiveObjectWithData(const QByteArray &data)
{
    Result result;
    Reader reader;
    Error error;
    if (!reader.read(data, &error)) {
        result.error = archiveError(error.description);
        return result;
    }
    const Reader::Group &root = reader.roots().first();
    if (reader.roots().size() != 1 || root.encodings != QList<QByteArray>{"@"}) {
        result.error = archiveError(QStringLiteral("the archive does not hold one object"));
        return result;
    }
    Interpreter interpreter(reader);
    const QVariant object = interpreter.value(root.values.first(), 0);
    if (!interpreter.error().isEmpty()) {
        result.error = archiveError(interpreter.error());
        return result;
    }
    result.object = object;
    return result;
}

} // namespace platform
