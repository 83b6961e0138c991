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

struct Control;

// Scrolling multi-trace chart: shows a chart control of the panel model,
// whose traces keep the newest pointsPerScreen values each, drawn at fixed
// x positions 0..pointsPerScreen-1 so the picture scrolls while the axes stay.
// Its look (titles, trace names, dashed traces, value range) comes from the
// panel file.
class StripChart : public QChartView {
    Q_OBJECT
    Q_PROPERTY(QString chartTitle READ chartTitle WRITE setChartTitle)
    Q_PROPERTY(QString traceNames READ traceNames WRITE setTraceNames)
    Q_PROPERTY(QString dashedTraces READ dashedTraces WRITE setDashedTraces)
    Q_PROPERTY(QString xTitle READ xTitle WRITE setXTitle)
    Q_PROPERTY(QString yTitle READ yTitle WRITE setYTitle)
    Q_PROPERTY(double yMin READ yMin WRITE setYMin)
    Q_PROPERTY(double yMax READ yMax WRITE setYMax)
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

    // Shows chart control `control` of panel `panel`.
    void bind(int panel, int control);
    // Shows the control's trace count, trace colours and points per screen.
    void showLayout();
    // The control's traces got new points: the axes follow at once, the
    // lines at most once a display frame.
    void plotted();
    // Value axis range currently shown.
    double axisMin() const { return shownMin_; }
    double axisMax() const { return shownMax_; }

  private:
    static constexpr qint64 kFrameMs = 15;
    const Control* model() const;
    void refresh();
    void rebuildSeries();
    void applyPens();
    void updateAxes();

    int panel_ = 0, control_ = 0;
    QChart* chart_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    std::vector<QLineSeries*> series_;
    QStringList names_;
    QString dashed_, title_, xTitle_, yTitle_;
    int pps_ = 101;  // points per screen the x axis shows
    double baseMin_ = 0, baseMax_ = 1023;
    double shownMin_ = 0, shownMax_ = 1023;
    QElapsedTimer redrawn_;  // since the series were last handed to the chart
    QTimer pending_;         // hands over data that arrived within a frame
};

}  // namespace orv_rt
