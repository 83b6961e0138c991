// The round LED indicator of the panel file (class OrvLed there).
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

namespace orv_rt {

// Round indicator with a caption beside it: green when on, dark when off.
class Led : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(int value READ value WRITE setValue)

  public:
    explicit Led(QWidget* parent = nullptr);
    QString caption() const { return caption_; }
    void setCaption(const QString& c);
    int value() const { return on_ ? 1 : 0; }
    // Returns true when the state changed.
    bool setValue(int v);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QString caption_;
    bool on_ = false;
};

}  // namespace orv_rt
