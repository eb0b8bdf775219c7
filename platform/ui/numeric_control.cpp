#include "numeric_control.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {
const QString kNoValue = QStringLiteral("---");
constexpr char kPendingColour[] = "#cfe3ff";
constexpr char kRefusedBorder[] = "#c62828";
constexpr int kRefusedBorderWidth = 2; // [px]
constexpr char kOutsideColour[] = "#ffd27f";

// The number in an entry without the control's prefix and suffix.
QString bareNumber(const QDoubleSpinBox* box, QString text)
{
    text = text.trimmed();
    if (!box->prefix().isEmpty() && text.startsWith(box->prefix().trimmed()))
        text.remove(0, box->prefix().trimmed().size());
    if (!box->suffix().isEmpty() && text.endsWith(box->suffix().trimmed()))
        text.chop(box->suffix().trimmed().size());
    return text.trimmed();
}

// A number as the operator may type one: finite, digits never grouped, so
// "3,600" is not 3600 here, whatever the toolkit's parser would make of it.
std::optional<double> plainNumber(const QLocale& locale, const QString& text)
{
    bool ok = false;
    const double value = locale.toDouble(text, &ok);
    if (!ok || !std::isfinite(value) || text.contains(locale.groupSeparator()))
        return std::nullopt;
    return value;
}
} // namespace

NumericControl::NumericControl(QWidget* parent)
    : QDoubleSpinBox(parent)
{
    // An entry commits when finished (Enter, focus-out, an arrow step), never
    // at every keystroke.
    setKeyboardTracking(false);
    connect(this, &QDoubleSpinBox::valueChanged, this, [this] {
        if (!signalsBlocked())
            operatorEdited();
    });
    connect(this, &QAbstractSpinBox::editingFinished, this, &NumericControl::entryFinished);
    // A refusal is about the entry before: once the operator types again it
    // would mark the new one.
    connect(lineEdit(), &QLineEdit::textEdited, this, &NumericControl::forgetRefusal);
}

void NumericControl::forgetRefusal()
{
    if (refused_.isEmpty())
        return;
    refused_.clear();
    refusedChanged_ = false;
    updateLook();
}

void NumericControl::entryFinished()
{
    // The same number as the one hidden behind "no value": no change
    // signal, but an entry all the same.
    if (enteredIntoNoValue_)
        operatorEdited();
    // Qt has already put the previous value back; show why.
    if (refusedChanged_) {
        refusedChanged_ = false;
        updateLook();
    }
}

void NumericControl::commitTyping()
{
    interpretText();
    entryFinished();
}

void NumericControl::finishLoading()
{
    programValue_ = value();
    updateLook();
}

double NumericControl::currentValue() const
{
    if (outside_)
        return *outside_;
    return hasValue_ ? value() : std::nan("");
}

void NumericControl::showProgramValue(double value)
{
    pending_ = false;
    refused_.clear();
    const QSignalBlocker quiet(this);
    programValue_ = value;
    outside_.reset();
    if (std::isnan(value)) {
        hasValue_ = false;
        lineEdit()->setText(prefix() + kNoValue + suffix());
    } else if (value < minimum() || value > maximum()) {
        hasValue_ = true;
        outside_ = value;
        setValue(value); // held at the nearest limit, but never shown so
        lineEdit()->setText(prefix() + textFromValue(value) + suffix());
    } else {
        hasValue_ = true;
        setValue(value);
        // setValue leaves the text alone when the number did not change.
        lineEdit()->setText(prefix() + textFromValue(this->value()) + suffix());
    }
    updateLook();
}

void NumericControl::setProgramColour(int rgb)
{
    programColour_ = rgb;
    pending_ = false;
    updateLook();
}

void NumericControl::setProgramTip(const QString& tip)
{
    programTip_ = tip;
    pending_ = false;
    updateLook();
}

void NumericControl::setNote(const QString& note)
{
    note_ = note;
    updateLook();
}

QString NumericControl::textFromValue(double value) const
{
    if (!hasValue_)
        return kNoValue;
    return QDoubleSpinBox::textFromValue(outside_ ? *outside_ : value);
}

double NumericControl::valueFromText(const QString& text) const
{
    // Qt reads the field back when the focus leaves it or a shortcut takes
    // the typing; "no value" and a value shown outside the range are not
    // numbers its parser takes, and it would make the range's lower end of
    // them. They stay what they are.
    if (showsProgramValue(bareNumber(this, text)))
        return value();
    if (!hasValue_) {
        hasValue_ = true;
        enteredIntoNoValue_ = true;
    }
    return QDoubleSpinBox::valueFromText(text);
}

bool NumericControl::showsProgramValue(const QString& number) const
{
    return (!hasValue_ && number == kNoValue) || (outside_ && number == QDoubleSpinBox::textFromValue(*outside_));
}

QValidator::State NumericControl::validate(QString& input, int& pos) const
{
    const QString number = bareNumber(this, input);
    if (showsProgramValue(number))
        return QValidator::Acceptable;
    if (number.contains(locale().groupSeparator()))
        return QValidator::Intermediate;
    const QValidator::State state = QDoubleSpinBox::validate(input, pos);
    if (state != QValidator::Invalid)
        return state;
    // Whatever else was typed stays in the field as typed, to be refused
    // visibly when the entry is finished: a number outside the range, and
    // anything that is not a number. Ignoring a keystroke instead would
    // make another number of the rest: "1,5" would become 15.
    return QValidator::Intermediate;
}

void NumericControl::fixup(QString& input) const
{
    const QString number = bareNumber(this, input);
    if (number.isEmpty() || number == QLatin1String("-") || number == QLatin1String("+") ||
        (!hasValue_ && number == kNoValue))
        return;
    // A number in the range that the field holds exactly, written with more
    // digits than it shows ("1.2340", "1.5e0"), is that number: taken.
    const std::optional<double> typed = plainNumber(locale(), number);
    if (typed && *typed >= minimum() && *typed <= maximum() &&
        plainNumber(locale(), QDoubleSpinBox::textFromValue(*typed)) == typed) {
        input = prefix() + QDoubleSpinBox::textFromValue(*typed) + suffix();
        return;
    }
    refused_ = number;
    refusedChanged_ = true;
}

QString NumericControl::refusalReason() const
{
    const std::optional<double> typed = plainNumber(locale(), refused_);
    if (!typed)
        return QStringLiteral("not a number (decimals with a point, digits not grouped, as in 1234.5)");
    if (*typed < minimum() || *typed > maximum())
        return QStringLiteral("the range is %1").arg(rangeText());
    // Rounding it would send the instrument a number nobody typed.
    return QStringLiteral("this field takes %1 decimals").arg(decimals());
}

void NumericControl::keyPressEvent(QKeyEvent* event)
{
    // Escape abandons the entry being typed: the field shows its value
    // again, and nothing typed reaches the instrument through a later Set.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        const QString shown = prefix() + textFromValue(value()) + suffix();
        if (lineEdit()->text() != shown || !refused_.isEmpty()) {
            lineEdit()->setText(shown);
            lineEdit()->selectAll();
            forgetRefusal();
            event->accept();
            return;
        }
    }
    QDoubleSpinBox::keyPressEvent(event);
}

void NumericControl::stepBy(int steps)
{
    if (outside_ && showsProgramValue(bareNumber(this, lineEdit()->text()))) {
        // From a value shown outside the range an arrow lands at the limit
        // nearest it, as the operator's edit: stepping from the limit the
        // field holds would show 20 V after Up from 25 V as if nothing
        // had been edited.
        const double limit = std::clamp(*outside_, minimum(), maximum());
        outside_.reset();
        {
            const QSignalBlocker quiet(this);
            setValue(limit);
        }
        operatorEdited();
        return;
    }
    outside_.reset();
    if (!hasValue_) {
        hasValue_ = true;
        // From "no value" an arrow starts at the value nearest zero.
        setValue(std::clamp(0.0, minimum(), maximum()));
        operatorEdited();
        return;
    }
    QDoubleSpinBox::stepBy(steps);
    // A step first reads what was typed: refused, it is said at once.
    if (refusedChanged_) {
        refusedChanged_ = false;
        updateLook();
    }
}

QAbstractSpinBox::StepEnabled NumericControl::stepEnabled() const
{
    // The limit it holds behind a value outside is no end to step from.
    if (outside_)
        return StepUpEnabled | StepDownEnabled;
    return QDoubleSpinBox::stepEnabled();
}

void NumericControl::focusInEvent(QFocusEvent* event)
{
    QDoubleSpinBox::focusInEvent(event);
    // "---" is selected, so typing replaces it.
    if (!hasValue_)
        QTimer::singleShot(0, lineEdit(), &QLineEdit::selectAll);
}

void NumericControl::operatorEdited()
{
    hasValue_ = true;
    outside_.reset();
    enteredIntoNoValue_ = false;
    refused_.clear();
    refusedChanged_ = false;
    // Enter on an unchanged number changes nothing the instrument holds.
    const bool differs = std::isnan(programValue_) || textFromValue(value()) != textFromValue(programValue_);
    if (property("pendingUntilWritten").toBool())
        pending_ = differs;
    updateLook();
    emit entryCommitted();
}

QString NumericControl::rangeText() const
{
    const QString unit = suffix().trimmed();
    const QString sep = unit.isEmpty() ? QString() : QStringLiteral(" ") + unit;
    // As the operator types numbers: "3600", not "3,600".
    QLocale plain = locale();
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return QStringLiteral("%1%3 to %2%3")
        .arg(plain.toString(minimum(), 'g', 10), plain.toString(maximum(), 'g', 10), sep);
}

void NumericControl::updateLook()
{
    if (baseTip_.isNull())
        baseTip_ = toolTip().isNull() ? QStringLiteral("") : toolTip();
    QStringList tips;
    QColor fill;
    if (!refused_.isEmpty())
        tips << QStringLiteral("%1 was refused: %2; the previous value stays.").arg(refused_, refusalReason());
    if (outside_) {
        tips << QStringLiteral("The instrument holds %1, outside what this control takes (%2).")
                    .arg(QDoubleSpinBox::textFromValue(*outside_) + suffix(), rangeText());
        fill = QColor(kOutsideColour);
    }
    if (pending_) {
        tips << QStringLiteral("Edited, not yet written to the instrument.");
        fill = QColor(kPendingColour);
    } else if (programColour_ >= 0) {
        fill = QColor::fromRgb(QRgb(programColour_));
    }
    // What the program says replaces the panel file's tooltip, as on any
    // other control; the control's own notes come first.
    if (!programTip_.isEmpty() && !pending_)
        tips << programTip_;
    else if (!hasValue_)
        tips << QStringLiteral("No value: none was reported and none was entered.");
    if (programTip_.isEmpty() && !baseTip_.isEmpty())
        tips << baseTip_;
    if (!note_.isEmpty())
        tips << note_;
    // Through the palette and a frame drawn over the field, not a style
    // sheet: that hands the whole field to Qt's style-sheet style, which
    // draws it up to 3 px lower and with flat arrows, so a marked field
    // shifted the rows beneath it out of line with the other channels.
    if (fill != fill_) {
        fill_ = fill;
        if (fill.isValid()) {
            QPalette colours = palette();
            colours.setColor(QPalette::Base, fill);
            setPalette(colours);
        } else {
            setPalette(QPalette()); // the window's again
        }
    }
    update();
    setToolTip(tips.join(QLatin1Char('\n')));
}

void NumericControl::paintEvent(QPaintEvent* event)
{
    QDoubleSpinBox::paintEvent(event);
    if (refused_.isEmpty())
        return;
    QPainter painter(this);
    painter.setPen(QPen(QColor(kRefusedBorder), kRefusedBorderWidth));
    const qreal inset = kRefusedBorderWidth / 2.0; // [px] the pen's middle
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
}
