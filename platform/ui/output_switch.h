// A switch for live outputs: large, green and labelled ON when on, grey and
// labelled OFF when off, so its state reads at a glance from across a bench.
// It shows a state that is neither of its two values as exactly that
// ("? 5"), never as off, and it can be marked by the program (a colour and a
// tooltip) when the instrument did not confirm what it shows.
#pragma once

#include <QPushButton>

#include <optional>

class OutputSwitch : public QPushButton {
    Q_OBJECT
public:
    explicit OutputSwitch(QWidget* parent = nullptr);

    // The panel file's two values; 1 and 0 unless it says otherwise.
    void setValues(int onValue, int offValue);
    int onValue() const { return on_; }
    int offValue() const { return off_; }

    // The value shown: on, off, or any other state as unknown.
    void showValue(int value);
    // Shows that no state is known (the instrument gave none): neither on
    // nor off.
    void showNoState();
    bool hasState() const { return !noState_; }
    int value() const;
    // Set when showing a value that is neither on nor off.
    std::optional<int> unknownState() const { return unknown_; }

    void setProgramColour(int rgb);
    int programColour() const { return programColour_; }
    void setProgramTip(const QString& tip);
    // A line below all else the tooltip says (ATTR_TOOLTIP_NOTE).
    void setNote(const QString& note);
    // The state shown is the last one confirmed, no longer known to hold
    // (the instrument stopped answering): shown faded, with a question mark.
    // Cleared by the next state shown or click.
    void setStale(bool stale);
    bool stale() const { return stale_; }

    // Held off for `reason` ("TRIPPED"), shown below OFF in a fault's
    // colour; "" when not held.
    void setHeldOff(const QString& reason);
    QString heldOff() const { return heldOff_; }

    QSize sizeHint() const override;

private:
    void updateLook();

    int on_ = 1, off_ = 0;
    std::optional<int> unknown_;
    bool noState_ = false;
    bool stale_ = false;
    int programColour_ = -1;
    QString programTip_, baseTip_, note_, heldOff_;
    QString shownTip_; // the tooltip as the switch last set it
};
