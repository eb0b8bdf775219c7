#include "railmon_designer_plugin.h"

#include "indicators.h"
#include "numeric_control.h"
#include "output_switch.h"
#include "strip_chart.h"

#include <QPainter>

namespace {

// What a timer control is in the form: a widget that only carries its
// properties. Designer shows it as a small labelled box so it can be found
// and selected; it adds no property of its own, so the form stays one the
// panel loader reads.
class TimerStandIn : public QWidget {
public:
    using QWidget::QWidget;
    QSize sizeHint() const override { return {96, 24}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Mid), 1, Qt::DashLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("timer"));
    }
};

// A form snippet: the class, its default size and its properties.
QString snippet(const QString& cls, const QString& name, int width, int height, const QString& properties)
{
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"%1\" name=\"%2\">\n"
                          "  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>%3</width>"
                          "<height>%4</height></rect></property>\n"
                          "%5"
                          " </widget>\n"
                          "</ui>\n")
        .arg(cls, name)
        .arg(width)
        .arg(height)
        .arg(properties);
}

QString formProperty(const QString& name, const QString& element)
{
    return QStringLiteral("  <property name=\"%1\" stdset=\"0\">%2</property>\n").arg(name, element);
}

} // namespace

PanelWidgetInterface::PanelWidgetInterface(QString name, QString header, QString tip, QString domXml, Factory create,
                                           QObject* parent)
    : QObject(parent)
    , name_(std::move(name))
    , header_(std::move(header))
    , tip_(std::move(tip))
    , domXml_(std::move(domXml))
    , create_(std::move(create))
{
}

RailmonDesignerPlugin::RailmonDesignerPlugin(QObject* parent)
    : QObject(parent)
{
    const QString id = formProperty(QStringLiteral("ctrlId"), QStringLiteral("<number>0</number>"));
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("StripChart"), QStringLiteral("strip_chart.h"),
        QStringLiteral("Strip chart: traceCount traces, historySeconds of history, at most maxPointsPerTrace points"),
        snippet(QStringLiteral("StripChart"), QStringLiteral("stripChart"), 400, 240,
                id + formProperty(QStringLiteral("traceCount"), QStringLiteral("<number>4</number>")) +
                    formProperty(QStringLiteral("historySeconds"), QStringLiteral("<number>3600</number>")) +
                    formProperty(QStringLiteral("maxPointsPerTrace"), QStringLiteral("<number>72000</number>")) +
                    formProperty(QStringLiteral("yLabel"), QStringLiteral("<string>Value</string>"))),
        [](QWidget* parent) { return new StripChart(parent); }, this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("NumericIndicator"), QStringLiteral("indicators.h"),
        QStringLiteral("Read-only number: decimals digits after the point, --- for no value"),
        snippet(QStringLiteral("NumericIndicator"), QStringLiteral("numericIndicator"), 100, 24,
                id + formProperty(QStringLiteral("decimals"), QStringLiteral("<number>3</number>"))),
        [](QWidget* parent) {
            auto* indicator = new NumericIndicator(parent);
            indicator->setValue(0.0);
            return indicator;
        },
        this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("RingIndicator"), QStringLiteral("indicators.h"),
        QStringLiteral("Read-only code shown through valueLabels (\"0=CV;1=CC;2=OFF\")"),
        snippet(QStringLiteral("RingIndicator"), QStringLiteral("ringIndicator"), 80, 24,
                id + formProperty(QStringLiteral("valueLabels"), QStringLiteral("<string>0=CV;1=CC;2=OFF</string>")) +
                    formProperty(QStringLiteral("valueColours"),
                                 QStringLiteral("<string>0=#1b7f3a;1=#c62828;2=#5f6368</string>")) +
                    formProperty(QStringLiteral("otherColour"), QStringLiteral("<string>#e0a000</string>"))),
        [](QWidget* parent) { return new RingIndicator(parent); }, this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("TextMessage"), QStringLiteral("indicators.h"),
        QStringLiteral("A line of text the program writes, such as a status field"),
        snippet(QStringLiteral("TextMessage"), QStringLiteral("textMessage"), 200, 24, id),
        [](QWidget* parent) {
            auto* message = new TextMessage(parent);
            message->setMessage(QStringLiteral("Status"));
            return message;
        },
        this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("OutputSwitch"), QStringLiteral("output_switch.h"),
        QStringLiteral("Switch for live outputs: ON green, OFF grey; onValue and offValue"),
        snippet(QStringLiteral("OutputSwitch"), QStringLiteral("outputSwitch"), 120, 40,
                id + formProperty(QStringLiteral("onValue"), QStringLiteral("<number>1</number>")) +
                    formProperty(QStringLiteral("offValue"), QStringLiteral("<number>0</number>"))),
        [](QWidget* parent) { return new OutputSwitch(parent); }, this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("NumericControl"), QStringLiteral("numeric_control.h"),
        QStringLiteral("Number entry that refuses what is out of range and can show no value"),
        snippet(QStringLiteral("NumericControl"), QStringLiteral("numericControl"), 110, 24, id),
        [](QWidget* parent) {
            auto* control = new NumericControl(parent);
            control->finishLoading();
            return control;
        },
        this);
    widgets_ << new PanelWidgetInterface(
        QStringLiteral("TimerControl"), QStringLiteral("timer_control.h"),
        QStringLiteral("Timer: no widget at run time; interval (s) and enabled"),
        snippet(QStringLiteral("TimerControl"), QStringLiteral("timer"), 96, 24,
                id + formProperty(QStringLiteral("interval"), QStringLiteral("<double>1.0</double>")) +
                    formProperty(QStringLiteral("enabled"), QStringLiteral("<bool>false</bool>"))),
        [](QWidget* parent) { return new TimerStandIn(parent); }, this);
}
