#include "flowchart/ui/fcEdit.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <map>

#include "platform/QtText.h"
#include "flowchart/ui/fcEditCon.h"
#include "flowchart/ui/fcEditObj.h"
#include "flowchart/ui/fcSelUnion.h"
#include "platform/Guard.h"
#include "platform/Registry.h"
#include "platform/Services.h"
#include "uikit/XPStyler.h"

namespace {

constexpr int kUndoLimit = 30;
constexpr int kMaxZoom = 490, kMinZoom = 20;
const char kFileFilter[] = "流程图 (*.flc)|*.flc";
// Where the help file's folder is named when it is neither here nor beside the program.
const char kHelpKey[] = "HKEY_LOCAL_MACHINE\\Software\\Calvessa\\FCEditor";

// A magnifier with a plus or a minus, hot spot in the lens's centre.
QCursor DrawZoomCursor(bool in) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::white, 4));
  p.drawEllipse(QPointF(12, 12), 8, 8);
  p.drawLine(18, 18, 28, 28);
  p.setPen(QPen(Qt::black, 2));
  p.drawEllipse(QPointF(12, 12), 8, 8);
  p.setPen(QPen(Qt::black, 3));
  p.drawLine(18, 18, 28, 28);
  p.setPen(QPen(Qt::black, 2));
  p.drawLine(8, 12, 16, 12);
  if (in) p.drawLine(12, 8, 12, 16);
  p.end();
  return QCursor(pm, 12, 12);
}

// A slot that swallows failures and ignores the signal's arguments it does not take.
template <class F>
auto Slot(F fn) {
  return [fn = std::move(fn)](auto&&... args) mutable noexcept {
    Guarded([&] {
      if constexpr (std::is_invocable_v<F&, decltype(args)...>)
        fn(std::forward<decltype(args)>(args)...);
      else
        fn();
    });
  };
}

int Tag(const QObject* o) { return ControlTag(o); }

TPoint ClampToClient(const TFcChart* c, QPoint p) {
  return {std::clamp(p.x(), 0, std::max(0, c->ClientWidth() - 1)), std::clamp(p.y(), 0, std::max(0, c->ClientHeight() - 1))};
}

TRect Normalized(TPoint a, TPoint b) {
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

}  // namespace

QCursor ScreenCursor(int id) {
  static const std::map<int, QCursor> cursors = {{crZoomIn, DrawZoomCursor(true)}, {crZoomOut, DrawZoomCursor(false)}};
  auto it = cursors.find(id);
  return it == cursors.end() ? QCursor() : it->second;
}

TFChartEditor::TFChartEditor(QWidget* parent) : QDialog(parent), undo_(nullptr) {
  setWindowTitle(QString::fromUtf8("流程定义"));
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(2, 2, 2, 2);
  MainMenu = new QMenuBar(this);
  top->setMenuBar(MainMenu);
  auto* bar = new QWidget(this);
  auto* palette = new QWidget(this);
  top->addWidget(bar);
  top->addWidget(palette);
  lblBanner = new QLabel(QString::fromUtf8("Calvessa 办公自动化 ── 流程自定义系统"), this);
  top->addWidget(lblBanner);
  auto* middle = new QHBoxLayout;
  top->addLayout(middle, 1);
  Chart = new TFlowChart(this);
  Images = new TFcImageList(16, 16, this);
  Chart->SetImages(Images);
  middle->addWidget(Chart, 1);
  PropertyColumn = new QVBoxLayout;
  middle->addLayout(PropertyColumn);
  auto* bottom = new QHBoxLayout;
  lblTip = new QLabel(this);
  lblStatus = new QLabel(this);
  BitBtn1 = new QPushButton(QString::fromUtf8("保存"), this);
  bottom->addWidget(lblTip, 1);
  bottom->addWidget(lblStatus);
  bottom->addWidget(BitBtn1);
  top->addLayout(bottom);

  undo_ = TUndoManager(Chart);
  undo_.SetLimit(kUndoLimit);
  objectFont_ = connectFont_ = Chart->Font();
  BuildToolBar(bar, palette);
  BuildMenus();
  XPStyler = new TXPStyler(this);
  XPStyler->SetActive(true);

  Chart->OnChange = [this](TFcChart*, TFcItem*) {
    RefreshTools();
    if (snapshots_) ScheduleSnapshot();
  };
  Chart->OnSelected = [this](TFcChart*, TFcItem*) { RefreshTools(); };
  Chart->OnSelection = [this](TFcChart*, TFcItem* item, bool& allow) {
    allow = allow && !ToolActive();
    if (!allow) return;
    lblTip->setText(QString::fromUtf8(dynamic_cast<TFcObject*>(item) ? "当前选中：流程节点" : "当前选中：流程连线"));
  };
  Chart->OnDeletion = [this](TFcChart* c, TFcItem* item) {
    // Reloading a snapshot or a file replaces the items; that deletes no step.
    if (c->Loading()) return;
    if (auto* o = dynamic_cast<TFcObject*>(item)) StepDeleted(o);
  };
  Chart->OnDblClick = [this](TCustomFlowChart* c) { EditSelected(c->HitTest(lastPress_.x, lastPress_.y)); };
  Chart->OnPaintOverlay = [this](QPainter& p) { PaintOverlay(p); };
  Chart->OnMouseMove = [this](TCustomFlowChart*, Qt::MouseButton, uint8_t, int x, int y) { UpdateHint(x, y); };
  Chart->viewport()->installEventFilter(this);
  Chart->installEventFilter(this);
  Chart->setContextMenuPolicy(Qt::NoContextMenu);
  // Enter is for the fields; saving is a click.
  BitBtn1->setAutoDefault(false);
  connect(BitBtn1, &QPushButton::clicked, this, Slot([this] { SaveToServer(); }));
  RefreshTools();
}

TFChartEditor::~TFChartEditor() {
  // The chart goes before the members its events reach.
  Chart->OnChange = nullptr;
  Chart->OnSelected = nullptr;
  Chart->OnSelection = nullptr;
  Chart->OnDeletion = nullptr;
  Chart->OnPaintOverlay = nullptr;
  Chart->OnMouseMove = nullptr;
  Chart->OnDblClick = nullptr;
  Chart->viewport()->removeEventFilter(this);
  Chart->removeEventFilter(this);
  ClearClipboard();
}

// ---- building

QToolButton* TFChartEditor::TagButton(QWidget* parent, const char* name, const QString& caption,
                                      const std::vector<std::pair<QString, int>>& items, int initial) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setProperty("Caption", caption);
  b->setToolTip(caption);
  SetControlTag(b, initial);
  b->setText(caption);
  if (!items.empty()) {
    auto* menu = new QMenu(b);
    for (const auto& [text, tag] : items) {
      QAction* a = menu->addAction(text);
      a->setData(tag);
      connect(a, &QAction::triggered, this, Slot([this, b, tag = tag] { PickTool(b, tag); }));
      if (tag == initial) b->setText(text);
    }
    b->setMenu(menu);
    b->setPopupMode(QToolButton::InstantPopup);
  }
  return b;
}

void TFChartEditor::BuildToolBar(QWidget* bar, QWidget* paletteBar) {
  auto* l = new QHBoxLayout(bar);
  l->setContentsMargins(0, 0, 0, 0);
  l->setSpacing(1);
  btnCreateObject = TagButton(bar, "btnCreateObject", QString::fromUtf8("节点"), {}, 0);
  btnCreateConnect = TagButton(bar, "btnCreateConnect", QString::fromUtf8("连线"), {}, 0);
  for (QToolButton* b : {btnCreateObject, btnCreateConnect}) b->setCheckable(true);
  sbShape = TagButton(bar, "sbShape", QString::fromUtf8("形状"),
                      {{"None", 0}, {"Rectangle", 1}, {"Ellipse", 2}, {"Round Rect", 3}, {"Diamond", 4}, {"North Triangle", 5},
                       {"South Triangle", 6}, {"East Triangle", 7}, {"West Triangle", 8}, {"Hexagon", 9}},
                      1);
  std::vector<std::pair<QString, int>> widths, positions, points;
  for (int i = 1; i <= 10; ++i) widths.push_back({QString("%1 pt").arg(i), i});
  const char* pos[] = {"Top-Left", "Top", "Top-Right", "Left", "Center", "Right", "Bottom-Left", "Bottom", "Bottom-Right"};
  for (int i = 0; i < 9; ++i) positions.push_back({pos[i], i});
  for (int i = 0; i < 16; ++i) points.push_back({QString::number(i + 1), i});
  sbLine = TagButton(bar, "sbLine", QString::fromUtf8("线宽"), widths, 1);
  sbTextPosition = TagButton(bar, "sbTextPosition", QString::fromUtf8("文字"), positions, 4);
  sbImagePosition = TagButton(bar, "sbImagePosition", QString::fromUtf8("图像"), positions, 0);
  sbStyle = TagButton(bar, "sbStyle", QString::fromUtf8("线型"), {{"Straight", 1}, {"Curved", 2}, {"Rect Horizontal", 3}, {"Rect Vertical", 4}}, 1);
  sbSourceArrow = TagButton(bar, "sbSourceArrow", QString::fromUtf8("起点"),
                            {{QString::fromUtf8("无"), 0}, {QString::fromUtf8("箭头"), 1}, {"Oval Arrow", 2}, {"Rect Arrow", 3}}, 0);
  sbDestArrow = TagButton(bar, "sbDestArrow", QString::fromUtf8("终点"), {{QString::fromUtf8("箭头"), 1}}, 0);
  std::vector<std::pair<QString, int>> sizes;
  for (int t = 1; t <= 5; ++t) sizes.push_back({QString("%1 x %1").arg(t * 5 + 5), t});
  sbSArrowSize = TagButton(bar, "sbSArrowSize", QString::fromUtf8("起点大小"), sizes, 1);
  sbDArrowSize = TagButton(bar, "sbDArrowSize", QString::fromUtf8("终点大小"), sizes, 1);
  sbSPoint = TagButton(bar, "sbSPoint", QString::fromUtf8("起点位置"), points, 0);
  sbDPoint = TagButton(bar, "sbDPoint", QString::fromUtf8("终点位置"), points, 0);
  sbObjectFont = TagButton(bar, "sbObjectFont", QString::fromUtf8("节点字体"), {}, 0);
  sbConnectFont = TagButton(bar, "sbConnectFont", QString::fromUtf8("连线字体"), {}, 0);
  sbZoom = TagButton(bar, "sbZoom", QString::fromUtf8("缩放"), {}, 0);
  sbFit = TagButton(bar, "sbFit", QString::fromUtf8("适合"), {}, 0);
  for (QToolButton* b : {sbZoom, sbFit}) b->setCheckable(true);
  for (QToolButton* b : {btnCreateObject, btnCreateConnect, sbShape, sbLine, sbTextPosition, sbImagePosition, sbStyle,
                         sbSourceArrow, sbDestArrow, sbSArrowSize, sbDArrowSize, sbSPoint, sbDPoint, sbObjectFont,
                         sbConnectFont, sbZoom, sbFit})
    l->addWidget(b);
  l->addStretch();

  connect(btnCreateObject, &QToolButton::toggled, this, [this](bool on) {
    if (on) SetToolMode(btnCreateObject);
  });
  connect(btnCreateConnect, &QToolButton::toggled, this, Slot([this](bool on) {
            if (!on) return;
            SetToolMode(btnCreateConnect);
            if (Chart->SelectedObjects().size() == 2 && Chart->SelectedConnections().empty()) ConnectSelectedPair();
          }));
  connect(sbZoom, &QToolButton::toggled, this, [this](bool on) {
    if (on) {
      SetToolMode(sbZoom);
      Chart->ClearSelection();
      Chart->viewport()->setCursor(ScreenCursor(crZoomIn));
    } else {
      Chart->viewport()->unsetCursor();
    }
  });
  connect(sbFit, &QToolButton::clicked, this, Slot([this] { ToggleFit(); }));
  connect(sbObjectFont, &QToolButton::clicked, this, Slot([this] {
            if (ChooseFont(objectFont_, this)) ApplyObjectProperties(7);
          }));
  connect(sbConnectFont, &QToolButton::clicked, this, Slot([this] {
            if (ChooseFont(connectFont_, this)) ApplyConnectionProperties(9);
          }));

  auto* pl = new QHBoxLayout(paletteBar);
  pl->setContentsMargins(0, 0, 0, 0);
  pl->setSpacing(2);
  pColor = new TFcColorPanel(clBlack, paletteBar);
  pBkColor = new TFcColorPanel(clWhite, paletteBar);
  pColor->setObjectName("pColor");
  pBkColor->setObjectName("pBkColor");
  pColor->setFixedSize(28, 20);
  pBkColor->setFixedSize(28, 20);
  pl->addWidget(pColor);
  pl->addWidget(pBkColor);
  const std::pair<const char*, TColor> colors[] = {
      {"pBlack", clBlack}, {"pWhite", clWhite}, {"pGray", clGray},   {"pMarron", clMaroon}, {"pRed", clRed},
      {"pYellow", clYellow}, {"pOlive", clOlive}, {"pGreen", clGreen}, {"pLime", clLime},   {"pAqua", clAqua},
      {"pTeal", clTeal},   {"pNavy", clNavy},   {"pBlue", clBlue},   {"pPurple", clPurple}, {"pFuchsia", clFuchsia}};
  for (const auto& [name, color] : colors) {
    auto* p = new TFcColorPanel(color, paletteBar);
    p->setObjectName(name);
    p->setFixedSize(16, 16);
    pl->addWidget(p);
    Palette.push_back(p);
    connect(p, &TFcColorPanel::Clicked, this, Slot([this, p](Qt::MouseButton button) {
              if (button == Qt::LeftButton) {
                pColor->SetColor(p->Color());
                ApplyObjectProperties(3);
                ApplyConnectionProperties(2);
              } else if (button == Qt::RightButton) {
                pBkColor->SetColor(p->Color());
                ApplyObjectProperties(4);
                ApplyConnectionProperties(10);
              }
            }));
  }
  connect(pColor, &TFcColorPanel::DoubleClicked, this, Slot([this] {
            if (!pColor->ChooseColor()) return;
            ApplyObjectProperties(3);
            ApplyConnectionProperties(2);
          }));
  connect(pBkColor, &TFcColorPanel::DoubleClicked, this, Slot([this] {
            if (!pBkColor->ChooseColor()) return;
            ApplyObjectProperties(4);
            ApplyConnectionProperties(10);
          }));
  pl->addStretch();
}

void TFChartEditor::BuildMenus() {
  auto add = [this](QMenu* m, const QString& text, auto fn, const QKeySequence& keys = {}) {
    QAction* a = m->addAction(text);
    if (!keys.isEmpty()) a->setShortcut(keys);
    connect(a, &QAction::triggered, this, Slot([this, fn] { (this->*fn)(); }));
    return a;
  };
  mFile = MainMenu->addMenu(QString::fromUtf8("文件"));
  miOpen = add(mFile, QString::fromUtf8("打开..."), &TFChartEditor::OpenChart);
  miSaveAs = add(mFile, QString::fromUtf8("另存为 ..."), &TFChartEditor::SaveChartAs);
  miSaveToServer = mFile->addAction(QString::fromUtf8("保存至服务器"));
  connect(miSaveToServer, &QAction::triggered, this, Slot([this] { SaveToServer(); }));
  mFile->addSeparator();
  miExit = mFile->addAction(QString::fromUtf8("退出"));
  connect(miExit, &QAction::triggered, this, &QDialog::reject);

  mEdit = MainMenu->addMenu(QString::fromUtf8("编辑"));
  miUndo = add(mEdit, QString::fromUtf8("撤消"), &TFChartEditor::Undo, QKeySequence::Undo);
  mEdit->addSeparator();
  miCut = add(mEdit, QString::fromUtf8("剪切"), &TFChartEditor::CutSelection, QKeySequence::Cut);
  miCopy = add(mEdit, QString::fromUtf8("复制"), &TFChartEditor::CopySelection, QKeySequence::Copy);
  miPaste = add(mEdit, QString::fromUtf8("粘贴"), &TFChartEditor::Paste, QKeySequence::Paste);
  miDelete = add(mEdit, QString::fromUtf8("删除"), &TFChartEditor::DeleteSelection);
  mEdit->addSeparator();
  miSelectAll = mEdit->addAction(QString::fromUtf8("全选"));
  miSelectAll->setShortcut(QKeySequence::SelectAll);
  connect(miSelectAll, &QAction::triggered, this, Slot([this] { Chart->SelectAll(); }));
  miClearSelection = mEdit->addAction(QString::fromUtf8("取消选择"));
  connect(miClearSelection, &QAction::triggered, this, Slot([this] { Chart->ClearSelection(); }));
  miBringToFront = mEdit->addAction(QString::fromUtf8("移到最前"));
  connect(miBringToFront, &QAction::triggered, this, Slot([this] {
            std::vector<TFcItem*> sel = Chart->SelectedObjects();
            for (TFcItem* it : sel) static_cast<TFcObject*>(it)->BringToFront();
            TakeSnapshot();
          }));
  miSendToBack = mEdit->addAction(QString::fromUtf8("移到最后"));
  connect(miSendToBack, &QAction::triggered, this, Slot([this] {
            std::vector<TFcItem*> sel = Chart->SelectedObjects();
            for (TFcItem* it : sel) static_cast<TFcObject*>(it)->SendToBack();
            TakeSnapshot();
          }));

  mUnions = MainMenu->addMenu(QString::fromUtf8("组合"));
  miNewUnion = add(mUnions, QString::fromUtf8("新建组合"), &TFChartEditor::NewUnion);
  miAddToUnion = add(mUnions, QString::fromUtf8("加入组合..."), &TFChartEditor::AddToUnion);
  miRemoveFromUnion = add(mUnions, QString::fromUtf8("移出组合..."), &TFChartEditor::RemoveFromUnion);
  miClearUnion = add(mUnions, QString::fromUtf8("清除组合..."), &TFChartEditor::ClearUnion);
  miClearAllUnions = add(mUnions, QString::fromUtf8("清除全部组合"), &TFChartEditor::ClearAllUnions);

  mView = MainMenu->addMenu(QString::fromUtf8("查看"));
  miZoomIn = add(mView, QString::fromUtf8("放大"), &TFChartEditor::ZoomIn);
  miZoomOut = add(mView, QString::fromUtf8("缩小"), &TFChartEditor::ZoomOut);
  miFit = add(mView, QString::fromUtf8("适合窗口"), &TFChartEditor::ToggleFit);
  miActualSize = add(mView, QString::fromUtf8("实际大小"), &TFChartEditor::ActualSize);
  mView->addSeparator();
  XP1 = mView->addAction("XP");
  XP1->setCheckable(true);
  XP1->setChecked(true);
  connect(XP1, &QAction::toggled, this, Slot([this](bool on) { XPStyler->SetActive(on); }));

  mHelp = MainMenu->addMenu(QString::fromUtf8("帮助"));
  Contens1 = add(mHelp, QString::fromUtf8("目录"), &TFChartEditor::ShowHelp);

  ChartPopup = new QMenu(this);
  iEdit = ChartPopup->addAction(QString::fromUtf8("属性..."));
  connect(iEdit, &QAction::triggered, this, Slot([this] {
            EditSelected(Chart->SelectedObjects().empty() ? htLine : htShape);
          }));
  iRemovePoint = ChartPopup->addAction(QString::fromUtf8("删除点"));
  connect(iRemovePoint, &QAction::triggered, this, Slot([this] {
            TFcConnection* c = Chart->SelectedConnection();
            if (!c || c->PointCount() == 0) return;
            const TPoint o = Chart->ScrollOrigin();
            c->RemovePoint(c->NearestPoint({lastPress_.x + o.x, lastPress_.y + o.y}));
            TakeSnapshot();
          }));
  ChartPopup->addSeparator();
  for (QAction* a : {miUndo, miCut, miCopy, miPaste, miDelete, miSelectAll, miClearSelection, miBringToFront, miSendToBack})
    ChartPopup->addAction(a);
  ChartPopup->addSeparator();
  for (QAction* a : {miNewUnion, miAddToUnion, miRemoveFromUnion, miClearUnion, miClearAllUnions}) ChartPopup->addAction(a);
  UpdateZoomCommands();
}

// ---- closing

void TFChartEditor::reject() {
  // Escape, the close box and the exit command all come here.
  if (CanClose()) QDialog::reject();
}

void TFChartEditor::keyPressEvent(QKeyEvent* e) {
  // Enter finishes a field; it never saves and closes the editor.
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

// ---- state

void TFChartEditor::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (undo_.Count() == 0) {
    if (QScreen* s = screen()) {
      const QRect g = s->geometry();
      move(0, -2);
      resize(g.width() - 6, g.height() - 82);
    }
    TakeSnapshot();
  }
}

bool TFChartEditor::ToolActive() const {
  return btnCreateObject->isChecked() || btnCreateConnect->isChecked() || sbZoom->isChecked();
}

void TFChartEditor::SetToolMode(QToolButton* pressed) {
  for (QToolButton* b : {btnCreateObject, btnCreateConnect, sbZoom})
    if (b != pressed && b->isChecked()) b->setChecked(false);
  if (pressed != sbZoom) Chart->viewport()->unsetCursor();
}

void TFChartEditor::ScheduleSnapshot() {
  // Many items change in one edit: one snapshot once the edit's events are through.
  if (snapshotPending_) return;
  snapshotPending_ = true;
  QPointer<TFChartEditor> self(this);
  QTimer::singleShot(0, this, [self] {
    if (!self) return;
    self->snapshotPending_ = false;
    if (self->snapshots_) Guarded([&] { self->TakeSnapshot(); });
  });
}

void TFChartEditor::TakeSnapshot() {
  undo_.SaveState();
  miUndo->setEnabled(undo_.CanUndo());
}

void TFChartEditor::Undo() {
  if (!undo_.CanUndo()) return;
  const bool was = snapshots_;
  snapshots_ = false;
  undo_.Undo();
  snapshots_ = was;
  miUndo->setEnabled(undo_.CanUndo());
  ChartReloaded();
  RefreshTools();
}

void TFChartEditor::RefreshTools() {
  if (refreshing_) return;
  refreshing_ = true;
  auto set = [this](QToolButton* b, int tag) {
    SetControlTag(b, tag);
    ShowToolValue(b);
  };
  if (TFcObject* o = Chart->SelectedObject()) {
    set(sbShape, o->ShapeType());
    set(sbLine, o->LineWidth());
    set(sbTextPosition, o->VertTextPos() * 3 + o->HorzTextPos());
    set(sbImagePosition, o->VertImagePos() * 3 + o->HorzImagePos());
    objectFont_ = o->Font();
  }
  if (TFcConnection* c = Chart->SelectedConnection()) {
    set(sbStyle, c->Style() + 1);
    set(sbSourceArrow, c->SourceArrow().ArrowType());
    set(sbDestArrow, c->DestArrow().ArrowType());
    set(sbSArrowSize, (c->SourceArrow().Width() - 5) / 5);
    set(sbDArrowSize, (c->DestArrow().Width() - 5) / 5);
    set(sbSPoint, c->SourcePoint());
    set(sbDPoint, c->DestPoint());
    connectFont_ = c->Font();
  }
  const bool any = Chart->SelectedCount() > 0;
  for (QAction* a : {miCut, miCopy, miDelete, miClearSelection, miBringToFront, miSendToBack}) a->setEnabled(any);
  miPaste->setEnabled(!clipboard_.empty());
  bool hasUnion = false, inUnion = false;
  for (int i = 0; i < Chart->ObjectCount(); ++i) hasUnion = hasUnion || Chart->Objects(i)->HasUnionChildren();
  if (hasUnion) inUnion = !UnionChoices(Chart, 1).empty();
  miNewUnion->setEnabled(Chart->SelectedObjects().size() >= 2);
  miAddToUnion->setEnabled(hasUnion && !Chart->SelectedObjects().empty());
  miRemoveFromUnion->setEnabled(inUnion);
  miClearUnion->setEnabled(hasUnion);
  miClearAllUnions->setEnabled(hasUnion);
  iRemovePoint->setEnabled(Chart->SelectedConnection() != nullptr);
  miUndo->setEnabled(undo_.CanUndo());
  const bool single = Chart->SelectedObjects().size() == 1 && Chart->SelectedConnections().empty();
  refreshing_ = false;
  StepSelected(single ? Chart->SelectedObject() : nullptr);
}

void TFChartEditor::UpdateZoomCommands() {
  const int z = Chart->Zoom();
  miZoomIn->setEnabled(!fit_ && z < kMaxZoom);
  miZoomOut->setEnabled(!fit_ && z >= kMinZoom + 1);
  miActualSize->setEnabled(!fit_ && z != 100);
  miFit->setCheckable(true);
  miFit->setChecked(fit_);
  sbFit->setChecked(fit_);
  sbZoom->setEnabled(!fit_);
}

// ---- tool bar values

void TFChartEditor::PickTool(QToolButton* button, int tag) {
  SetControlTag(button, tag);
  // The button shows the pick even when nothing is selected; the tools follow the
  // selection only once the pick has been applied to it.
  ShowToolValue(button);
  static const std::map<QString, std::pair<int, int>> kApplies = {
      {"sbShape", {1, 0}},        {"sbLine", {2, 0}},        {"sbTextPosition", {5, 0}}, {"sbImagePosition", {6, 0}},
      {"sbStyle", {0, 1}},        {"sbSourceArrow", {0, 3}}, {"sbDestArrow", {0, 4}},    {"sbSArrowSize", {0, 5}},
      {"sbDArrowSize", {0, 6}},   {"sbSPoint", {0, 7}},      {"sbDPoint", {0, 8}}};
  auto it = kApplies.find(button->objectName());
  if (it != kApplies.end()) {
    if (it->second.first) ApplyObjectProperties(it->second.first);
    if (it->second.second) ApplyConnectionProperties(it->second.second);
  }
  RefreshTools();
}

void TFChartEditor::ShowToolValue(QToolButton* b) {
  // The value stands on the button, as its glyph would; the caption is its tool tip.
  if (QMenu* m = b->menu())
    for (QAction* a : m->actions())
      if (a->data().toInt() == Tag(b)) {
        b->setText(a->text());
        return;
      }
  b->setText(b->property("Caption").toString());
}

void TFChartEditor::ApplyObjectTo(TFcObject* o, int w) {
  if (w == 0 || w == 1) o->SetShapeType(static_cast<uint8_t>(Tag(sbShape)));
  if (w == 0 || w == 2) o->SetLineWidth(static_cast<uint8_t>(Tag(sbLine)));
  if (w == 0 || w == 3) o->SetShapeColor(pColor->Color());
  if (w == 0 || w == 4) o->SetBkColor(pBkColor->Color());
  if (w == 0 || w == 5) o->SetTextPos(static_cast<uint8_t>(Tag(sbTextPosition) % 3), static_cast<uint8_t>(Tag(sbTextPosition) / 3));
  if (w == 0 || w == 6) o->SetImagePos(static_cast<uint8_t>(Tag(sbImagePosition) % 3), static_cast<uint8_t>(Tag(sbImagePosition) / 3));
  if ((w == 0 || w == 7) && !(o->ParentFont() && objectFont_ == Chart->Font())) o->SetFont(objectFont_);
}

void TFChartEditor::ApplyConnectionTo(TFcConnection* c, int w) {
  if (w == 0 || w == 1) c->SetStyle(static_cast<uint8_t>(std::max(0, Tag(sbStyle) - 1)));
  if (w == 0 || w == 2) c->SetColor(pColor->Color());
  if (w == 0 || w == 3) c->SourceArrow().SetArrowType(static_cast<uint8_t>(Tag(sbSourceArrow)));
  if (w == 0 || w == 4) c->DestArrow().SetArrowType(static_cast<uint8_t>(Tag(sbDestArrow)));
  for (auto [which, button, arrow] : {std::tuple{5, sbSArrowSize, &c->SourceArrow()}, std::tuple{6, sbDArrowSize, &c->DestArrow()}})
    if (w == 0 || w == which) {
      arrow->SetWidth(static_cast<uint8_t>(Tag(button) * 5 + 5));
      arrow->SetHeight(static_cast<uint8_t>(Tag(button) * 5 + 5));
    }
  if (w == 0 || w == 7) c->SetSource(c->Source(), Tag(sbSPoint));
  if (w == 0 || w == 8) c->SetDest(c->Dest(), Tag(sbDPoint));
  if ((w == 0 || w == 9) && !(c->ParentFont() && connectFont_ == Chart->Font())) c->SetFont(connectFont_);
  if (w == 0 || w == 10) {
    c->SourceArrow().SetColor(pBkColor->Color());
    c->DestArrow().SetColor(pBkColor->Color());
  }
}

void TFChartEditor::ApplyObjectProperties(int which) {
  if (!applyProperties_ || Chart->SelectedObjects().empty()) return;
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->BeginUpdate();
  for (TFcItem* it : std::vector<TFcItem*>(Chart->SelectedObjects())) ApplyObjectTo(static_cast<TFcObject*>(it), which);
  Chart->EndUpdate();
  snapshots_ = was;
  TakeSnapshot();
}

void TFChartEditor::ApplyConnectionProperties(int which) {
  if (!applyProperties_ || Chart->SelectedConnections().empty()) return;
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->BeginUpdate();
  for (TFcItem* it : std::vector<TFcItem*>(Chart->SelectedConnections())) ApplyConnectionTo(static_cast<TFcConnection*>(it), which);
  Chart->EndUpdate();
  snapshots_ = was;
  TakeSnapshot();
}

// ---- mouse tools

bool TFChartEditor::eventFilter(QObject* watched, QEvent* e) {
  bool eaten = false;
  Guarded([&] {
    if (watched == Chart) {
      if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return;
      auto* k = static_cast<QKeyEvent*>(e);
      const bool press = e->type() == QEvent::KeyPress;
      if (k->key() == Qt::Key_Alt && sbZoom->isChecked())
        Chart->viewport()->setCursor(ScreenCursor(press ? crZoomOut : crZoomIn));
      if (!press) {
        if (k->key() == Qt::Key_Delete && !k->isAutoRepeat()) TakeSnapshot();
        return;
      }
      if (k->key() == Qt::Key_Escape && toolDrag_ != tdNone) {
        toolDrag_ = tdNone;
        Chart->viewport()->update();
        eaten = true;
      } else if (k->key() == Qt::Key_Insert && (k->modifiers() & Qt::ControlModifier)) {
        CopySelection();
        eaten = true;
      } else if (k->key() == Qt::Key_Insert && (k->modifiers() & Qt::ShiftModifier)) {
        Paste();
        eaten = true;
      } else if (k->key() == Qt::Key_Delete && (k->modifiers() & Qt::ShiftModifier)) {
        CutSelection();
        eaten = true;
      }
      return;
    }
    if (watched != Chart->viewport()) return;
    switch (e->type()) {
      case QEvent::MouseButtonPress: {
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint pos = m->position().toPoint();
        lastPress_ = {pos.x(), pos.y()};
        if (m->button() == Qt::RightButton) {
          ChartPopup->popup(m->globalPosition().toPoint());
          eaten = true;
          return;
        }
        if (m->button() != Qt::LeftButton) return;
        if (!CanLeaveStep()) {
          eaten = true;
          return;
        }
        Chart->setFocus(Qt::MouseFocusReason);
        if (sbZoom->isChecked()) {
          if (m->modifiers() & Qt::AltModifier) {
            if (Chart->Zoom() > kMinZoom) Chart->SetZoom(static_cast<uint16_t>(Chart->Zoom() - 10));
          } else if (Chart->Zoom() < kMaxZoom) {
            Chart->SetZoom(static_cast<uint16_t>(Chart->Zoom() + 10));
          }
          UpdateZoomCommands();
          eaten = true;
          return;
        }
        pressPos_ = curPos_ = lastPress_;
        if (btnCreateObject->isChecked()) {
          toolDrag_ = tdCreateObject;
        } else if (btnCreateConnect->isChecked()) {
          toolDrag_ = tdCreateConnection;
        } else if (Chart->HitTest(pos.x(), pos.y()) < 4) {
          toolDrag_ = tdRubberBand;
          if (!(m->modifiers() & Qt::ShiftModifier)) Chart->ClearSelection();
        } else {
          return;
        }
        eaten = true;
        Chart->viewport()->update();
        return;
      }
      case QEvent::MouseMove: {
        if (toolDrag_ == tdNone) return;
        curPos_ = ClampToClient(Chart, static_cast<QMouseEvent*>(e)->position().toPoint());
        Chart->viewport()->update();
        eaten = true;
        return;
      }
      case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(e);
        if (toolDrag_ == tdNone || m->button() != Qt::LeftButton) return;
        curPos_ = ClampToClient(Chart, m->position().toPoint());
        const TToolDrag kind = toolDrag_;
        toolDrag_ = tdNone;
        eaten = true;
        Chart->viewport()->update();
        if (kind == tdCreateObject) {
          btnCreateObject->setChecked(false);
          CreateStepAt({std::min(pressPos_.x, curPos_.x), std::min(pressPos_.y, curPos_.y)});
        } else if (kind == tdCreateConnection) {
          btnCreateConnect->setChecked(false);
          CreateConnectionBetween(pressPos_, curPos_);
        } else {
          FinishRubberBand(pressPos_, curPos_, m->modifiers() & Qt::ShiftModifier);
        }
        return;
      }
      case QEvent::MouseButtonDblClick: {
        const QPoint pos = static_cast<QMouseEvent*>(e)->position().toPoint();
        lastPress_ = {pos.x(), pos.y()};
        eaten = ToolActive();
        return;
      }
      default:
        return;
    }
  });
  return eaten || QDialog::eventFilter(watched, e);
}

void TFChartEditor::PaintOverlay(QPainter& p) {
  if (toolDrag_ == tdNone) return;
  p.save();
  p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
  p.setPen(QPen(Qt::black, 1, toolDrag_ == tdRubberBand ? Qt::DotLine : Qt::SolidLine));
  p.setBrush(Qt::NoBrush);
  if (toolDrag_ == tdCreateConnection) {
    p.drawLine(pressPos_.x, pressPos_.y, curPos_.x, curPos_.y);
  } else {
    const TRect r = Normalized(pressPos_, curPos_);
    p.drawRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
  }
  p.restore();
}

void TFChartEditor::CreateStepAt(TPoint client) {
  if (!CanAddStep()) return;
  const TPoint real = Chart->ClientToReal(client);
  // Steps sit on an 8-unit grid; division truncates toward zero.
  const int32_t x = real.x / 8 * 8, y = real.y / 8 * 8;
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->BeginUpdate();
  TFcObject* o = Chart->CreateObject(x, y, 145, 50, static_cast<uint8_t>(Tag(sbShape)));
  ApplyObjectTo(o, 0);
  if (o->Text().empty()) o->SetText(Cp936("流程节点 ") + std::to_string(Chart->ObjectCount()));
  o->SetLineWidth(2);
  o->SetShapeColor(clBlack);
  o->SetBkColor(0xFFFFFF);
  o->SetImageIndex(static_cast<int16_t>(Chart->ObjectCount() - 1));
  Chart->EndUpdate();
  StepAdded(o);
  snapshots_ = was;
  TakeSnapshot();
}

void TFChartEditor::CreateConnectionBetween(TPoint from, TPoint to) {
  if (std::abs(to.x - from.x) < 6 && std::abs(to.y - from.y) < 6) return;
  const TPoint org = Chart->ScrollOrigin();
  auto objectAt = [this](TPoint p) -> TFcObject* {
    Chart->ClearHitCache();
    const uint8_t code = Chart->HitTest(p.x, p.y);
    return (code & (htShape | htObjectRect)) ? Chart->HitObject() : nullptr;
  };
  TFcObject* src = objectAt(from);
  TFcObject* dst = objectAt(to);
  const TPoint fromChart{from.x + org.x, from.y + org.y}, toChart{to.x + org.x, to.y + org.y};
  const int sp = src ? src->NearestLinkedPoint(fromChart) : Tag(sbSPoint);
  const int dp = dst ? dst->NearestLinkedPoint(toChart) : Tag(sbDPoint);
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->BeginUpdate();
  TFcConnection* c = Chart->CreateConnection(src, dst, sp, dp);
  if (!src) c->InsertPoint(0, Chart->ClientToReal(from));
  if (!dst) c->AddPoint(Chart->ClientToReal(to));
  // The ends keep the linked points the mouse chose.
  for (int which : {1, 2, 3, 4, 5, 6, 9, 10}) ApplyConnectionTo(c, which);
  c->SourceArrow().SetArrowType(atOval);
  c->SourceArrow().SetColor(0x8000FF);
  c->DestArrow().SetArrowType(atArrow);
  Chart->EndUpdate();
  snapshots_ = was;
  TakeSnapshot();
}

void TFChartEditor::ConnectSelectedPair() {
  auto* a = static_cast<TFcObject*>(Chart->SelectedObjects()[0]);
  auto* b = static_cast<TFcObject*>(Chart->SelectedObjects()[1]);
  auto centre = [](const TFcObject* o) {
    const TRect r = o->ZoomedRect();
    return TPoint{r.Left + r.Width() / 2, r.Top + r.Height() / 2};
  };
  const bool was = snapshots_;
  snapshots_ = false;
  TFcConnection* c = Chart->CreateConnection(a, b, a->NearestLinkedPoint(centre(b)), b->NearestLinkedPoint(centre(a)));
  for (int which : {1, 2, 3, 4, 5, 6, 9, 10}) ApplyConnectionTo(c, which);
  c->SourceArrow().SetArrowType(atOval);
  c->SourceArrow().SetColor(0x8000FF);
  c->DestArrow().SetArrowType(atArrow);
  snapshots_ = was;
  btnCreateConnect->setChecked(false);
  TakeSnapshot();
}

void TFChartEditor::FinishRubberBand(TPoint from, TPoint to, bool shift) {
  const TPoint org = Chart->ScrollOrigin();
  const TRect r = Normalized(from, to).Offset(org.x, org.y).Offset4(0, 0, 1, 1);
  if (!shift) Chart->ClearSelection();
  Chart->BeginUpdate();
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    TFcObject* o = Chart->Objects(i);
    if (o->IntersectsRect(r)) o->SetSelected(!o->Selected());
  }
  for (int i = 0; i < Chart->ConnectionCount(); ++i) {
    TFcConnection* c = Chart->Connections(i);
    const auto& pts = c->ZoomedPoints();
    if (pts.size() >= 2 && LineCrossesRect(c->Style(), pts.data(), static_cast<int>(pts.size()), r)) c->SetSelected(!c->Selected());
  }
  Chart->EndUpdate();
  RefreshTools();
}

// ---- clipboard

void TFChartEditor::ClearClipboard() {
  clipboard_.clear();
  buffer_.Clear();
}

void TFChartEditor::CopySelection() {
  if (Chart->SelectedCount() == 0) return;
  ClearClipboard();
  std::map<const TFcObject*, TFcObject*> copies;
  // In list order, so the copies keep their z-order.
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    TFcObject* o = Chart->Objects(i);
    if (!o->Selected()) continue;
    TFcObject* k = buffer_.CreateObject(0, 0, 0, 0, 0);
    k->Assign(*o);
    copies[o] = k;
    clipboard_.push_back({k, 0});
  }
  for (int i = 0; i < Chart->ConnectionCount(); ++i) {
    TFcConnection* c = Chart->Connections(i);
    if (!c->Selected()) continue;
    auto find = [&](TFcObject* o) -> TFcObject* {
      auto it = copies.find(o);
      return it == copies.end() ? nullptr : it->second;
    };
    TFcObject* s = find(c->Source());
    TFcObject* d = find(c->Dest());
    TFcConnection* k = buffer_.CreateConnection(s, d, c->SourcePoint(), c->DestPoint());
    k->Assign(*c);
    // An end whose object stays behind becomes a loose point where it was.
    if (!s && c->Source()) k->AddPoint(c->RealPoints().front());
    for (int p = 0; p < c->PointCount(); ++p) k->AddPoint(c->GetPoint(p));
    if (!d && c->Dest()) k->AddPoint(c->RealPoints().back());
    clipboard_.push_back({k, 1});
  }
  RefreshTools();
}

void TFChartEditor::Paste() {
  if (clipboard_.empty()) return;
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->BeginUpdate();
  Chart->ClearSelection();
  std::map<const TFcItem*, TFcObject*> pasted;
  for (const TBuferItem& b : clipboard_) {
    if (b.Kind != 0) continue;
    const auto* src = static_cast<const TFcObject*>(b.Item);
    if (!CanAddStep()) break;
    TFcObject* o = Chart->CreateObject(0, 0, 0, 0, 0);
    o->Assign(*src);
    o->SetBounds(src->Left() + 5, src->Top() + 5, src->Width(), src->Height());
    o->BringToFront();
    o->SetSelected(true);
    pasted[src] = o;
    // The step decides whose record the copy takes.
    o->SetStepId({});
    AnsiString name = src->Text();
    auto taken = [this, o](const AnsiString& n) {
      for (int i = 0; i < Chart->ObjectCount(); ++i)
        if (Chart->Objects(i) != o && Chart->Objects(i)->Text() == n) return true;
      return false;
    };
    for (int n = 2; taken(name); ++n) name = src->Text().substr(0, 44) + "-" + std::to_string(n);
    o->SetText(name);
    StepPasted(o, src);
  }
  for (const TBuferItem& b : clipboard_) {
    if (b.Kind != 1) continue;
    const auto* src = static_cast<const TFcConnection*>(b.Item);
    auto find = [&](TFcObject* o) -> TFcObject* {
      auto it = pasted.find(o);
      return it == pasted.end() ? nullptr : it->second;
    };
    TFcConnection* c = Chart->CreateConnection(find(src->Source()), find(src->Dest()), src->SourcePoint(), src->DestPoint());
    c->Assign(*src);
    for (int p = 0; p < src->PointCount(); ++p) {
      TPoint q = src->GetPoint(p);
      c->AddPoint({q.x + 5, q.y + 5});
    }
    c->SetSelected(true);
  }
  Chart->EndUpdate();
  snapshots_ = was;
  TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::CutSelection() {
  if (Chart->SelectedCount() == 0) return;
  CopySelection();
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->DeleteSelection();
  snapshots_ = was;
  TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::DeleteSelection() {
  if (Chart->SelectedCount() == 0) return;
  Chart->DeleteSelection();
  TakeSnapshot();
  RefreshTools();
}

// ---- unions

void TFChartEditor::NewUnion() {
  const std::vector<TFcItem*> sel = Chart->SelectedObjects();
  if (sel.size() < 2) return;
  auto* u = static_cast<TFcObject*>(sel.front());
  bool changed = false;
  for (size_t i = 1; i < sel.size(); ++i) {
    auto* o = static_cast<TFcObject*>(sel[i]);
    if (o->HasUnionChildren() && o->UnionContains(u)) continue;
    changed = u->AddToUnion(o) || changed;
  }
  if (changed) TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::AddToUnion() {
  TFcObject* u = SelectUnionDialog(Chart, 0, this);
  if (!u) return;
  bool changed = false;
  for (TFcItem* it : std::vector<TFcItem*>(Chart->SelectedObjects())) {
    auto* o = static_cast<TFcObject*>(it);
    if (o == u || (o->HasUnionChildren() && o->UnionContains(u))) continue;
    changed = u->AddToUnion(o) || changed;
  }
  if (changed) TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::RemoveFromUnion() {
  TFcObject* u = SelectUnionDialog(Chart, 1, this);
  if (!u) return;
  const std::string before = WriteChartData(Chart->SaveToData());
  for (TFcItem* it : std::vector<TFcItem*>(Chart->SelectedObjects())) u->RemoveFromUnion(static_cast<TFcObject*>(it));
  if (WriteChartData(Chart->SaveToData()) != before) TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::ClearUnion() {
  TFcObject* u = SelectUnionDialog(Chart, 0, this);
  if (!u) return;
  u->ClearUnion();
  TakeSnapshot();
  RefreshTools();
}

void TFChartEditor::ClearAllUnions() {
  bool changed = false;
  for (int i = 0; i < Chart->ObjectCount(); ++i)
    if (Chart->Objects(i)->HasUnionChildren()) {
      Chart->Objects(i)->ClearUnion();
      changed = true;
    }
  if (changed) TakeSnapshot();
  RefreshTools();
}

AnsiString TFChartEditor::UnionHint(const TFcObject* o) const {
  AnsiString hint;
  if (o->HasUnionChildren()) hint = "Main Item of the Union " + std::to_string(UnionNumber(Chart, o));
  std::vector<int> numbers;
  int n = 0;
  for (int i = 0; i < Chart->ObjectCount(); ++i) {
    const TFcObject* u = Chart->Objects(i);
    if (!u->HasUnionChildren()) continue;
    ++n;
    if (u != o && u->UnionContains(o)) numbers.push_back(n);
  }
  if (numbers.empty()) return hint;
  hint += hint.empty() ? "Child Item of the " : " and Child Item of the ";
  hint += numbers.size() == 1 ? "Union " : "Unions ";
  for (size_t i = 0; i < numbers.size(); ++i) hint += (i ? ", " : "") + std::to_string(numbers[i]);
  return hint;
}

void TFChartEditor::UpdateHint(int x, int y) {
  if (toolDrag_ != tdNone || Chart->DragKind() != dkNone) return;
  const uint8_t code = Chart->HitTest(x, y);
  QString h;
  if ((code & (htShape | htObjectRect)) && Chart->HitObject()) h = ToQString(UnionHint(Chart->HitObject()));
  if (h == hint_) return;
  hint_ = h;
  Chart->viewport()->setToolTip(h);
}

// ---- files, zoom, help, dialogs

bool TFChartEditor::OpenChartFile(const std::string& path) {
  TFcChartData data;
  try {
    TMemoryStream file;
    file.LoadFromFile(path);
    data = ReadChartData(std::string_view(file.Data()));
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), Cp936("系统提示"), MsgIcon::Error, MsgButtons::Ok, this);
    return false;
  }
  const bool was = snapshots_;
  snapshots_ = false;
  Chart->LoadFromData(data);
  // The steps take their ties before the snapshot, so undo keeps them.
  ChartFileOpened();
  snapshots_ = was;
  TakeSnapshot();
  RefreshTools();
  return true;
}

void TFChartEditor::OpenChart() {
  FileDialogOptions o;
  o.filter = Cp936(kFileFilter);
  o.defaultExt = "flc";
  const std::vector<std::string> files = Services::FileDialogs().OpenFiles(o, this);
  if (!files.empty()) OpenChartFile(files.front());
}

void TFChartEditor::SaveChartAs() {
  FileDialogOptions o;
  o.filter = Cp936(kFileFilter);
  o.defaultExt = "flc";
  const std::optional<std::string> file = Services::FileDialogs().SaveFile(o, this);
  if (!file) return;
  try {
    Chart->SaveToFile(*file);
  } catch (const Exception& e) {
    ShowMessageBox(e.Message(), Cp936("系统提示"), MsgIcon::Error, MsgButtons::Ok, this);
  }
}

void TFChartEditor::ZoomIn() {
  if (fit_) return;
  if (Chart->Zoom() < kMaxZoom) Chart->SetZoom(static_cast<uint16_t>(Chart->Zoom() + 10));
  UpdateZoomCommands();
}

void TFChartEditor::ZoomOut() {
  if (fit_) return;
  if (Chart->Zoom() >= kMinZoom + 1) Chart->SetZoom(static_cast<uint16_t>(Chart->Zoom() - 10));
  UpdateZoomCommands();
}

void TFChartEditor::ToggleFit() {
  fit_ = !fit_;
  if (fit_ && sbZoom->isChecked()) sbZoom->setChecked(false);
  Chart->SetZoom(fit_ ? 0 : 100);
  UpdateZoomCommands();
}

void TFChartEditor::ActualSize() {
  if (fit_) return;
  Chart->SetZoom(100);
  UpdateZoomCommands();
}

void TFChartEditor::ShowHelp() {
  const QString name = "FCEditor.hlp";
  QStringList places = {QDir::current().filePath(name), QDir(QCoreApplication::applicationDirPath()).filePath(name)};
  Registry reg;
  try {
    reg.Load();
    const std::string root = reg.ReadString(kHelpKey, "RootDir");
    if (!root.empty()) places << QString::fromStdString(root) + "/Help/" + name;
  } catch (const Exception&) {
    // A damaged registry file names no help folder.
  }
  for (const QString& p : places)
    if (QFileInfo::exists(p)) {
      Services::Shell().Open(p.toStdString());
      return;
    }
}

void TFChartEditor::EditSelected(uint8_t code) {
  QPointer<TFChartEditor> self(this);
  if (code & (htObjectRect | htShape)) {
    TFcObject* o = Chart->SelectedObject();
    if (!o && (code & htShape)) o = Chart->HitObject();
    if (!o) return;
    std::vector<std::pair<TFcObject*, AnsiString>> before;
    for (TFcItem* it : Chart->SelectedObjects()) before.push_back({static_cast<TFcObject*>(it), it->Text()});
    if (EditObject(Chart, o) && self) {
      for (const auto& [object, text] : before) StepEdited(object, text);
      TakeSnapshot();
    }
  } else if (code & htConnectionMask) {
    TFcConnection* c = Chart->SelectedConnection();
    if (!c) c = Chart->HitConnection();
    if (!c) return;
    if (EditConnection(Chart, c) && self) TakeSnapshot();
  }
  if (self) RefreshTools();
}
