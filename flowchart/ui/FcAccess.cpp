#include "flowchart/ui/FcAccess.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWindow>
#include <set>

#include "flowchart/ui/FlowChart.h"
#include "platform/AccessibleChildren.h"
#include "platform/QtText.h"

namespace {

class TFcObjectAccessible : public TAccessibleItem<TCustomFlowChart> {
 public:
  TFcObjectAccessible(TCustomFlowChart* chart, const TFcObject* object) : TAccessibleItem(chart, QAccessible::ListItem), object_(object) {}

  // The object is only compared with the chart's own until the chart confirms it still
  // holds it: it may have been freed.
  TFcObject* Object() const {
    if (!owner_) return nullptr;
    for (int i = 0; i < owner_->ObjectCount(); ++i)
      if (owner_->Objects(i) == object_) return owner_->Objects(i);
    return nullptr;
  }
  const TFcObject* Key() const { return object_; }
  const TCustomFlowChart* Chart() const { return owner_; }

  bool isValid() const override { return Object() != nullptr; }

  QString text(QAccessible::Text t) const override {
    const TFcObject* o = Object();
    return o && t == QAccessible::Name ? ToQString(o->Text()) : QString();
  }

  QRect rect() const override {
    const TFcObject* o = Object();
    if (!o) return {};
    const TPoint origin = owner_->ScrollOrigin();
    const TRect z = o->ZoomedRect();
    return QRect(owner_->viewport()->mapToGlobal(QPoint(z.Left - origin.x, z.Top - origin.y)),
                 QSize(z.Width(), z.Height()));
  }

  QAccessible::State state() const override {
    QAccessible::State s;
    const TFcObject* o = Object();
    if (!o) {
      s.invalid = true;
      return s;
    }
    s.selectable = true;
    s.selected = o->Selected();
    s.checked = owner_->IsObjectChecked && owner_->IsObjectChecked(o);
    const TPoint origin = owner_->ScrollOrigin();
    const TRect z = o->ZoomedRect();
    const QRect shown(z.Left - origin.x, z.Top - origin.y, z.Width(), z.Height());
    if (!owner_->viewport()->rect().intersects(shown)) s.invisible = s.offscreen = true;
    return s;
  }

 private:
  const TFcObject* object_;
};

class TFlowChartAccessible : public QAccessibleWidget {
 public:
  explicit TFlowChartAccessible(TCustomFlowChart* chart) : QAccessibleWidget(chart, QAccessible::Chart) {}

  // The step objects, then the chart's own widgets (its viewport and scroll bars).
  int childCount() const override { return Chart()->ObjectCount() + QAccessibleWidget::childCount(); }

  QAccessibleInterface* child(int index) const override {
    TCustomFlowChart* chart = Chart();
    if (index < 0) return nullptr;
    if (index >= chart->ObjectCount()) return QAccessibleWidget::child(index - chart->ObjectCount());
    const TFcObject* o = chart->Objects(index);
    if (children_.Size() > size_t(2 * chart->ObjectCount()) + 16) {
      std::set<const TFcObject*> live;
      for (int i = 0; i < chart->ObjectCount(); ++i) live.insert(chart->Objects(i));
      children_.Prune(live, 0);
    }
    return children_.Get(o, [chart, o] { return new TFcObjectAccessible(chart, o); });
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    const auto* c = dynamic_cast<const TFcObjectAccessible*>(child);
    if (!c) {
      const int i = QAccessibleWidget::indexOfChild(child);
      return i < 0 ? -1 : Chart()->ObjectCount() + i;
    }
    if (c->Chart() != Chart()) return -1;
    for (int i = 0; i < Chart()->ObjectCount(); ++i)
      if (Chart()->Objects(i) == c->Key()) return i;
    return -1;
  }

  // The topmost object under the point, as the mouse finds it; else a scroll bar there.
  QAccessibleInterface* childAt(int x, int y) const override {
    for (int i = Chart()->ObjectCount() - 1; i >= 0; --i) {
      QAccessibleInterface* c = child(i);
      if (c && c->rect().contains(x, y)) return c;
    }
    for (int i = QAccessibleWidget::childCount() - 1; i >= 0; --i) {
      QAccessibleInterface* w = QAccessibleWidget::child(i);
      if (w && w->isValid() && !w->state().invisible && w->rect().contains(x, y)) return w;
    }
    return nullptr;
  }

 private:
  TCustomFlowChart* Chart() const { return static_cast<TCustomFlowChart*>(widget()); }
  mutable TAccessibleChildren<const TFcObject*> children_;
};

QAccessibleInterface* FlowChartAccessibleFactory(const QString&, QObject* object) {
  auto* chart = qobject_cast<TCustomFlowChart*>(object);
  return chart ? new TFlowChartAccessible(chart) : nullptr;
}

TAccessibleFactoryUse chartFactory(FlowChartAccessibleFactory);

}  // namespace

void FlowChartAccessibleAdded() { chartFactory.Add(); }
void FlowChartAccessibleRemoved() { chartFactory.Remove(); }
