#include "indicators.h"

#include <cmath>

namespace {
void styleAsDisplay(QLabel* label)
{
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setMinimumWidth(70);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    label->setFont(font);
}
} // namespace

NumericIndicator::NumericIndicator(QWidget* parent) : QLabel(parent), value_(std::nan(""))
{
    styleAsDisplay(this);
    setValue(value_);
}

void NumericIndicator::setValue(double value)
{
    value_ = value;
    if (std::isnan(value)) {
        setText(QStringLiteral("---"));
        return;
    }
    // The panel file may give "decimals"; three suits volts and amperes.
    const QVariant decimals = property("decimals");
    const int places = decimals.isValid() ? decimals.toInt() : 3;
    setText(QString::number(value, 'f', qBound(0, places, 9)));
}

RingIndicator::RingIndicator(QWidget* parent) : QLabel(parent)
{
    styleAsDisplay(this);
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(40);
}

void RingIndicator::setLabels(ValueLabels labels)
{
    labels_ = std::move(labels);
    setValue(value_);
}

void RingIndicator::setValue(int value)
{
    value_ = value;
    for (const auto& [code, text] : labels_) {
        if (code == value) {
            setText(text);
            return;
        }
    }
    // A code the panel file does not name is still shown, as a number.
    setText(QString::number(value));
}
