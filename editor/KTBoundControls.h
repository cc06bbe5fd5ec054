#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QBoxLayout;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;
class QToolButton;
class QUndoStack;
class VLColorWell;

// A slider with its number field and an optional reset button. It shows a
// stored value (a fraction, a shift) multiplied for people to read.
class KTPanelSlider : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kSteps = 1000;

    KTPanelSlider(const QString &label, double minimum, double maximum, double multiplier,
                  std::optional<double> resetValue, QWidget *parent = nullptr);

    double value() const { return m_value; }
    // Shows the value; announces nothing.
    void setValue(double value);
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }

    QSlider *slider() const { return m_slider; }
    QLineEdit *field() const { return m_field; }
    QToolButton *resetButton() const { return m_reset; }

    // The value with the multiplier, at most two fraction digits: 0.25 x 100 is "25".
    static QString formatNumber(double stored, double multiplier);
    // What formatNumber shows, read back; nullopt for no number.
    static std::optional<double> parseNumber(const QString &text, double multiplier);

signals:
    // The user moved the slider, typed a number or reset. `starts` is true
    // for the first change of one gesture (a press, a typed number).
    void edited(double value, bool starts);

private:
    void showValue();

    double m_minimum;
    double m_maximum;
    double m_multiplier;
    double m_value = 0;
    bool m_pressed = false;
    bool m_dragging = false;
    bool m_showing = false;
    QSlider *m_slider = nullptr;
    QLineEdit *m_field = nullptr;
    QToolButton *m_reset = nullptr;
};

// Binds panel controls to properties of one model object (a layer, the
// design): the controls show the model's values again whenever it announces
// a change, and every edit is one undoable step on the window's undo stack.
// Slider moves of one gesture merge into one step.
class KTBoundControls : public QObject
{
    Q_OBJECT
public:
    using Values = QList<QPair<QByteArray, QVariant>>;

    explicit KTBoundControls(QObject *parent = nullptr);

    QObject *target() const { return m_target.data(); }
    // Follows the target's change signals ("layerChanged",
    // "layerChangedFastRedraw", "modelChangedFastRedraw", notifying
    // properties); null leaves the controls disabled.
    void setTarget(QObject *target);

    // Where edits are recorded; without one they are applied directly.
    void setUndoStackProvider(std::function<QUndoStack *()> provider) { m_undoStack = std::move(provider); }
    QUndoStack *undoStack() const { return m_undoStack ? m_undoStack() : nullptr; }

    // Writes the values to the target as one step. With `continuing`, the
    // step merges with the previous one of the same keys.
    void write(const Values &values, bool continuing = false);
    void write(const char *key, const QVariant &value, bool continuing = false) { write({{key, value}}, continuing); }
    QVariant read(const char *key) const;

    KTPanelSlider *addSlider(QBoxLayout *layout, const QString &label, const char *key, double minimum,
                             double maximum, double multiplier, std::optional<double> resetValue = {});
    VLColorWell *addColorWell(QBoxLayout *layout, const QString &label, const char *key);
    QCheckBox *addCheckBox(QBoxLayout *layout, const QString &label, const char *key);
    // Runs on every refresh (custom controls).
    void addRefresher(std::function<void()> refresher);

    Q_INVOKABLE void refresh();
    bool isRefreshing() const { return m_refreshing; }

signals:
    // A value was written by a control of this binding.
    void wrote(const QByteArray &key);

private:
    QPointer<QObject> m_target;
    std::function<QUndoStack *()> m_undoStack;
    std::vector<std::function<void()>> m_refreshers;
    std::vector<QPointer<QWidget>> m_controls;
    QList<QMetaObject::Connection> m_connections;
    int m_session = 0;
    bool m_refreshing = false;
    QByteArray m_lastColorKey;
};
