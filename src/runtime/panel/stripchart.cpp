#include "runtime/panel/stripchart.h"

#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "runtime/model/panel_model.h"

namespace orv_rt {

namespace {

// A tick step of 1, 2 or 5 times a power of ten giving about 8 intervals.
double NiceStep(double range) {
    if (!(range > 0))
        return 1;
    const double raw = range / 8;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    const double nice = f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10;
    return nice * mag;
}

}  // namespace

StripChart::StripChart(QWidget* parent) : QChartView(parent) {
    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->setBackgroundRoundness(0);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->legend()->setAlignment(Qt::AlignTop);
    chart_->legend()->setVisible(true);
    chart_->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    axisX_ = new QValueAxis;
    axisX_->setLabelFormat("%d");
    axisX_->setTickType(QValueAxis::TicksDynamic);
    axisX_->setTickAnchor(0);
    axisX_->setTickInterval(10);
    axisX_->setRange(0, pps_ - 1);
    axisY_ = new QValueAxis;
    axisY_->setLabelFormat("%d");
    axisY_->setTickType(QValueAxis::TicksDynamic);
    axisY_->setTickAnchor(0);
    axisY_->setTickInterval(128);
    axisY_->setRange(baseMin_, baseMax_);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);

    setChart(chart_);
    setRenderHint(QPainter::Antialiasing, false);
    setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
    setMinimumSize(360, 240);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    pending_.setSingleShot(true);
    connect(&pending_, &QTimer::timeout, this, &StripChart::refresh);
}

void StripChart::setChartTitle(const QString& t) {
    title_ = t;
    chart_->setTitle(t);
}

void StripChart::setTraceNames(const QString& names) {
    names_ = names.split(';');
    for (std::size_t i = 0; i < series_.size(); ++i)
        series_[i]->setName(static_cast<qsizetype>(i) < names_.size()
                                ? names_[static_cast<qsizetype>(i)]
                                : QStringLiteral("trace %1").arg(i + 1));
}

void StripChart::setDashedTraces(const QString& list) {
    dashed_ = list;
    applyPens();
}

void StripChart::setXTitle(const QString& t) {
    xTitle_ = t;
    axisX_->setTitleText(t);
}

void StripChart::setYTitle(const QString& t) {
    yTitle_ = t;
    axisY_->setTitleText(t);
}

void StripChart::setYMin(double v) {
    baseMin_ = v;
    updateAxes();
}

void StripChart::setYMax(double v) {
    baseMax_ = v;
    updateAxes();
}

const Control* StripChart::model() const {
    return FindControl(panel_, control_);
}

void StripChart::bind(int panel, int control) {
    panel_ = panel;
    control_ = control;
    showLayout();
}

void StripChart::showLayout() {
    const Control* c = model();
    if (!c)
        return;
    const auto n = static_cast<int>(c->traces.size());
    if (n != static_cast<int>(series_.size())) {
        for (QLineSeries* s : series_) {
            chart_->removeSeries(s);
            delete s;
        }
        series_.clear();
        for (int i = 0; i < n; ++i) {
            auto* s = new QLineSeries;
            s->setUseOpenGL(false);
            chart_->addSeries(s);
            s->attachAxis(axisX_);
            s->attachAxis(axisY_);
            series_.push_back(s);
        }
        setTraceNames(traceNames());
    }
    applyPens();
    if (pps_ != c->pointsPerScreen) {
        pps_ = c->pointsPerScreen;
        axisX_->setRange(0, pps_ - 1);
        axisX_->setTickInterval(NiceStep(pps_ - 1));
    }
    rebuildSeries();
    updateAxes();
}

void StripChart::applyPens() {
    const Control* c = model();
    for (std::size_t i = 0; c && i < series_.size() && i < c->colors.size(); ++i) {
        bool dashed = false;
        for (const QString& part : dashed_.split(',', Qt::SkipEmptyParts))
            if (part.trimmed().toInt() == static_cast<int>(i) + 1)
                dashed = true;
        QPen pen(QColor::fromRgb(static_cast<QRgb>(c->colors[i])));
        pen.setWidthF(dashed ? 1.0 : 2.0);
        pen.setStyle(dashed ? Qt::DashLine : Qt::SolidLine);
        pen.setCosmetic(true);
        series_[i]->setPen(pen);
    }
}

void StripChart::plotted() {
    // The series are handed to the chart from the event loop, at most once a
    // display frame: the caller (the scope sending its next request) does not
    // wait for it, and a sensor that answers faster than the screen refreshes
    // does not pay for drawings that nobody can see. The newest data is always
    // drawn.
    updateAxes();
    if (!pending_.isActive()) {
        const qint64 wait = redrawn_.isValid() ? kFrameMs - redrawn_.elapsed() : 0;
        pending_.start(static_cast<int>(std::max<qint64>(0, wait)));
    }
}

void StripChart::refresh() {
    pending_.stop();
    redrawn_.start();
    rebuildSeries();
}

void StripChart::rebuildSeries() {
    const Control* c = model();
    QList<QPointF> pts;
    for (std::size_t t = 0; c && t < series_.size() && t < c->traces.size(); ++t) {
        pts.clear();
        pts.reserve(static_cast<qsizetype>(c->traces[t].size()));
        int x = 0;
        for (double v : c->traces[t])
            pts.append(QPointF(x++, v));
        series_[t]->replace(pts);
    }
}

void StripChart::updateAxes() {
    double lo = baseMin_, hi = baseMax_;
    const Control* c = model();
    for (const auto& d : c ? c->traces : std::vector<std::deque<double>>())
        for (double v : d) {
            if (!std::isfinite(v))
                continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (lo < baseMin_ || hi > baseMax_) {
        // Values outside the normal range: widen with a little headroom so the
        // extreme points stay visible, on a rounded step.
        const double step = NiceStep(hi - lo);
        if (lo < baseMin_)
            lo = std::floor((lo - step / 4) / step) * step;
        if (hi > baseMax_)
            hi = std::ceil((hi + step / 4) / step) * step;
    }
    if (lo == shownMin_ && hi == shownMax_ && axisY_->min() == lo && axisY_->max() == hi)
        return;
    shownMin_ = lo;
    shownMax_ = hi;
    axisY_->setRange(lo, hi);
    axisY_->setTickAnchor(0);
    axisY_->setTickInterval(
        lo == baseMin_ && hi == baseMax_ && baseMax_ - baseMin_ > 512 ? 128 : NiceStep(hi - lo));
}

}  // namespace orv_rt
