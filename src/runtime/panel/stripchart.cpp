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
    setNumTraces(1);
    pending_.setSingleShot(true);
    connect(&pending_, &QTimer::timeout, this, &StripChart::refresh);
}

void StripChart::setChartTitle(const QString& t) {
    title_ = t;
    chart_->setTitle(t);
}

void StripChart::setTraceNames(const QString& names) {
    names_ = names.split(';');
    for (int i = 0; i < numTraces(); ++i)
        series_[i]->setName(i < names_.size() ? names_[i] : QStringLiteral("trace %1").arg(i + 1));
}

void StripChart::setDashedTraces(const QString& list) {
    dashed_ = list;
    for (int i = 0; i < numTraces(); ++i)
        applyPen(i);
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

void StripChart::setNumTraces(int n) {
    if (n < 1 || n == numTraces())
        return;
    for (QLineSeries* s : series_) {
        chart_->removeSeries(s);
        delete s;
    }
    series_.clear();
    data_.assign(n, {});
    colors_.resize(n, 0);
    phase_ = 0;
    for (int i = 0; i < n; ++i) {
        auto* s = new QLineSeries;
        s->setName(i < names_.size() ? names_[i] : QStringLiteral("trace %1").arg(i + 1));
        s->setUseOpenGL(false);
        chart_->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        series_.push_back(s);
        applyPen(i);
    }
    updateAxes();
}

void StripChart::setPointsPerScreen(int n) {
    if (n < 2 || n == pps_)
        return;
    pps_ = n;
    for (auto& d : data_)
        while (static_cast<int>(d.size()) > pps_)
            d.pop_front();
    axisX_->setRange(0, pps_ - 1);
    axisX_->setTickInterval(NiceStep(pps_ - 1));
    rebuildSeries();
}

bool StripChart::setTraceColor(int trace, int rgb) {
    if (trace < 1 || trace > numTraces())
        return false;
    rgb &= 0xFFFFFF;
    if (colors_[trace - 1] != rgb) {
        colors_[trace - 1] = rgb;
        applyPen(trace - 1);
    }
    return true;
}

int StripChart::traceColor(int trace) const {
    return trace >= 1 && trace <= numTraces() ? colors_[trace - 1] : -1;
}

QString StripChart::traceColors() const {
    QStringList out;
    for (int c : colors_)
        out << QStringLiteral("0x%1").arg(c, 6, 16, QLatin1Char('0'));
    return out.join(',');
}

void StripChart::setTraceColors(const QString& list) {
    const QStringList parts = list.split(',', Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size() && i < numTraces(); ++i) {
        bool ok = false;
        const int rgb = parts[i].trimmed().toInt(&ok, 0);
        if (ok)
            setTraceColor(i + 1, rgb);
    }
}

void StripChart::applyPen(int index) {
    bool dashed = false;
    for (const QString& part : dashed_.split(',', Qt::SkipEmptyParts))
        if (part.trimmed().toInt() == index + 1)
            dashed = true;
    QPen pen(QColor::fromRgb(static_cast<QRgb>(colors_[index])));
    pen.setWidthF(dashed ? 1.0 : 2.0);
    pen.setStyle(dashed ? Qt::DashLine : Qt::SolidLine);
    pen.setCosmetic(true);
    series_[index]->setPen(pen);
}

void StripChart::plot(const double* values, int count) {
    const int n = numTraces();
    for (int i = 0; i < count; ++i) {
        data_[phase_].push_back(values[i]);
        phase_ = (phase_ + 1) % n;
    }
    for (auto& d : data_)
        while (static_cast<int>(d.size()) > pps_)
            d.pop_front();
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
    QList<QPointF> pts;
    for (int t = 0; t < numTraces(); ++t) {
        pts.clear();
        pts.reserve(static_cast<qsizetype>(data_[t].size()));
        int x = 0;
        for (double v : data_[t])
            pts.append(QPointF(x++, v));
        series_[t]->replace(pts);
    }
}

void StripChart::updateAxes() {
    double lo = baseMin_, hi = baseMax_;
    for (const auto& d : data_)
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

std::vector<double> StripChart::points(int trace) const {
    if (trace < 1 || trace > numTraces())
        return {};
    return {data_[trace - 1].begin(), data_[trace - 1].end()};
}

}  // namespace orv_rt
