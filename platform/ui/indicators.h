// Read-only displays the program writes: readouts of numbers, of codes and of
// texts.
//
// They paint their text themselves instead of being labels: a new reading
// then repaints only the readout, never re-lays out the panel (a label
// re-asks its layout at every new text, which at a fast timer costs more
// than the reading). Their size never depends on what they show, so no value
// reflows the panel; numbers and codes grow with the room the window gives
// them, to be read from a step away.
#pragma once

#include "value_labels.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFrame>
#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QString>
#include <QTimer>

class Readout : public QFrame {
    Q_OBJECT
public:
    explicit Readout(QWidget* parent = nullptr);

    // Made from the last value written, if it was not made yet.
    QString text() const { return currentText(); }

    // Stale: shown greyed, as no longer current, until the next value.
    void setStale(bool stale);
    bool stale() const { return stale_; }

    // The font the text is painted in: as large as the readout's height
    // allows, smaller for a text that would not fit across otherwise. And the
    // width [px] the text has inside the frame.
    QFont shownFont() const;
    int textRoom() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void setDisplayText(const QString& text);
    // A new value came: its text is made by makeText() when it is next
    // painted or read, not now. A timer callback writes its readings
    // between the supply's round trips, where every instruction runs on
    // caches gone cold while it waited; and a text nobody sees is never made.
    void textOutdated();
    virtual QString makeText() const { return text_; }
    // Background and text colour behind the text; invalid for the style's own.
    void setColours(const QColor& background, const QColor& foreground);
    // Characters the readout has room for at its smallest.
    void setMinimumChars(int chars) { minimumChars_ = chars; }
    void setTextAlignment(Qt::Alignment alignment) { alignment_ = alignment; }
    // Whether the text grows with the readout's height.
    void setScalesWithHeight(bool scales) { scales_ = scales; }
    // Whether texts are kept laid out for when they come again (a reading's
    // do; a message with a count in it does not).
    void setRemembersTexts(bool remembers) { remembersTexts_ = remembers; }
    // A new text is painted at most this often [ms]; 0: at once.
    void setRepaintInterval(int ms) { repaintIntervalMs_ = ms; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Called when the room changed, so a subclass can choose another form.
    virtual void roomChanged() { }
    // The widest text the readout shows in the common case: the text grows
    // with the height only as far as this still fits the width.
    virtual QString typicalWidest() const { return currentText(); }

    void updatePaintFont();
    const QFont& paintFont() const { return paintFont_; }

private:
    const QString& currentText() const;
    // Paints the readout now, or when its repaint interval has passed.
    void repaintSoon();

    mutable QString text_;
    mutable bool textOutdated_ = false;
    bool stale_ = false;
    QColor background_, foreground_;
    int minimumChars_ = 10;
    Qt::Alignment alignment_ = Qt::AlignRight | Qt::AlignVCenter;
    bool scales_ = true;
    bool remembersTexts_ = true;
    int repaintIntervalMs_ = 0;
    QElapsedTimer painted_;
    QTimer* repaintLater_ = nullptr;
    QFont paintFont_;
    // What the widgets beneath draw where the readout stands, and the
    // readout's frame over it: the readout paints it itself and is opaque,
    // so a new reading repaints the readout alone, not the group box around
    // it. Made again once anything beneath may look different there.
    QPixmap backdrop_;
    QWidget* watchedParent_ = nullptr;
    const QPixmap& backdrop();
    // The same, and whether the text fits across in it as it is.
    QFont shownFont(bool* fits) const;
    // A text laid out in the paint font, and its width [px]: new readings
    // cycle through a few texts (a meter's last digits), and laying a text
    // out (shaping it) costs more than painting it.
    struct Shaped {
        QStaticText text;
        int width = 0;
    };
    const Shaped& shaped(const QString& text) const;
    int textWidth(const QString& text) const;
    mutable QHash<QString, Shaped> shaped_;
};

// A double with a fixed number of decimals (the panel file's "decimals"),
// switching to an exponent form for magnitudes that do not fit its width,
// and "---" for no value (NaN).
class NumericIndicator : public Readout {
    Q_OBJECT
public:
    explicit NumericIndicator(QWidget* parent = nullptr);
    void setValue(double value);
    double value() const { return value_; }
    // Digits after the point: the panel file's "decimals", 3 if it gives none.
    int decimals() const { return decimals_; }

protected:
    bool event(QEvent* event) override;
    void roomChanged() override;
    QString typicalWidest() const override;
    QString makeText() const override;

private:
    QString format(double value) const;
    // Width [px] of a text in the widget's own font, remembered as the
    // shaped texts are.
    int widthInFont(const QString& text) const;

    double value_;
    int decimals_ = 3;
    mutable QHash<QString, int> widths_;
};

// An integer code shown through the panel file's value labels
// ("0=CV;1=CC;2=OFF") and colours ("0=#1b7f3a;1=#c62828;2=#616161", and
// "otherColour" for a code it does not name), or no code at all before one
// was reported.
class RingIndicator : public Readout {
    Q_OBJECT
public:
    explicit RingIndicator(QWidget* parent = nullptr);
    void setLabels(ValueLabels labels);
    // Colours by code, and for any other code; invalid for none.
    void setCodeColours(QHash<int, QColor> colours, QColor other);
    void setValue(int value);
    // Shows no code: nothing was reported.
    void setNoValue();
    bool hasValue() const { return hasValue_; }
    int value() const { return value_; }

protected:
    QString typicalWidest() const override;

private:
    void refresh();

    ValueLabels labels_;
    QHash<int, QColor> colours_;
    QColor otherColour_;
    int value_ = 0;
    bool hasValue_ = false;
};

// A line of text the program writes (a status line): left-aligned, cut with
// "..." when the window is too narrow, the whole text in its tooltip.
class TextMessage : public Readout {
    Q_OBJECT
public:
    explicit TextMessage(QWidget* parent = nullptr);
    void setMessage(const QString& text);
    // A background colour (0xRRGGBB, -1 for none) for a state to notice.
    void setProgramColour(int rgb);
    int programColour() const { return programColour_; }

protected:
    // The tooltip is the whole text, set when it is about to be shown: a
    // status line may change at every tick, and setting a tooltip sends an
    // event through the whole application each time.
    bool event(QEvent* event) override;

private:
    int programColour_ = -1;
};
