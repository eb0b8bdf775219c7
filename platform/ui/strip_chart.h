// A strip chart: a fixed number of traces that each gain one point per plot,
// against wall-clock time. It remembers a stretch of time (the history),
// with a cap on the points per trace so a timer faster than any panel allows
// cannot grow memory without bound.
//
// The view: by default the last few minutes, following the newest data. The
// mouse wheel zooms the time axis (over the value axis: the value axis), a
// drag pans it; while the operator looks back the view stays put (the
// history goes on growing) until the "Live" button or a double-click
// returns to following. The value axis scales to the shown traces over the
// shown time unless the operator zoomed it. Hovering shows the time and
// every shown trace's value; a click on a legend entry hides or shows its
// trace; the context menu saves the view as PNG, PDF or CSV.
#pragma once

#include "chart_readout.h"

#include <qcustomplot.h>

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

class QToolButton;

class StripChart : public QCustomPlot {
    Q_OBJECT
public:
    static constexpr double kDefaultHistorySeconds = 3600.0;
    static constexpr int kDefaultMaxPointsPerTrace = 72000;
    // What the default view shows of the history [s].
    static constexpr double kDefaultViewSeconds = 300.0;

    explicit StripChart(QWidget* parent = nullptr);

    // Sets the number of traces, the time each remembers [s] and the most
    // points each keeps (>= 2); drops what was plotted.
    void configure(int traceCount, double historySeconds, int maxPointsPerTrace);
    int traceCount() const { return graphCount(); }
    double historySeconds() const { return historySeconds_; }
    int maxPointsPerTrace() const { return maxPoints_; }

    // Trace numbers start at 1, as the runtime's callers count them.
    bool setTraceLabel(int trace, const QString& label);
    // One new point per trace at the present time; values[k] goes to trace k+1.
    void plot(const double* values, int count);
    // The same at a given time [s since the epoch], for replaying a history
    // (benchmarks, pictures); a key not after the newest one is taken as
    // just after it.
    void plotAt(double key, const double* values, int count);

    // The largest magnitude drawn; beyond it a value is drawn as a gap, as
    // the axis could not scale to it.
    static double largestDrawable();

    // Following the newest data (the default view), or held where the
    // operator put it. Following again returns to the default view and
    // lets the value axis scale itself.
    bool following() const { return following_; }
    void setFollowing(bool follow);
    // Whether the operator fixed the value axis (zoomed it).
    bool valueAxisFixed() const { return valueAxisFixed_; }
    void setValueAxisFixed(bool fixed);
    // Holds the view on the whole history.
    void showWholeHistory();

    bool traceShown(int trace) const;
    void setTraceShown(int trace, bool shown);

    // Saves the view by the extension: .png, .pdf or .csv (the visible
    // range, one column per trace). False with the reason otherwise.
    bool exportView(const QString& path, QString* error);

    // What the hover readout shows now; empty when it is hidden.
    QString readoutText() const { return readout_.text(); }
    QToolButton* liveButton() const { return live_; }

    // Applies following and the value axis' scaling now; each frame does it
    // before it paints.
    void updateView();
    // A frame now (benchmarks): the view applied and the chart repainted.
    void paintFrameNow();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    static constexpr double kWheelZoom = 0.85; // range factor per wheel notch
    // The keys of a chart with the keyboard's focus, for its tooltip, its
    // description for assistive technology and its menu.
    static constexpr const char* kKeys =
        "Keys: + and - zoom the time axis, Left and Right move it, End (or L) goes live, "
        "Home shows the whole history, A switches autoscale, 1 to 4 show or hide a channel's trace, "
        "Menu or Shift+F10 opens the menu (save as PNG, PDF or CSV)";

    // The chart's menu (right click, Menu key, Shift+F10) at a point of the screen.
    void showMenu(const QPoint& globalPos);
    void requestReplot();
    void paintFrame();
    // Applies the view and draws what it can onto the picture; what the
    // window must repaint for it.
    QRegion frameChanges();
    // Before QCustomPlot's own replots too.
    void layOutForWidth();
    // What a frame repaints: the chart without what stands on it unchanged.
    QRegion frameRegion() const;
    // The view of the last minutes that follows the newest data.
    QCPRange followingView(double oldest) const;

    // The chart's picture: made whole when anything but new points changed
    // it; a frame that only adds points draws their segments onto it and
    // repaints the strip they fall in, not the whole chart.
    struct PictureKey {
        QRect viewport;
        qreal ratio = 1.0;
        QCPRange time, value;
        QString timeLabel, valueLabel;
        bool overlay = false;
        quint64 looks = 0;
        bool operator==(const PictureKey&) const = default;
    };
    PictureKey pictureKey() const;
    bool pictureCurrent() const;
    void renderPicture();
    // Draws the points plotted since onto the picture; where, or empty.
    QRect drawNewPoints();
    QPixmap picture_;
    PictureKey pictured_;
    bool pictureStale_ = true;    // a point drawn in it left the history
    quint64 looks_ = 0;           // counts changes of looks the key holds no other sign of
    QVector<double> drawnUpTo_;   // per trace: the newest point's key in the picture
    QVector<double> dashOffsets_; // per trace: where its dashes are, in pen widths
    void timeRangeChanged(const QCPRange& range);
    void valueRangeChanged();
    void legendClicked(QCPAbstractLegendItem* item);
    void placeLiveButton();
    // The key of the gap point (NaN, which breaks the line) the step to a
    // point at `now` [s since the epoch] needs; NaN for none. A step much
    // longer than the one before is a gap, by railmon-plot's rule: readings
    // that never came are never drawn across. Taken back at the next point
    // when that one shows the pace only slowed (a longer interval).
    double gapBefore(double now);
    // Drops what is past the history or the cap; true when that changes
    // the values in view.
    bool trim(QCPGraphDataContainer& data, double now, bool shown);
    // The values of a view that slid forward from the last scanned one,
    // from the points that entered and left it; false when the last point
    // at an edge of the values left, and a scan is needed.
    bool slideValues(const QCPRange& view);
    // The shown values' extremes over the view, and how many points hold
    // each; false when no shown point is there.
    bool scanValues(const QCPRange& view);
    // A shown point of the scanned view leaves it; false when it was the
    // last at an edge of the values.
    bool valueLeaves(double value);
    void valueEnters(double value);
    void exportWithDialog(const QString& caption, const QString& filter, const QString& suffix);

    // Paces repaints to the display's frame rate: a burst of plots, or a
    // timer faster than the eye, costs one repaint per frame.
    QTimer frameTimer_;
    double historySeconds_ = kDefaultHistorySeconds;
    int maxPoints_ = kDefaultMaxPointsPerTrace;
    // Points trimmed from the front since the containers were last
    // compacted: compacting now and then, not at each plot, keeps a plot
    // cheap and the memory at most an eighth above the cap.
    int trimmedSinceCompact_ = 0;
    // Chart time runs on a monotonic clock from the wall-clock time at which
    // the chart was made, so a wall clock set back (or forward) neither piles
    // points into one instant nor tears a hole in the history.
    QElapsedTimer clock_;
    double startWall_ = 0.0; // seconds since the epoch
    double lastKey_ = 0.0;   // seconds since the epoch
    double firstKey_ = NAN;  // seconds since the epoch
    // The newest point's key since configure [s since the epoch], the step
    // between the last two points not taken as a gap [s], and the last step
    // taken as one, with its gap point's key, until the next point confirms it.
    double plottedUpTo_ = NAN;
    double usualStep_ = NAN;
    double gapStep_ = NAN;
    double gapKey_ = NAN;
    bool following_ = true;
    bool valueAxisFixed_ = false;
    bool settingView_ = false; // the chart itself moves the axes
    // The time range the value axis was last scaled for, and whether the
    // points in view changed since: a held view of an hour is not scanned
    // again at every frame.
    QCPRange scaledFor_;
    QCPRange scannedValues_; // the shown values' extremes found then
    // How many shown points in that view hold each extreme: noisy readings
    // come in steps of the meters' resolution, so an extreme is held by
    // many points, and only the last of them leaving needs a new scan.
    int atLower_ = 0;
    int atUpper_ = 0;
    bool haveScanned_ = false;
    bool valuesChanged_ = true;
    bool valuesEntered_ = false; // new points counted into the extremes since the last view
    int laidOutWidth_ = -1;      // [px] the width ticks were last made for
    int hoverX_ = 0;             // [px] where the cursor rests over the plot
    ChartReadout readout_;
    QToolButton* live_;
};
