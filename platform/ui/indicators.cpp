#include "indicators.h"

#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {
const QString kNoValue = QStringLiteral("---");

void styleAsDisplay(QLabel* label)
{
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    label->setFont(font);
}
} // namespace

NumericIndicator::NumericIndicator(QWidget* parent)
    : QLabel(parent)
    , value_(std::nan(""))
{
    styleAsDisplay(this);
    refresh();
}

void NumericIndicator::setValue(double value)
{
    value_ = value;
    refresh();
}

int NumericIndicator::decimals() const
{
    // The panel file may give "decimals"; three suits volts and amperes.
    const QVariant decimals = property("decimals");
    return qBound(0, decimals.isValid() ? decimals.toInt() : 3, 9);
}

QSize NumericIndicator::sizeHint() const
{
    // Room for a full reading with its decimals, or an exponent form such as
    // -1.2e+308, whatever is shown at the moment.
    const QFontMetrics metrics(font());
    const int chars = std::max(decimals() + 6, 10);
    const int margins =
        2 * frameWidth() + 2 * std::max(margin(), 3) + contentsMargins().left() + contentsMargins().right();
    return {metrics.horizontalAdvance(QString(chars, QLatin1Char('0'))) + margins,
            metrics.height() + 2 * frameWidth() + 4};
}

QSize NumericIndicator::minimumSizeHint() const
{
    return sizeHint();
}

void NumericIndicator::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    refresh();
}

QString NumericIndicator::format(double value) const
{
    if (std::isnan(value))
        return kNoValue;
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    const QFontMetrics metrics(font());
    const int room = contentsRect().width() - 2 * std::max(margin(), 3);
    const int charRoom = std::max(decimals() + 6, 10);
    auto fits = [&](const QString& text) {
        return room > 0 ? metrics.horizontalAdvance(text) <= room : text.size() <= charRoom;
    };
    const QString fixed = QString::number(value, 'f', decimals());
    if (fits(fixed))
        return fixed;
    for (int precision = std::max(decimals(), 1); precision >= 0; --precision) {
        const QString exponent = QString::number(value, 'e', precision);
        if (fits(exponent))
            return exponent;
    }
    return QString::number(value, 'e', 0);
}

void NumericIndicator::refresh()
{
    setText(format(value_));
}

RingIndicator::RingIndicator(QWidget* parent)
    : QLabel(parent)
{
    styleAsDisplay(this);
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(40);
    refresh();
}

void RingIndicator::setLabels(ValueLabels labels)
{
    labels_ = std::move(labels);
    refresh();
}

void RingIndicator::setValue(int value)
{
    value_ = value;
    hasValue_ = true;
    refresh();
}

void RingIndicator::setNoValue()
{
    hasValue_ = false;
    refresh();
}

void RingIndicator::refresh()
{
    if (!hasValue_) {
        setText(kNoValue);
        return;
    }
    for (const auto& [code, text] : labels_) {
        if (code == value_) {
            setText(text);
            return;
        }
    }
    // A code the panel file does not name is still shown, as a number.
    setText(QString::number(value_));
}
