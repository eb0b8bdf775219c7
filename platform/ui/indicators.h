// Read-only display controls. A numeric indicator shows a double with a fixed
// number of decimals, switching to an exponent form for magnitudes that do
// not fit its width, and a dash for "no value" (NaN); its size never depends
// on what it shows, so no reading reflows the panel. A ring indicator shows
// an integer code through its value labels, or no code at all.
#pragma once

#include "value_labels.h"

#include <QLabel>

class NumericIndicator : public QLabel {
    Q_OBJECT
public:
    explicit NumericIndicator(QWidget* parent = nullptr);
    void setValue(double value);
    double value() const { return value_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int decimals() const;
    QString format(double value) const;
    void refresh();

    double value_;
};

class RingIndicator : public QLabel {
    Q_OBJECT
public:
    explicit RingIndicator(QWidget* parent = nullptr);
    void setLabels(ValueLabels labels);
    void setValue(int value);
    // Shows no code: nothing was reported.
    void setNoValue();
    bool hasValue() const { return hasValue_; }
    int value() const { return value_; }

private:
    void refresh();

    ValueLabels labels_;
    int value_ = 0;
    bool hasValue_ = false;
};
