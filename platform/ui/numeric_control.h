// A numeric control the operator types into (a setpoint, an interval). Unlike
// a plain spin box it never turns what was typed into another number, and it
// can say "no value":
//   - an entry outside the range is refused visibly: the field is marked, its
//     tooltip names the range, and the previous value stays;
//   - so is an entry that is not a number ("1,5", "3,600", "1.5.0", "nan")
//     or has more decimals than the field takes: what was typed stays in the
//     field until the entry is finished, never a keystroke dropped to make
//     another number of the rest;
//   - Escape abandons the entry being typed; typing again or Escape ends
//     the marks of a refused entry;
//   - "no value" (the program wrote NaN: the instrument gave none) shows as
//     "---" and reads back as NaN until the operator enters a number;
//   - a value the program writes outside the range the operator may enter
//     (an instrument may report one) is shown as it is, marked, never cut
//     to the range, and reads back as that value;
//   - with the panel file's pendingUntilWritten, an operator's entry is shown
//     as pending until the program next states the control's value or marks
//     it (SetCtrlVal, a colour or a tooltip).
#pragma once

#include <QColor>
#include <QDoubleSpinBox>

#include <optional>

class NumericControl : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit NumericControl(QWidget* parent = nullptr);
    // Once the panel file's properties are in: takes the stored value as the
    // program's and shows the range in the tooltip.
    void finishLoading();

    // NaN when the control holds no value.
    double currentValue() const;
    // NaN sets "no value". Ends any pending or refused state.
    void showProgramValue(double value);

    // What the program says about the value: a background colour (0xRRGGBB,
    // or -1 for none) and a tooltip. Either ends a pending state.
    void setProgramColour(int rgb);
    void setProgramTip(const QString& tip);
    // A line below all else the tooltip says (ATTR_TOOLTIP_NOTE); leaves a
    // pending entry pending.
    void setNote(const QString& note);

    bool hasValue() const { return hasValue_; }
    bool pending() const { return pending_; }
    // A colour (pending, the program's, outside the range) or a refusal's
    // frame is shown.
    bool marked() const { return fill_.isValid() || !refused_.isEmpty(); }
    // The last refused entry, as typed; empty when the last entry was taken.
    QString refusedEntry() const { return refused_; }

    // Takes what is typed but not yet finished as a finished entry (or
    // refuses it visibly): a shortcut presses a button while the focus stays
    // here, and the button must act on the number the field shows.
    void commitTyping();

    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    void stepBy(int steps) override;

signals:
    // The operator finished an entry that the control took.
    void entryCommitted();

protected:
    QString textFromValue(double value) const override;
    double valueFromText(const QString& text) const override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    StepEnabled stepEnabled() const override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString rangeText() const;
    // The field still shows what the program wrote that is no number in the
    // range ("---", a value outside it), not an entry.
    bool showsProgramValue(const QString& number) const;
    // Why the last refused entry was refused, for its tooltip.
    QString refusalReason() const;
    void entryFinished();
    void forgetRefusal();
    void operatorEdited();
    void updateLook();

    // Mutable: an entry made while there is no value is taken inside Qt's
    // const interpretation of the text.
    mutable bool hasValue_ = true;
    // What the program showed outside the range; empty when inside it.
    std::optional<double> outside_;
    mutable bool enteredIntoNoValue_ = false;
    bool pending_ = false;
    double programValue_ = 0.0; // what the program last showed; NaN for none
    mutable QString refused_;
    mutable bool refusedChanged_ = false;
    int programColour_ = -1;
    QColor fill_; // the field's colour; invalid for the window's own
    QString programTip_;
    QString baseTip_;
    QString note_;
};
