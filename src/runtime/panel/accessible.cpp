#include "runtime/panel/accessible.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QRadioButton>

#include "runtime/panel/led.h"
#include "runtime/panel/stripchart.h"

namespace orv_rt {

namespace {

// A radio button (the panel's are the only ones). The program keeps the group
// consistent itself, so the buttons are not auto-exclusive, and the toolkit
// would call them check boxes and toggle them without a click. Here they are
// radio buttons whose action clicks them, exactly as the mouse does.
class RadioAccessible : public QAccessibleWidget {
  public:
    explicit RadioAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::RadioButton) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        return s;
    }
    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty())
            s = button()->text().remove(QLatin1Char('&'));
        return s;
    }
    QStringList actionNames() const override {
        return QStringList(toggleAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction())
            button()->click();
        else
            QAccessibleWidget::doAction(name);
    }

  private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// A lamp: a label named by its caption whose value is its state.
class LampAccessible : public QAccessibleWidget {
  public:
    explicit LampAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return static_cast<Led*>(widget())->value() ? QStringLiteral("on") : QStringLiteral("off");
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    // Interfaces are made (and kept) as early as a widget's constructor, before
    // the panel file's properties are set: the kind of widget decides.
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (className == QLatin1String("QRadioButton"))
        return new RadioAccessible(w);
    // A lamp reads as a label with its state as its value and description
    // ("on" or "off"), the chart as a chart; the toolkit's default for both
    // is an anonymous filler that screen readers pass over.
    if (qobject_cast<Led*>(w) && className == QLatin1String(Led::staticMetaObject.className()))
        return new LampAccessible(w);
    if (qobject_cast<StripChart*>(w) && className == QLatin1String(StripChart::staticMetaObject.className()))
        return new QAccessibleWidget(w, QAccessible::Chart);
    return nullptr;
}

}  // namespace

void InstallAccessibleFactory() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(Factory);
}

}  // namespace orv_rt
