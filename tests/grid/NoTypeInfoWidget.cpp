// Built without type information, as the web engine's widgets are: its vtable has no
// type_info to follow.
#include <QWidget>

class TNoTypeInfoWidget : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {}
};

QWidget* MakeWidgetWithoutTypeInfo(QWidget* parent) { return new TNoTypeInfoWidget(parent); }
