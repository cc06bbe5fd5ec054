#include "editor/KTBoundControls.h"

#include "kit/VLValueAdditions.h"
#include "kit/ui/VLColorWell.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMetaProperty>
#include <QSlider>
#include <QToolButton>
#include <QUndoCommand>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kSetValuesCommandId = 0x4b5450;

// One edit of one or more properties of one object.
class KTSetValuesCommand : public QUndoCommand
{
public:
    KTSetValuesCommand(QObject *target, KTBoundControls::Values before, KTBoundControls::Values after, int session)
        : QUndoCommand(QObject::tr("Change Setting"))
        , m_target(target)
        , m_before(std::move(before))
        , m_after(std::move(after))
        , m_session(session)
    {
    }
    int id() const override { return kSetValuesCommandId; }
    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *next = static_cast<const KTSetValuesCommand *>(other);
        if (next->m_target != m_target || next->m_session != m_session || next->m_after.size() != m_after.size())
            return false;
        for (qsizetype i = 0; i < m_after.size(); ++i) {
            if (next->m_after.at(i).first != m_after.at(i).first)
                return false;
        }
        m_after = next->m_after;
        return true;
    }
    void redo() override { apply(m_after); }
    void undo() override
    {
        // Back in reverse order: values that depend on each other come back as they were.
        KTBoundControls::Values reversed(m_before.rbegin(), m_before.rend());
        apply(reversed);
    }

private:
    void apply(const KTBoundControls::Values &values)
    {
        if (!m_target)
            return;
        for (const auto &[key, value] : values)
            m_target->setProperty(key.constData(), value);
    }

    QPointer<QObject> m_target;
    KTBoundControls::Values m_before;
    KTBoundControls::Values m_after;
    int m_session;
};

double sliderToValue(int position, double minimum, double maximum)
{
    return minimum + (maximum - minimum) * position / KTPanelSlider::kSteps;
}

} // namespace

KTPanelSlider::KTPanelSlider(const QString &label, double minimum, double maximum, double multiplier,
                             std::optional<double> resetValue, QWidget *parent)
    : QWidget(parent)
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_multiplier(multiplier)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto *title = new QLabel(label, this);
    title->setFixedWidth(78);
    row->addWidget(title);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(0, kSteps);
    m_slider->setObjectName(label + QStringLiteral(" slider"));
    row->addWidget(m_slider, 1);
    m_field = new QLineEdit(this);
    m_field->setFixedWidth(52);
    m_field->setAlignment(Qt::AlignRight);
    m_field->setObjectName(label + QStringLiteral(" field"));
    row->addWidget(m_field);
    if (resetValue) {
        m_reset = new QToolButton(this);
        m_reset->setText(QStringLiteral("↺"));
        m_reset->setToolTip(tr("Reset"));
        m_reset->setAutoRaise(true);
        row->addWidget(m_reset);
        const double reset = *resetValue;
        connect(m_reset, &QToolButton::clicked, this, [this, reset] {
            setValue(reset);
            emit edited(m_value, true);
        });
    } else {
        // Rows with and without a reset keep their sliders aligned.
        auto *room = new QWidget(this);
        room->setFixedWidth(QToolButton().sizeHint().width());
        row->addWidget(room);
    }

    connect(m_slider, &QSlider::sliderPressed, this, [this] { m_pressed = true; });
    connect(m_slider, &QSlider::sliderReleased, this, [this] { m_pressed = m_dragging = false; });
    connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
        if (m_showing)
            return;
        // Keys and clicks on the groove are gestures of their own.
        const bool starts = !m_pressed || !m_dragging;
        m_dragging = m_pressed;
        m_value = sliderToValue(position, m_minimum, m_maximum);
        m_showing = true;
        m_field->setText(formatNumber(m_value, m_multiplier));
        m_showing = false;
        emit edited(m_value, starts);
    });
    connect(m_field, &QLineEdit::editingFinished, this, [this] {
        const std::optional<double> typed = parseNumber(m_field->text(), m_multiplier);
        if (!typed || !std::isfinite(*typed)) {
            showValue();
            return;
        }
        const double value = std::clamp(*typed, m_minimum, m_maximum);
        if (value == m_value) {
            showValue();
            return;
        }
        setValue(value);
        emit edited(m_value, true);
    });
}

void KTPanelSlider::setValue(double value)
{
    m_value = value;
    showValue();
}

void KTPanelSlider::showValue()
{
    m_showing = true;
    const double span = m_maximum - m_minimum;
    const double at = span > 0 ? (std::clamp(m_value, m_minimum, m_maximum) - m_minimum) / span : 0;
    m_slider->setValue(int(std::lround(at * kSteps)));
    if (!m_field->hasFocus() || !m_field->isModified())
        m_field->setText(formatNumber(m_value, m_multiplier));
    m_showing = false;
}

QString KTPanelSlider::formatNumber(double stored, double multiplier)
{
    return NSNumberVLExtras::shortDecimalString(std::round(stored * multiplier * 100.0) / 100.0, 2);
}

std::optional<double> KTPanelSlider::parseNumber(const QString &text, double multiplier)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double number = trimmed.toDouble(&ok);
    if (!ok)
        number = QLocale().toDouble(trimmed, &ok);
    if (!ok || multiplier == 0)
        return std::nullopt;
    return number / multiplier;
}

KTBoundControls::KTBoundControls(QObject *parent)
    : QObject(parent)
{
}

void KTBoundControls::setTarget(QObject *target)
{
    for (const QMetaObject::Connection &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_target = target;
    ++m_session;
    if (target) {
        const QMetaObject *meta = target->metaObject();
        const QMetaMethod refreshSlot = metaObject()->method(metaObject()->indexOfMethod("refresh()"));
        QList<int> signalIndexes;
        for (const char *name : {"layerChanged()", "layerChangedFastRedraw()", "modelChangedFastRedraw()",
                                 "settingsChanged()", "framedSizeStringChanged()"}) {
            const int at = meta->indexOfSignal(name);
            if (at >= 0)
                signalIndexes.append(at);
        }
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (property.hasNotifySignal())
                signalIndexes.append(property.notifySignalIndex());
        }
        std::sort(signalIndexes.begin(), signalIndexes.end());
        signalIndexes.erase(std::unique(signalIndexes.begin(), signalIndexes.end()), signalIndexes.end());
        for (int at : std::as_const(signalIndexes))
            m_connections.append(connect(target, meta->method(at), this, refreshSlot));
        m_connections.append(connect(target, &QObject::destroyed, this, [this] { setTarget(nullptr); }));
    }
    refresh();
}

QVariant KTBoundControls::read(const char *key) const
{
    return m_target ? m_target->property(key) : QVariant();
}

void KTBoundControls::write(const Values &values, bool continuing)
{
    if (!m_target || values.isEmpty())
        return;
    if (!continuing)
        ++m_session;
    Values before;
    for (const auto &[key, value] : values)
        before.append({key, m_target->property(key.constData())});
    if (QUndoStack *stack = undoStack()) {
        stack->push(new KTSetValuesCommand(m_target, before, values, m_session));
    } else {
        for (const auto &[key, value] : values)
            m_target->setProperty(key.constData(), value);
    }
    for (const auto &[key, value] : values)
        emit wrote(key);
}

KTPanelSlider *KTBoundControls::addSlider(QBoxLayout *layout, const QString &label, const char *key, double minimum,
                                          double maximum, double multiplier, std::optional<double> resetValue)
{
    auto *slider = new KTPanelSlider(label, minimum, maximum, multiplier, resetValue);
    layout->addWidget(slider);
    m_controls.emplace_back(slider);
    const QByteArray name(key);
    connect(slider, &KTPanelSlider::edited, this,
            [this, name](double value, bool starts) { write({{name, value}}, !starts); });
    QPointer<KTPanelSlider> guard(slider);
    addRefresher([this, guard, name] {
        if (guard && m_target)
            guard->setValue(m_target->property(name.constData()).toDouble());
    });
    return slider;
}

VLColorWell *KTBoundControls::addColorWell(QBoxLayout *layout, const QString &label, const char *key)
{
    auto *row = new QWidget;
    auto *h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    if (!label.isEmpty()) {
        auto *title = new QLabel(label, row);
        h->addWidget(title);
    }
    auto *well = new VLColorWell(row);
    well->setObjectName(label + QStringLiteral(" well"));
    well->setFixedSize(well->sizeHint());
    h->addWidget(well);
    layout->addWidget(row);
    m_controls.emplace_back(row);
    const QByteArray name(key);
    // A colour dragged about in the dialog is one step until another well or control is used.
    connect(well, &VLColorWell::colorEdited, this, [this, name](const QColor &color) {
        const bool continuing = m_lastColorKey == name;
        m_lastColorKey = name;
        write({{name, color}}, continuing);
    });
    connect(this, &KTBoundControls::wrote, well, [this, name](const QByteArray &key) {
        if (key != name)
            m_lastColorKey.clear();
    });
    QPointer<VLColorWell> guard(well);
    addRefresher([this, guard, name] {
        if (guard && m_target)
            guard->setColor(m_target->property(name.constData()).value<QColor>());
    });
    return well;
}

QCheckBox *KTBoundControls::addCheckBox(QBoxLayout *layout, const QString &label, const char *key)
{
    auto *box = new QCheckBox(label);
    box->setObjectName(label + QStringLiteral(" box"));
    layout->addWidget(box);
    m_controls.emplace_back(box);
    const QByteArray name(key);
    connect(box, &QCheckBox::clicked, this, [this, name](bool on) { write({{name, on}}); });
    QPointer<QCheckBox> guard(box);
    addRefresher([this, guard, name] {
        if (guard && m_target)
            guard->setChecked(m_target->property(name.constData()).toBool());
    });
    return box;
}

void KTBoundControls::addRefresher(std::function<void()> refresher)
{
    m_refreshers.push_back(std::move(refresher));
    if (m_target)
        m_refreshers.back()();
}

void KTBoundControls::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    for (const QPointer<QWidget> &control : m_controls) {
        if (control)
            control->setEnabled(m_target != nullptr);
    }
    if (m_target) {
        for (const auto &refresher : m_refreshers)
            refresher();
    }
    m_refreshing = false;
}
