// The backdrop beneath a panel's text messages.
#pragma once

#include <QPointer>
#include <QWidget>

#include <vector>

namespace orv_rt {

// Paints the background colours of a panel's text messages, beneath all of
// their texts: text messages placed close together then never hide each
// other's text behind a background rectangle.
class TextBackdrop : public QWidget {
    Q_OBJECT

  public:
    explicit TextBackdrop(QWidget* panelWindow);
    void addMessage(QWidget* label);
    // Re-stacks and re-fits after a text message changed.
    void refresh();

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    std::vector<QPointer<QWidget>> labels_;
};

}  // namespace orv_rt
