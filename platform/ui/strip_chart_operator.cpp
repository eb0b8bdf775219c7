// What the operator does with a chart: keys, the menu and its exports, the
// pointer, the wheel and the tooltip.
#include "strip_chart.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kKeyPan = 0.1; // share of the view a pan key moves it
} // namespace

void StripChart::exportWithDialog(const QString& caption, const QString& filter, const QString& suffix)
{
    QFileDialog dialog(this, caption, QDir::currentPath(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    // Named after what the chart shows and when, so that a session's
    // exports do not overwrite one another: "railmon-voltage-20261210-102615.csv".
    QString shows = yAxis->label().section(QLatin1Char(' '), 0, 0).toLower();
    shows.removeIf([](QChar c) { return !(c.isLetterOrNumber() || c == QLatin1Char('-')); });
    dialog.selectFile(QStringLiteral("railmon-%1-%2.%3")
                          .arg(shows.isEmpty() ? QStringLiteral("chart") : shows,
                               QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")), suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString error;
    if (!exportView(dialog.selectedFiles().first(), &error))
        QMessageBox::warning(this, QStringLiteral("Export failed"), error);
}

void StripChart::contextMenuEvent(QContextMenuEvent* event)
{
    showMenu(event->globalPos());
    event->accept();
}

void StripChart::showMenu(const QPoint& globalPos)
{
    readout_.hide();
    // Each entry has its letter (underlined), for the keyboard.
    QMenu menu(this);
    QAction* live = menu.addAction(QStringLiteral("&Live"));
    live->setCheckable(true);
    live->setChecked(following_);
    QAction* whole = menu.addAction(QStringLiteral("&Whole history"));
    QAction* autoscale = menu.addAction(QStringLiteral("&Autoscale value axis"));
    autoscale->setCheckable(true);
    autoscale->setChecked(!valueAxisFixed_);
    menu.addSeparator();
    QAction* png = menu.addAction(QStringLiteral("Save as &PNG..."));
    QAction* pdf = menu.addAction(QStringLiteral("Save as P&DF..."));
    QAction* csv = menu.addAction(QStringLiteral("Save as &CSV..."));
    // The legend's entries, for the keyboard and assistive technology.
    menu.addSeparator();
    QList<QAction*> traces;
    for (int k = 0; k < graphCount(); ++k) {
        QAction* trace = menu.addAction(QStringLiteral("Show %1").arg(graph(k)->name()));
        trace->setCheckable(true);
        trace->setChecked(graph(k)->visible());
        if (k < 9)
            trace->setShortcut(QKeySequence(Qt::Key_1 + k));
        traces << trace;
    }
    QAction* chosen = menu.exec(globalPos);
    if (chosen == live)
        setFollowing(live->isChecked());
    else if (chosen == whole)
        showWholeHistory();
    else if (chosen == autoscale)
        setValueAxisFixed(!autoscale->isChecked());
    else if (chosen == png)
        exportWithDialog(QStringLiteral("Save chart as PNG"), QStringLiteral("PNG image (*.png)"), "png");
    else if (chosen == pdf)
        exportWithDialog(QStringLiteral("Save chart as PDF"), QStringLiteral("PDF document (*.pdf)"), "pdf");
    else if (chosen == csv)
        exportWithDialog(QStringLiteral("Save visible range as CSV"), QStringLiteral("CSV table (*.csv)"), "csv");
    else if (const qsizetype k = traces.indexOf(chosen); k >= 0)
        setTraceShown(static_cast<int>(k) + 1, chosen->isChecked());
}

void StripChart::keyPressEvent(QKeyEvent* event)
{
    const QCPRange view = xAxis->range();
    const int key = event->key();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (key == Qt::Key_Menu || (key == Qt::Key_F10 && shift)) {
        const QRect area = axisRect()->rect();
        showMenu(mapToGlobal(area.isValid() ? area.center() : rect().center()));
    } else if (key == Qt::Key_Plus || key == Qt::Key_Equal) {
        xAxis->scaleRange(kWheelZoom, view.center());
    } else if (key == Qt::Key_Minus) {
        xAxis->scaleRange(1 / kWheelZoom, view.center());
    } else if (key == Qt::Key_Left || key == Qt::Key_Right) {
        xAxis->moveRange((key == Qt::Key_Left ? -kKeyPan : kKeyPan) * view.size());
    } else if (key == Qt::Key_End || key == Qt::Key_L) {
        setFollowing(true);
    } else if (key == Qt::Key_Home) {
        showWholeHistory();
    } else if (key == Qt::Key_A) {
        setValueAxisFixed(!valueAxisFixed_);
    } else if (key >= Qt::Key_1 && key < Qt::Key_1 + std::min(graphCount(), 9)) {
        const int trace = key - Qt::Key_1 + 1;
        setTraceShown(trace, !traceShown(trace));
    } else {
        QCustomPlot::keyPressEvent(event);
        return;
    }
    requestReplot();
    event->accept();
}

void StripChart::focusInEvent(QFocusEvent* event)
{
    QCustomPlot::focusInEvent(event);
    update(); // the focus frame
}

void StripChart::focusOutEvent(QFocusEvent* event)
{
    QCustomPlot::focusOutEvent(event);
    update();
}

bool StripChart::event(QEvent* event)
{
    // The keys as a tooltip over the axes and the legend; over the plotted
    // area the hover readout says what lies under the pointer instead.
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (axisRect()->rect().contains(help->pos()))
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), QString::fromLatin1(kKeys), this);
        return true;
    }
    return QCustomPlot::event(event);
}

void StripChart::mouseMoveEvent(QMouseEvent* event)
{
    QCustomPlot::mouseMoveEvent(event);
    if (axisRect()->rect().contains(event->pos())) {
        hoverX_ = event->pos().x();
        readout_.showAt(hoverX_);
    } else
        readout_.hide();
}

void StripChart::leaveEvent(QEvent* event)
{
    readout_.hide();
    QCustomPlot::leaveEvent(event);
}

void StripChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    QCustomPlot::mouseDoubleClickEvent(event);
    setFollowing(true);
}

void StripChart::wheelEvent(QWheelEvent* event)
{
    // Over the value axis the wheel zooms the value axis, which then stays
    // as the operator set it.
    const QPoint at = event->position().toPoint();
    const QRect rect = axisRect()->rect();
    if (at.x() < rect.left() && at.y() >= rect.top() && at.y() <= rect.bottom()) {
        const double notches = event->angleDelta().y() / 120.0;
        if (notches != 0) {
            yAxis->scaleRange(std::pow(kWheelZoom, notches), yAxis->pixelToCoord(at.y()));
            requestReplot();
        }
        event->accept();
        return;
    }
    QCustomPlot::wheelEvent(event);
}
