// Read-only display controls. A numeric indicator shows a double with a fixed
// number of decimals and a dash for "no value" (NaN), which a spin box cannot;
// a ring indicator shows an integer code through its value labels.
#pragma once

#include "value_labels.h"

#include <QLabel>

class NumericIndicator : public QLabel {
    Q_OBJECT
public:
    explicit NumericIndicator(QWidget* parent = nullptr);
    void setValue(double value);
    double value() const { return value_; }

private:
    double value_;
};

class RingIndicator : public QLabel {
    Q_OBJECT
public:
    explicit RingIndicator(QWidget* parent = nullptr);
    void setLabels(ValueLabels labels);
    void setValue(int value);
    int value() const { return value_; }

private:
    ValueLabels labels_;
    int value_ = 0;
};
