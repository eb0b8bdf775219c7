#include "indicators.h"

#include "accessible_widgets.h"
#include "remembered.h"

#include <QCursor>
#include <QDynamicPropertyChangeEvent>
#include <QEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
const QString kNoValue = QStringLiteral("---");
const QColor kStaleText(150, 150, 150);
constexpr int kPadding = 4;            // [px] between frame and text
constexpr double kTextToHeight = 0.62; // text height per readout height
// Texts remembered laid out per readout: more than the values noise cycles
// through, few enough to stay small.
constexpr int kRememberedTexts = 64;
} // namespace

// ---- Readout -----------------------------------------------------------------

Readout::Readout(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    updatePaintFont();
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Readout::textOutdated()
{
    textOutdated_ = true;
    repaintSoon();
}

const QString& Readout::currentText() const
{
    if (textOutdated_) {
        textOutdated_ = false;
        text_ = makeText();
    }
    return text_;
}

void Readout::setDisplayText(const QString& text)
{
    textOutdated_ = false;
    if (text == text_)
        return;
    text_ = text;
    repaintSoon();
}

void Readout::repaintSoon()
{
    const qint64 since = painted_.isValid() ? painted_.elapsed() : repaintIntervalMs_; // [ms]
    if (since >= repaintIntervalMs_) {
        update();
        return;
    }
    if (!repaintLater_) {
        repaintLater_ = new QTimer(this);
        repaintLater_->setSingleShot(true);
        connect(repaintLater_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    }
    if (!repaintLater_->isActive())
        repaintLater_->start(int(repaintIntervalMs_ - since));
}

void Readout::setStale(bool stale)
{
    if (stale == stale_)
        return;
    stale_ = stale;
    update();
}

void Readout::setColours(const QColor& background, const QColor& foreground)
{
    if (background == background_ && foreground == foreground_)
        return;
    background_ = background;
    foreground_ = foreground;
    update();
}

QSize Readout::sizeHint() const
{
    // From the widget's own font, not the one grown with its height, so the
    // hint never changes with what is shown or with the window.
    const QFontMetrics metrics(font());
    const int frame = 2 * frameWidth() + 2 * kPadding;
    return {metrics.horizontalAdvance(QString(minimumChars_, QLatin1Char('0'))) + frame, metrics.height() + frame};
}

QSize Readout::minimumSizeHint() const
{
    return sizeHint();
}

QFont Readout::shownFont() const
{
    return shownFont(nullptr);
}

const Readout::Shaped& Readout::shaped(const QString& text) const
{
    return remembered(shaped_, text, kRememberedTexts, [&] {
        Shaped laidOut;
        laidOut.text.setText(text);
        laidOut.text.setTextFormat(Qt::PlainText);
        laidOut.text.prepare(QTransform(), paintFont_);
        laidOut.width = QFontMetrics(paintFont_).horizontalAdvance(text);
        return laidOut;
    });
}

int Readout::textWidth(const QString& text) const
{
    return remembersTexts_ ? shaped(text).width : QFontMetrics(paintFont_).horizontalAdvance(text);
}

QFont Readout::shownFont(bool* fits) const
{
    const int across = textWidth(currentText());
    const int room = textRoom();
    if (fits)
        *fits = across <= room;
    if (!scales_ || across <= room || room <= 0)
        return paintFont_;
    // Smaller rather than cut, down to where it would be unreadable anyway.
    QFont smaller = paintFont_;
    const int size = paintFont_.pixelSize() > 0 ? paintFont_.pixelSize() : QFontMetrics(paintFont_).height();
    smaller.setPixelSize(std::max(8, size * room / across));
    if (fits)
        *fits = false; // to be measured at the smaller size
    return smaller;
}

int Readout::textRoom() const
{
    return contentsRect().width() - 2 * kPadding;
}

void Readout::updatePaintFont()
{
    QFont grown = font();
    if (scales_) {
        const QFontMetrics base(font());
        int wanted = static_cast<int>(contentsRect().height() * kTextToHeight);
        // No larger than lets the common text fit across.
        const int baseSize = grown.pixelSize() > 0 ? grown.pixelSize() : base.height();
        QFont probe = grown;
        probe.setPixelSize(baseSize);
        const int across = QFontMetrics(probe).horizontalAdvance(typicalWidest());
        if (across > 0 && textRoom() > 0)
            wanted = std::min(wanted, baseSize * textRoom() / across);
        grown.setPixelSize(std::max(wanted, base.height() * 3 / 4));
    }
    if (grown != paintFont_)
        shaped_.clear();
    paintFont_ = grown;
}

void Readout::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    updatePaintFont();
    roomChanged();
}

void Readout::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    backdrop_ = QPixmap();
    if (event->type() == QEvent::FontChange) {
        updatePaintFont();
        roomChanged();
    }
}

void Readout::moveEvent(QMoveEvent* event)
{
    QFrame::moveEvent(event);
    backdrop_ = QPixmap();
}

bool Readout::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
    case QEvent::FontChange:
        backdrop_ = QPixmap();
        break;
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

const QPixmap& Readout::backdrop()
{
    if (parentWidget() != watchedParent_) {
        if (watchedParent_)
            watchedParent_->removeEventFilter(this);
        watchedParent_ = parentWidget();
        if (watchedParent_)
            watchedParent_->installEventFilter(this);
        backdrop_ = QPixmap();
    }
    const qreal ratio = devicePixelRatioF();
    if (backdrop_.isNull() || backdrop_.size() != size() * ratio) {
        backdrop_ = QPixmap(size() * ratio);
        backdrop_.setDevicePixelRatio(ratio);
        backdrop_.fill(window()->palette().color(QPalette::Window));
        // Each ancestor's own painting, outermost first, without children.
        QList<QWidget*> beneath;
        for (QWidget* w = parentWidget(); w; w = w->isWindow() ? nullptr : w->parentWidget())
            beneath.prepend(w);
        for (QWidget* w : beneath)
            w->render(&backdrop_, QPoint(), QRegion(QRect(mapTo(w, QPoint(0, 0)), size())),
                      QWidget::DrawWindowBackground);
        QPainter painter(&backdrop_);
        drawFrame(&painter);
    }
    return backdrop_;
}

void Readout::paintEvent(QPaintEvent*)
{
    painted_.start();
    currentText();
    announceShownText(this);
    const QPixmap& beneath = backdrop();
    QPainter painter(this);
    painter.drawPixmap(0, 0, beneath);
    const QRect inside = contentsRect();
    if (background_.isValid()) {
        // A lamp's colour says a mode: once stale it must not still say it
        // at full strength, only hint at what it was.
        QColor fill = background_;
        if (stale_ || !isEnabled())
            fill = QColor::fromHsv(fill.hsvHue(), fill.hsvSaturation() / 5, std::max(fill.value(), 200));
        painter.fillRect(inside, fill);
    }
    QColor ink = foreground_.isValid() ? foreground_ : palette().color(QPalette::WindowText);
    if (stale_ || !isEnabled())
        ink = kStaleText;
    painter.setPen(ink);
    bool fits = false;
    const QFont font = shownFont(&fits);
    const QRect room = inside.adjusted(kPadding, 0, -kPadding, 0);
    if (fits && remembersTexts_) {
        // As drawText would place it, from the text laid out once.
        const Shaped& text = shaped(text_);
        const QSizeF size(text.width, text.text.size().height());
        qreal x = room.left();
        if (alignment_ & Qt::AlignRight)
            x = room.left() + room.width() - size.width();
        else if (alignment_ & Qt::AlignHCenter)
            x = room.left() + (room.width() - size.width()) / 2;
        const qreal y = room.top() + (room.height() - size.height()) / 2;
        painter.setFont(paintFont_); // the font it was laid out in, or laid out again
        painter.drawStaticText(QPointF(x, y), text.text);
        return;
    }
    painter.setFont(font);
    // A text measured to fit is not measured again to be cut.
    const QString shown = fits ? text_ : QFontMetrics(font).elidedText(text_, Qt::ElideRight, room.width());
    painter.drawText(room, static_cast<int>(alignment_), shown);
}

// ---- NumericIndicator --------------------------------------------------------

NumericIndicator::NumericIndicator(QWidget* parent)
    : Readout(parent)
    , value_(std::nan(""))
{
    setMinimumChars(10);
    setDisplayText(format(value_));
}

void NumericIndicator::setValue(double value)
{
    setStale(false);
    // The same bits make the same text (NaN never equals itself).
    if (std::memcmp(&value, &value_, sizeof value) == 0)
        return;
    value_ = value;
    textOutdated();
}

QString NumericIndicator::makeText() const
{
    return format(value_);
}

bool NumericIndicator::event(QEvent* event)
{
    if (event->type() == QEvent::DynamicPropertyChange &&
        static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == "decimals") {
        const QVariant decimals = property("decimals");
        decimals_ = qBound(0, decimals.isValid() ? decimals.toInt() : 3, 9);
        updatePaintFont();
        roomChanged();
    }
    return Readout::event(event);
}

void NumericIndicator::roomChanged()
{
    widths_.clear(); // the font may be another one

    setDisplayText(format(value_));
}

QString NumericIndicator::typicalWidest() const
{
    // A signed reading with two digits before the point: -18.000, -1.8000.
    return QStringLiteral("-00.") + QString(decimals(), QLatin1Char('0'));
}

QString NumericIndicator::format(double value) const
{
    if (std::isnan(value))
        return kNoValue;
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    // Chosen at the widget's own font: a form that fits there is drawn
    // smaller if it does not fit at the grown size, so an exponent form
    // keeps its digits.
    const int room = textRoom();
    auto fits = [&](const QString& text) { return room > 0 ? widthInFont(text) <= room : text.size() <= 10; };
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

int NumericIndicator::widthInFont(const QString& text) const
{
    return remembered(widths_, text, kRememberedTexts, [&] { return QFontMetrics(font()).horizontalAdvance(text); });
}

// ---- RingIndicator -----------------------------------------------------------

RingIndicator::RingIndicator(QWidget* parent)
    : Readout(parent)
{
    setTextAlignment(Qt::AlignCenter);
    setMinimumChars(4);
    refresh();
}

void RingIndicator::setLabels(ValueLabels labels)
{
    labels_ = std::move(labels);
    updatePaintFont();
    refresh();
}

QString RingIndicator::typicalWidest() const
{
    QString widest = QStringLiteral("-128");
    for (const auto& [code, text] : labels_)
        if (text.size() > widest.size())
            widest = text;
    return widest;
}

void RingIndicator::setCodeColours(QHash<int, QColor> colours, QColor other)
{
    colours_ = std::move(colours);
    otherColour_ = std::move(other);
    refresh();
}

void RingIndicator::setValue(int value)
{
    setStale(false);
    if (hasValue_ && value == value_)
        return;
    value_ = value;
    hasValue_ = true;
    refresh();
}

void RingIndicator::setNoValue()
{
    setStale(false);
    if (!hasValue_)
        return;
    hasValue_ = false;
    refresh();
}

void RingIndicator::refresh()
{
    if (!hasValue_) {
        // No mode at all: not a colour any code has.
        setColours({}, {});
        setDisplayText(kNoValue);
        return;
    }
    const QColor background = colours_.value(value_, otherColour_);
    // Dark backgrounds take white text.
    const QColor ink = background.isValid() && background.lightness() < 140 ? QColor(Qt::white) : QColor();
    setColours(background, ink);
    for (const auto& [code, text] : labels_) {
        if (code == value_) {
            setDisplayText(text);
            return;
        }
    }
    // A code the panel file does not name is still shown, as a number.
    setDisplayText(QString::number(value_));
}

// ---- TextMessage -------------------------------------------------------------

TextMessage::TextMessage(QWidget* parent)
    : Readout(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Plain);
    setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setScalesWithHeight(false);
    // A status line changes with every tick at a fast timer: read by a
    // person, it need not be painted faster than it can be read, and
    // painting a long text costs as much as a reading.
    setRemembersTexts(false);
    setRepaintInterval(250);
    setMinimumChars(12);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont plain = font();
    plain.setBold(false);
    setFont(plain);
}

void TextMessage::setMessage(const QString& text)
{
    setDisplayText(text);
    // A tooltip on show follows the line, as the line itself does.
    if (underMouse() && QToolTip::isVisible() && QToolTip::text() != text) {
        setToolTip(text);
        QToolTip::showText(QCursor::pos(), text, this);
    }
}

bool TextMessage::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && toolTip() != text())
        setToolTip(text());
    return Readout::event(event);
}

void TextMessage::setProgramColour(int rgb)
{
    programColour_ = rgb;
    setColours(rgb < 0 ? QColor() : QColor::fromRgb(static_cast<QRgb>(rgb)), {});
}
