// The strip chart of the panel file (class OrvStripChart there).
#pragma once

#include <QChartView>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <vector>

class QLineSeries;
class QValueAxis;
class QChart;

namespace orv_rt {

// Scrolling multi-trace chart. Points are appended interleaved over the
// traces; each trace keeps the newest pointsPerScreen values, drawn at fixed
// x positions 0..pointsPerScreen-1 so the picture scrolls while the axes stay.
class StripChart : public QChartView {
    Q_OBJECT
    Q_PROPERTY(QString chartTitle READ chartTitle WRITE setChartTitle)
    Q_PROPERTY(QString traceNames READ traceNames WRITE setTraceNames)
    Q_PROPERTY(QString dashedTraces READ dashedTraces WRITE setDashedTraces)
    Q_PROPERTY(QString xTitle READ xTitle WRITE setXTitle)
    Q_PROPERTY(QString yTitle READ yTitle WRITE setYTitle)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
    Q_PROPERTY(int traces READ numTraces WRITE setNumTraces)
    Q_PROPERTY(QString traceColors READ traceColors WRITE setTraceColors)
    Q_PROPERTY(int pointsPerScreen READ pointsPerScreen WRITE setPointsPerScreen)
    Q_PROPERTY(double axisMin READ axisMin)
    Q_PROPERTY(double axisMax READ axisMax)

  public:
    explicit StripChart(QWidget* parent = nullptr);

    QString chartTitle() const { return title_; }
    void setChartTitle(const QString& t);
    QString traceNames() const { return names_.join(';'); }
    void setTraceNames(const QString& names);
    QString dashedTraces() const { return dashed_; }
    void setDashedTraces(const QString& list);
    QString xTitle() const { return xTitle_; }
    void setXTitle(const QString& t);
    QString yTitle() const { return yTitle_; }
    void setYTitle(const QString& t);
    double yMin() const { return baseMin_; }
    void setYMin(double v);
    double yMax() const { return baseMax_; }
    void setYMax(double v);

    int numTraces() const { return static_cast<int>(series_.size()); }
    // Changing the count clears the chart; an unchanged count costs nothing.
    void setNumTraces(int n);
    int pointsPerScreen() const { return pps_; }
    void setPointsPerScreen(int n);
    int chartMode() const { return mode_; }
    void setChartMode(int m) { mode_ = m; }
    // trace is 1-based; colour 0xRRGGBB.
    bool setTraceColor(int trace, int rgb);
    int traceColor(int trace) const;
    // Start colours as a comma-separated list of 0xRRGGBB values.
    QString traceColors() const;
    void setTraceColors(const QString& list);

    // Appends `count` values interleaved over the traces and redraws.
    void plot(const double* values, int count);
    std::vector<double> points(int trace) const;
    // Value axis range currently shown.
    double axisMin() const { return shownMin_; }
    double axisMax() const { return shownMax_; }

  private:
    static constexpr qint64 kFrameMs = 15;
    void refresh();
    void rebuildSeries();
    void applyPen(int index);
    void updateAxes();

    QChart* chart_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    std::vector<QLineSeries*> series_;
    std::vector<std::deque<double>> data_;
    std::vector<int> colors_;
    QStringList names_;
    QString dashed_, title_, xTitle_, yTitle_;
    int pps_ = 101;
    int mode_ = 0;
    int phase_ = 0;  // trace that the next appended value belongs to
    double baseMin_ = 0, baseMax_ = 1023;
    double shownMin_ = 0, shownMax_ = 1023;
    QElapsedTimer redrawn_;  // since the series were last handed to the chart
    QTimer pending_;         // hands over data that arrived within a frame
};

}  // namespace orv_rt
