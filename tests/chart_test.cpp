// The strip charts as an operator works them on the shipped panel: real
// mouse and wheel events through Qt's event system, the context menu and its
// file dialog, and the files the exports leave, checked by content.
#include "railmon-ctrl.h"
#include "strip_chart.h"
#include "test_paths.h"
#include "userint.h"
#include "userint_testing.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

const char* const kLabels[] = {"CH +18V", "CH -18V", "CH +6V", "CH -6V"};
const QColor kFirstTrace(200, 30, 30), kSecondTrace(30, 90, 200);

// Runs `act` on the first widget `find` returns, once it is up (a popup
// menu's or a dialog's own loop is running by then).
void whenUp(std::function<QWidget*()> find, std::function<void(QWidget*)> act)
{
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget* widget = find();
        if (widget || ++*tries > 250) {
            poll->stop();
            poll->deleteLater();
            if (widget)
                act(widget);
        }
    });
    poll->start(20);
}

class Chart : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("railmon-chart-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        panel_ = LoadPanel(0, RAILMON_PANEL_FILE, PANEL);
        ASSERT_GT(panel_, 0);
        for (int k = 0; k < 4; ++k)
            SetTraceAttributeEx(panel_, PANEL_ICHART, k + 1, ATTR_TRACE_LG_TEXT, kLabels[k]);
        window_ = uiPanelWidget(panel_);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
        chart_ = qobject_cast<StripChart*>(uiControlObject(panel_, PANEL_ICHART));
        ASSERT_TRUE(chart_);
    }
    void TearDown() override
    {
        DiscardPanel(panel_);
        std::filesystem::remove_all(dir_);
    }
    // n plots of the same four values, a few milliseconds apart.
    void plot(int n, std::array<double, 4> values)
    {
        for (int i = 0; i < n; ++i) {
            PlotStripChart(panel_, PANEL_ICHART, values.data(), 4, 0, 0, VAL_DOUBLE);
            QTest::qWait(3);
        }
        frame();
    }
    void frame()
    {
        chart_->updateView();
        chart_->replot();
    }
    double newest() const { return (chart_->graph(0)->data()->constEnd() - 1)->key; }
    double oldest() const { return chart_->graph(0)->data()->constBegin()->key; }
    // A young history's following view: from its oldest point, the newest in view.
    void expectFollowsYoung() const
    {
        EXPECT_DOUBLE_EQ(chart_->xAxis->range().lower, oldest());
        EXPECT_TRUE(chart_->xAxis->range().contains(newest()));
    }
    QPoint plotCentre() const { return chart_->axisRect()->rect().center(); }
    void wheel(QPoint at, int notches)
    {
        QWheelEvent event(at, chart_->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(chart_, &event);
        frame();
    }
    // Rows of the chart's picture that hold a pixel of this colour, in the plot area.
    int rowsWith(const QColor& colour)
    {
        const QImage image = chart_->grab().toImage();
        const QRect area = chart_->axisRect()->rect().adjusted(1, 1, -1, -1);
        int rows = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y) == colour) {
                    ++rows;
                    break;
                }
        return rows;
    }
    int rowOf(double value) const { return int(std::lround(chart_->yAxis->coordToPixel(value))); }
    bool rowHas(const QImage& image, int y, const QColor& colour) const
    {
        const QRect area = chart_->axisRect()->rect();
        for (int dy = -1; dy <= 1; ++dy)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.pixelColor(x, y + dy) == colour)
                    return true;
        return false;
    }
    // Right-clicks the chart, picks `action` in its menu and saves to `path`
    // through the file dialog.
    void exportThroughMenu(const QString& action, const QString& path)
    {
        whenUp([] { return QApplication::activePopupWidget(); },
               [=](QWidget* popup) {
                   auto* menu = qobject_cast<QMenu*>(popup);
                   for (QAction* a : menu->actions())
                       if (QString(a->text()).remove(QLatin1Char('&')) == action)
                           QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
               });
        whenUp([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
               [=](QWidget* dialog) {
                   auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                   name->setText(path);
                   QTest::keyClick(name, Qt::Key_Return);
               });
        const QPoint at = chart_->mapTo(window_, plotCentre());
        QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {}, at);
    }

    std::filesystem::path dir_;
    int panel_ = 0;
    QWidget* window_ = nullptr;
    StripChart* chart_ = nullptr;
};

} // namespace

TEST_F(Chart, FollowsTheNewestDataUntilTheOperatorZoomsOrPansAndLiveOrADoubleClickReturns)
{
    plot(30, {0.1, 0.2, 0.3, 0.4});
    EXPECT_TRUE(chart_->following());
    EXPECT_TRUE(chart_->liveButton()->isVisible());
    expectFollowsYoung();

    // The wheel zooms the time axis and holds the view; the history goes on.
    const double before = chart_->xAxis->range().size();
    wheel(plotCentre(), 3);
    EXPECT_LT(chart_->xAxis->range().size(), before * 0.7);
    EXPECT_FALSE(chart_->following());
    EXPECT_FALSE(chart_->liveButton()->isChecked());
    const QCPRange held = chart_->xAxis->range();
    plot(10, {0.1, 0.2, 0.3, 0.4});
    EXPECT_EQ(chart_->graph(0)->data()->size(), 40);
    EXPECT_EQ(chart_->xAxis->range(), held) << "the held view moved";

    // A drag to the right looks back in time.
    const QPoint from = plotCentre();
    QTest::mousePress(chart_, Qt::LeftButton, {}, from);
    QTest::mouseMove(chart_, from + QPoint(80, 0));
    QTest::mouseRelease(chart_, Qt::LeftButton, {}, from + QPoint(80, 0));
    frame();
    EXPECT_LT(chart_->xAxis->range().upper, held.upper);
    EXPECT_NEAR(chart_->xAxis->range().size(), held.size(), 1e-6);

    // Live follows again.
    QTest::mouseClick(chart_->liveButton(), Qt::LeftButton);
    frame();
    EXPECT_TRUE(chart_->following());
    expectFollowsYoung();

    // The wheel over the value axis fixes it; a double-click follows and
    // scales it again.
    const QPoint valueAxis(chart_->axisRect()->left() - 10, plotCentre().y());
    wheel(valueAxis, -2);
    EXPECT_TRUE(chart_->valueAxisFixed());
    EXPECT_TRUE(chart_->following()) << "the value axis alone does not hold the time axis";
    wheel(plotCentre(), -60);
    EXPECT_LE(chart_->xAxis->range().size(), 1.05 * chart_->historySeconds()) << "zoomed out past the history";
    EXPECT_GE(chart_->xAxis->range().size(), 0.9 * chart_->historySeconds()) << "the whole hour is a zoom away";
    QTest::mouseDClick(chart_, Qt::LeftButton, {}, plotCentre());
    frame();
    EXPECT_TRUE(chart_->following());
    EXPECT_FALSE(chart_->valueAxisFixed());
    expectFollowsYoung();
    EXPECT_LT(chart_->yAxis->range().upper, 0.5) << "not scaled to the traces again";
}

TEST_F(Chart, TheFollowingViewFillsThenSlidesByPixelsAndAFrameOfNewPointsShowsWhatAWholeRepaintShows)
{
    // Ten minutes at the fastest timer, as the timer plots them, a frame
    // every third plot.
    const double start = std::floor(QDateTime::currentSecsSinceEpoch() / 3600.0) * 3600.0 + 7200.0;
    auto feed = [&](int from, int to, bool step = false, int framesEvery = 3) {
        for (int i = from; i < to; ++i) {
            const double t = i * 0.05; // [s]
            const double values[4] = {step ? 0.9 : 0.3 * std::sin(t / 7.0), 0.5 * std::cos(t / 3.0), std::sin(t), -0.5};
            chart_->plotAt(start + t, values, 4);
            if (i % framesEvery == 0)
                chart_->paintFrameNow();
        }
    };
    // A young history fills a view from its oldest point, widening in steps.
    feed(0, 500); // 25 s
    EXPECT_DOUBLE_EQ(chart_->xAxis->range().lower, start);
    EXPECT_DOUBLE_EQ(chart_->xAxis->range().size(), 30.0);
    // Five minutes on, the view slides, the newest point in its last pixel.
    feed(500, 12000);
    const QCPRange view = chart_->xAxis->range();
    EXPECT_DOUBLE_EQ(view.size(), 300.0);
    EXPECT_GE(view.upper, newest());
    EXPECT_LT(view.upper - newest(), view.size() / chart_->axisRect()->width());

    // What frames of new points drew, against the chart drawn whole: just
    // after the view slid a pixel (and the chart was drawn whole), the first
    // trace steps up within the value axis, a long stroke to draw.
    int i = 12000;
    for (const QCPRange before = chart_->xAxis->range(); chart_->xAxis->range() == before; ++i)
        feed(i, i + 1, false, 1);
    feed(i, i + 5, true, 1); // 0.25 s, within the pixel
    const QImage framed = chart_->grab().toImage();
    chart_->setTraceLabel(1, kLabels[0]); // the same label: drawn whole
    const QImage whole = chart_->grab().toImage();
    ASSERT_EQ(framed.size(), whole.size());
    const QRect area = chart_->axisRect()->rect();
    int traced = 0, differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            traced += whole.pixel(x, y) != whole.pixel(area.left() + 1, area.top() + 1);
            differing += framed.pixel(x, y) != whole.pixel(x, y);
        }
    }
    EXPECT_GT(traced, 500);
    EXPECT_LT(differing, area.height() / 10) << "pixels differ";
}

TEST_F(Chart, HoverReadsEveryShownTraceEqualValuesStayApartAndTheLegendHidesATrace)
{
    // The first two traces at the same value.
    plot(20, {2.0, 2.0, 3.0, 4.0});
    // Across the whole width, so each line style shows its pattern.
    chart_->showWholeHistory();
    frame();
    const QImage image = chart_->grab().toImage();
    EXPECT_TRUE(rowHas(image, rowOf(2.0), kFirstTrace));
    EXPECT_TRUE(rowHas(image, rowOf(2.0), kSecondTrace)) << "the second trace hides the first";

    const QPoint at(int(chart_->xAxis->coordToPixel(newest())) - 1, plotCentre().y());
    QTest::mouseMove(chart_, at);
    const QString text = chart_->readoutText();
    EXPECT_THAT(text.toStdString(), testing::ContainsRegex("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}\\.[0-9]{3}\n"));
    for (const char* line : {"CH +18V  2\n", "CH -18V  2\n", "CH +6V  3\n", "CH -6V  4"})
        EXPECT_THAT(text.toStdString(), testing::HasSubstr(line));

    // A click on the second legend entry hides its trace, a second shows it.
    const QPoint entry = chart_->legend->itemWithPlottable(chart_->graph(1))->rect().center();
    QTest::mouseClick(chart_, Qt::LeftButton, {}, entry);
    frame();
    EXPECT_FALSE(chart_->traceShown(2));
    EXPECT_EQ(rowsWith(kSecondTrace), 0);
    EXPECT_GT(rowsWith(kFirstTrace), 0);
    QTest::mouseMove(chart_, at);
    EXPECT_THAT(chart_->readoutText().toStdString(), testing::Not(testing::HasSubstr("CH -18V")));
    QTest::mouseClick(chart_, Qt::LeftButton, {}, entry);
    frame();
    EXPECT_TRUE(chart_->traceShown(2));
    EXPECT_GT(rowsWith(kSecondTrace), 0);
}

TEST_F(Chart, ContextMenuSavesTheViewAsPngPdfAndCsvOfTheVisibleRange)
{
    plot(25, {0.5, std::nan(""), 1.25, -0.75});
    const QString png = QString::fromStdString((dir_ / "chart.png").string());
    const QString pdf = QString::fromStdString((dir_ / "chart.pdf").string());
    const QString csv = QString::fromStdString((dir_ / "chart.csv").string());
    exportThroughMenu("Save as PNG...", png);
    exportThroughMenu("Save as PDF...", pdf);
    // Look back so the visible range holds only part of the points.
    const double cut = chart_->graph(0)->data()->at(10)->key;
    chart_->setFollowing(false);
    chart_->xAxis->setRange(cut - 5.0, cut);
    exportThroughMenu("Save as CSV...", csv);

    const QImage picture(png);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), chart_->size());
    bool traceDrawn = false;
    for (int x = 0; x < picture.width() && !traceDrawn; ++x)
        for (int y = 0; y < picture.height() && !traceDrawn; ++y)
            traceDrawn = picture.pixelColor(x, y) == kFirstTrace;
    EXPECT_TRUE(traceDrawn);

    QFile document(pdf);
    ASSERT_TRUE(document.open(QIODevice::ReadOnly));
    EXPECT_TRUE(document.read(5) == "%PDF-");
    EXPECT_GT(document.size(), 1000);

    QFile table(csv);
    ASSERT_TRUE(table.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(table.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 11) << "the header and the 11 points up to the cut";
    EXPECT_EQ(lines[0], "time,CH +18V,CH -18V,CH +6V,CH -6V");
    const QRegularExpression row(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d),0\\.5,,1\\.25,-0\\.75$");
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(row.match(lines[i]).hasMatch()) << lines[i].toStdString();
}

TEST_F(Chart, ReadingsThatNeverCameAreAGapButTicksAndASlowerPaceAreDrawnAcross)
{
    // Ticks of 1 s, 30 s without a reading (the process stopped), ticks of
    // 1 s again, then the operator sets a 5 s interval. Drawn frame by frame
    // as the timer plots, into a view that holds it all.
    const double start = std::floor(QDateTime::currentSecsSinceEpoch() / 3600.0) * 3600.0 + 7200.0;
    chart_->setFollowing(false);
    chart_->xAxis->setRange(start - 5.0, start + 205.0);
    const double values[4] = {0.5, 1.0, 1.5, 2.0};
    std::vector<double> ticks;
    for (double t = 0; t <= 60; ++t)
        ticks.push_back(t);
    for (double t = 90; t <= 120; ++t)
        ticks.push_back(t);
    for (double t = 125; t <= 200; t += 5)
        ticks.push_back(t);
    for (double t : ticks) {
        chart_->plotAt(start + t, values, 4);
        chart_->paintFrameNow();
    }
    const QImage image = chart_->grab().toImage();
    const int y = rowOf(0.5);
    auto drawnAt = [&](double t) {
        const int x = int(std::lround(chart_->xAxis->coordToPixel(start + t)));
        for (int dy = -1; dy <= 1; ++dy)
            if (image.pixelColor(x, y + dy) == kFirstTrace)
                return true;
        return false;
    };
    for (double t : {10.5, 59.5, 90.5, 119.5, 122.5, 127.5, 199.5})
        EXPECT_TRUE(drawnAt(t)) << "a line at " << t << " s";
    for (double t : {62.0, 75.0, 88.0})
        EXPECT_FALSE(drawnAt(t)) << "no line across the pause at " << t << " s";

    // The export holds every reading and one row of empty cells where the
    // next reading was due, nothing for the pace change.
    const QString csv = QString::fromStdString((dir_ / "gaps.csv").string());
    QString error;
    ASSERT_TRUE(chart_->exportView(csv, &error)) << error.toStdString();
    QFile table(csv);
    ASSERT_TRUE(table.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(table.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), qsizetype(1 + ticks.size() + 1));
    const QStringList empty = lines.filter(QRegularExpression(",,,,$"));
    ASSERT_EQ(empty.size(), 1);
    EXPECT_TRUE(empty[0].startsWith(
        QDateTime::fromMSecsSinceEpoch(qint64(start + 61.0) * 1000).toString("yyyy-MM-dd'T'HH:mm:ss.zzz")))
        << empty[0].toStdString();
}

TEST_F(Chart, TimeLabelsNeverOverlapAtAnyWidthAndSpansOfHoursShowHours)
{
    plot(2, {1, 2, 3, 4});
    chart_->setFollowing(false);
    const double end = newest();
    for (int width : {chart_->minimumWidth(), 400, 700, 1400}) {
        for (double span : {3.0, 60.0, 600.0, 3 * 3600.0, 3 * 86400.0}) {
            SCOPED_TRACE(std::to_string(width) + " px, " + std::to_string(span) + " s");
            chart_->resize(width, 300);
            chart_->xAxis->setRange(end - span, end);
            chart_->replot();
            const QFontMetrics metrics(chart_->xAxis->tickLabelFont());
            const QVector<double> ticks = chart_->xAxis->tickVector();
            const QVector<QString> labels = chart_->xAxis->tickVectorLabels();
            ASSERT_GE(ticks.size(), 1);
            double lastRight = -1e9;
            for (int i = 0; i < ticks.size(); ++i) {
                const double centre = chart_->xAxis->coordToPixel(ticks[i]);
                const double half = metrics.horizontalAdvance(labels[i]) / 2.0;
                EXPECT_GT(centre - half, lastRight) << labels[i].toStdString() << " runs into its neighbour";
                lastRight = centre + half;
            }
            if (span >= 3600 && span < 86400) {
                EXPECT_THAT(labels[0].toStdString(), testing::MatchesRegex("[0-9]{2}:[0-9]{2}"));
            }
        }
    }
}
