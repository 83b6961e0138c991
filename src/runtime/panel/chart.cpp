// The strip chart's functions: trace colours, plotting and saving the picture.
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QSaveFile>
#include <algorithm>

#include "runtime/panel/panel_parts.h"
#include "runtime/panel/stripchart.h"

using namespace orv_rt;

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart || attribute != ATR_TRACE_COLOR)
        return ERR_BAD_ATTRIBUTE;
    return static_cast<StripChart*>(c->widget.data())->setTraceColor(trace, value) ? 0 : ERR_BAD_VALUE;
}

int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart)
        return ERR_BAD_CONTROL;
    if (!array || numberOfPoints < 0 || startingIndex < 0 || skipCount < 0)
        return ERR_BAD_VALUE;
    constexpr int kChunk = 512;
    double buf[kChunk];
    auto* chart = static_cast<StripChart*>(c->widget.data());
    const long stride = static_cast<long>(skipCount) + 1;
    for (int done = 0; done < numberOfPoints;) {
        const int n = std::min(kChunk, numberOfPoints - done);
        for (int i = 0; i < n; ++i) {
            const long idx = startingIndex + (done + i) * stride;
            switch (dataType) {
                case TYPE_DOUBLE:
                    buf[i] = static_cast<const double*>(array)[idx];
                    break;
                case TYPE_INT:
                    buf[i] = static_cast<const int*>(array)[idx];
                    break;
                case TYPE_UINT:
                    buf[i] = static_cast<const unsigned*>(array)[idx];
                    break;
                default:
                    return ERR_BAD_VALUE;
            }
        }
        chart->plot(buf, n);
        done += n;
    }
    return 0;
}

int SaveChartImage(int panel, int control, const char* path) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart)
        return ERR_BAD_CONTROL;
    if (!path || !path[0])
        return ERR_BAD_VALUE;
    const QString name = QFile::decodeName(path);
    // The picture replaces the file through a rename: anything but a regular
    // file there would be replaced, so it is refused.
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return FILE_ERR_NOT_FILE;
    const QPixmap picture = c->widget->grab();
    QSaveFile file(name);
    if (picture.isNull() || !file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG"))
        return FILE_ERR_WRITE;
    return file.commit() ? 0 : FILE_ERR_WRITE;
}
