#include "output_switch.h"

#include "accessible_widgets.h"

#include <QColor>
#include <QSignalBlocker>

#include <algorithm>

OutputSwitch::OutputSwitch(QWidget* parent)
    : QPushButton(parent)
{
    setCheckable(true);
    QFont big = font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    setFont(big);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The operator's click shows the new state at once; a program that
    // cannot confirm it marks it afterwards.
    connect(this, &QAbstractButton::toggled, this, [this] {
        unknown_.reset();
        noState_ = false;
        stale_ = false;
        updateLook();
    });
    updateLook();
}

void OutputSwitch::setValues(int onValue, int offValue)
{
    on_ = onValue;
    off_ = offValue;
}

void OutputSwitch::showValue(int value)
{
    const QSignalBlocker quiet(this);
    noState_ = false;
    stale_ = false;
    if (value == on_ || value == off_) {
        unknown_.reset();
        setChecked(value == on_);
    } else {
        unknown_ = value;
        setChecked(false);
    }
    updateLook();
}

void OutputSwitch::showNoState()
{
    const QSignalBlocker quiet(this);
    unknown_.reset();
    noState_ = true;
    stale_ = false;
    setChecked(false);
    updateLook();
}

int OutputSwitch::value() const
{
    if (unknown_)
        return *unknown_;
    return isChecked() ? on_ : off_;
}

void OutputSwitch::setProgramColour(int rgb)
{
    programColour_ = rgb;
    updateLook();
}

void OutputSwitch::setStale(bool stale)
{
    stale_ = stale;
    updateLook();
}

void OutputSwitch::setProgramTip(const QString& tip)
{
    programTip_ = tip;
    updateLook();
}

void OutputSwitch::setNote(const QString& note)
{
    note_ = note;
    updateLook();
}

QSize OutputSwitch::sizeHint() const
{
    const QFontMetrics metrics(font());
    // Wide enough for the longest label, so the switch never changes size.
    return {metrics.horizontalAdvance(QStringLiteral("? -2147483648")) / 2 +
                metrics.horizontalAdvance(QStringLiteral("OFF")) + 24,
            // Two lines (OFF above why it is held off) inside the padding
            // and the widest border.
            metrics.lineSpacing() * 2 + 20};
}

void OutputSwitch::setHeldOff(const QString& reason)
{
    if (reason == heldOff_)
        return;
    heldOff_ = reason;
    updateLook();
}

void OutputSwitch::updateLook()
{
    // A tooltip set from outside (the panel file's, set after construction)
    // is the base the switch's own notes go before.
    if (toolTip() != shownTip_)
        baseTip_ = toolTip();
    QString text, background, colour = QStringLiteral("white");
    if (noState_) {
        text = QStringLiteral("?");
        background = QStringLiteral("#e0a000");
        colour = QStringLiteral("black");
    } else if (unknown_) {
        text = QStringLiteral("? %1").arg(*unknown_);
        background = QStringLiteral("#e0a000");
        colour = QStringLiteral("black");
    } else if (isChecked()) {
        // Held off yet reported on: both, so neither reads as the whole truth.
        text = heldOff_.isEmpty() ? QStringLiteral("ON") : QStringLiteral("ON\n") + heldOff_;
        background = QStringLiteral("#1f9d3a");
    } else if (!heldOff_.isEmpty()) {
        text = QStringLiteral("OFF\n") + heldOff_;
        background = QStringLiteral("#c62828");
    } else {
        text = QStringLiteral("OFF");
        background = QStringLiteral("#6b6b6b");
    }
    if (stale_ && !noState_) {
        // Faded to a hint of the colour: the operator must not read a
        // confident ON (or OFF) that the supply no longer backs.
        const QColor was(background);
        background = QColor::fromHsv(was.hsvHue(), was.hsvSaturation() / 5, std::max(was.value(), 200)).name();
        colour = QStringLiteral("black");
        text += QStringLiteral("?");
    }
    setText(text);
    QString border = QStringLiteral("2px solid #303030");
    if (programColour_ >= 0)
        border = QStringLiteral("4px solid #%1").arg(programColour_, 6, 16, QLatin1Char('0'));
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; border: %3; border-radius: 6px; "
                                 "padding: 4px 12px; }")
                      .arg(background, colour, border));
    QStringList tips;
    if (noState_)
        tips << QStringLiteral("No state known: the instrument reported none.");
    else if (stale_)
        tips << QStringLiteral("Last confirmed state; the instrument no longer confirms it.");
    else if (unknown_)
        tips << QStringLiteral("State %1 reported: neither on (%2) nor off (%3).").arg(*unknown_).arg(on_).arg(off_);
    if (!programTip_.isEmpty())
        tips << programTip_;
    if (!heldOff_.isEmpty())
        tips << QStringLiteral("Held off: %1.").arg(heldOff_);
    if (!baseTip_.isEmpty())
        tips << baseTip_;
    if (!note_.isEmpty())
        tips << note_;
    shownTip_ = tips.join(QLatin1Char('\n'));
    setToolTip(shownTip_);
    announceDescriptionChanged(this);
}
