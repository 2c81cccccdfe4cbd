#include "gavelhawk/gui/MainDlg.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTime>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <tuple>
#include <vector>

#include "gavelhawk/app/exchange.h"
#include "gavelhawk/app/settings.h"
#include "gavelhawk/app/update.h"
#include "gavelhawk/gui/result_table.h"
#include "gavelhawk/gui/snipe_table.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/snipe/engine.h"
#include "platform/shell/locate.h"
#include "platform/shell/shell.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"
#include "site/fetch.h"

using platform::text::GbkToQString;
using platform::text::QStringToGbk;

namespace gavelhawk::ui {

// Draws the cell as usual, then its right and bottom rules: the list views'
// grid lines.
class GridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Mid));
    const QRect r = option.rect;
    painter->drawLine(r.topRight(), r.bottomRight());
    painter->drawLine(r.bottomLeft(), r.bottomRight());
    painter->restore();
  }
};

// A report-style list view that tells its owner about every click, on a row
// or on the empty area, after the selection has followed the mouse.
// A list view that tells clicks, Enter and the context key as clicks.
template <class Base>
class ClickList : public Base {
 public:
  using Base::Base;
  std::function<void(Qt::MouseButton)> onClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    Base::mouseReleaseEvent(e);
    if (onClick && (e->button() == Qt::LeftButton || e->button() == Qt::RightButton)) onClick(e->button());
  }
  void keyPressEvent(QKeyEvent* e) override {
    // From the keyboard: Enter stands for a click and stays in the list
    // (it must not run the search); Shift+F10 stands for a right click.
    if (onClick && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
      onClick(Qt::LeftButton);
      e->accept();
      return;
    }
    if (onClick && e->key() == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier) {
      onClick(Qt::RightButton);
      e->accept();
      return;
    }
    Base::keyPressEvent(e);
  }
  void contextMenuEvent(QContextMenuEvent* e) override {
    if (onClick && e->reason() == QContextMenuEvent::Keyboard) {
      onClick(Qt::RightButton);
      e->accept();
      return;
    }
    Base::contextMenuEvent(e);
  }
};
using ListView = ClickList<QTreeView>;

namespace {

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), size / 5.0, size / 5.0);
    p.fillPath(body, QColor(0x2F, 0x6F, 0xB3));
    // A gavel head over its strike block.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.translate(size / 2.0, size / 2.0);
    p.rotate(-35);
    p.drawRoundedRect(QRectF(-size * 0.30, -size * 0.28, size * 0.42, size * 0.20), size * 0.04, size * 0.04);
    p.drawRect(QRectF(-size * 0.05, -size * 0.10, size * 0.10, size * 0.40));
    p.resetTransform();
    p.drawRect(QRectF(size * 0.22, size * 0.74, size * 0.56, size * 0.10));
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace

}  // namespace gavelhawk::ui

using gavelhawk::ui::ListView;

CMainDlg::CMainDlg(MainDlgServices services, QWidget* parent)
    : QDialog(parent), m_services(std::move(services)) {
  m_strTitle = platform::text::Utf8ToGbk("商品名称");
  if (!m_services.localTime) {
    m_services.localTime = [] {
      const QTime t = QTime::currentTime();
      return LocalTime{t.second(), t.msec()};
    };
  }
  setObjectName(QStringLiteral("CMainDlg"));
  setWindowTitle(QStringLiteral("Gavelhawk"));
  setAccessibleName(QStringLiteral("Gavelhawk"));
  // Caption bar, system menu, minimise and maximise boxes; resizable down to
  // the template's size.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(platform::dialog::DialogFont());
  CreateControls();
  UpdateData(false);
  if (m_services.opener) {
    QPointer<CMainDlg> self(this);
    m_services.opener->onFailure = [self](const std::string& what, const std::string& why) {
      if (self) self->OpenFailed(what, why);
    };
  }
}

CMainDlg::~CMainDlg() {
  if (m_services.opener) m_services.opener->onFailure = nullptr;
  StopSnipeWork();
}

void CMainDlg::ShowCaption() {
  QStringList parts{QStringLiteral("Gavelhawk")};
  if (!m_services.loginNotice.empty()) parts << QString::fromStdString(m_services.loginNotice);
  if (!m_status.isEmpty()) parts << m_status;
  setWindowTitle(parts.join(QStringLiteral(" - ")));
}

void CMainDlg::ShowStatus(const QString& text) {
  m_status = text;
  ShowCaption();
}

void CMainDlg::OpenFailed(const std::string& what, const std::string& why) {
  const QString told =
      QStringLiteral("无法打开 %1\n%2").arg(QString::fromStdString(what), QString::fromStdString(why));
  gavelhawk::log::Log(QString(told).replace(QLatin1Char('\n'), QStringLiteral("：")).toStdString());
  Message(told);
}

// ---------------------------------------------------------------------------
// Controls of template 102, in template order: that order is the tab order.

void CMainDlg::CreateControls() {
  using platform::dialog::MapDialogRect;
  const QFont f = font();
  auto rect = [&](int x, int y, int w, int h) { return MapDialogRect(f, QRect(x, y, w, h)); };
  auto keep = [this](int id, QWidget* w) {
    w->setObjectName(QStringLiteral("IDC_%1").arg(id));
    m_controls[id] = w;
  };
  auto button = [&](int id, const char* text, QRect du) {
    auto* b = new QPushButton(gavelhawk::ui::U(text), this);
    b->setGeometry(rect(du.x(), du.y(), du.width(), du.height()));
    b->setAutoDefault(true);
    keep(id, b);
    return b;
  };
  auto label = [&](const char* text, QRect du) {
    auto* l = new QLabel(gavelhawk::ui::U(text), this);
    l->setGeometry(rect(du.x(), du.y(), du.width(), du.height()));
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
  };
  auto edit = [&](int id, QRect du, QLabel* by, const QString& name) {
    auto* e = new QLineEdit(this);
    e->setGeometry(rect(du.x(), du.y(), du.width(), du.height()));
    e->setAccessibleName(name);
    if (by) by->setBuddy(e);
    keep(id, e);
    return e;
  };
  auto group = [&](const char* text, QRect du) {
    auto* g = new QGroupBox(gavelhawk::ui::U(text), this);
    g->setGeometry(rect(du.x(), du.y(), du.width(), du.height()));
    g->setFocusPolicy(Qt::NoFocus);
    return g;
  };
  auto list = [&](int id, QRect du, const char* name) {
    auto* v = new ListView(this);
    v->setGeometry(rect(du.x(), du.y(), du.width(), du.height()));
    v->setRootIsDecorated(false);
    v->setIndentation(0);
    v->setUniformRowHeights(true);
    v->setSortingEnabled(false);
    v->setItemsExpandable(false);
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setAllColumnsShowFocus(true);
    v->setItemDelegate(new gavelhawk::ui::GridDelegate(v));
    v->setFocusPolicy(Qt::StrongFocus);
    v->setAccessibleName(gavelhawk::ui::U(name));
    v->header()->setSectionsClickable(false);
    v->header()->setSectionsMovable(false);
    v->header()->setStretchLastSection(false);
    v->header()->setMinimumSectionSize(8);
    keep(id, v);
    return v;
  };
  auto unit = [](QLineEdit* e, QLabel* u) { e->setAccessibleDescription(u->text()); };

  // Top row.
  button(IDC_HOMEPAGE, "京东首页", {12, 7, 50, 20});
  button(IDC_AUCTIONSITE, "夺宝岛", {62, 7, 50, 20});
  button(IDC_SERVICE, "代拍服务", {112, 7, 50, 20});
  button(IDC_MANUAL, "操作说明", {162, 7, 50, 20});
  button(IDC_UPDATEHISTORY, "更新历史", {212, 7, 50, 20});
  button(IDC_PRICEQUERY, "价格查询", {262, 7, 50, 20});
  button(IDC_LOG, "日志", {312, 7, 50, 20});
  button(IDC_COLLAPSE, "收缩", {362, 7, 50, 20});
  auto* ie = new QCheckBox(QStringLiteral("IE模式"), this);
  ie->setGeometry(rect(424, 14, 58, 10));
  keep(IDC_IEMODE, ie);

  // Closing snipe.
  group("竞拍即将结束时抢拍", {7, 33, 488, 136});
  QLabel* l = label("夺宝编号", {27, 49, 33, 8});
  edit(IDC_DEALID, {65, 47, 62, 14}, l, l->text());
  QLineEdit* title = edit(IDC_TITLE, {134, 49, 140, 14}, nullptr, gavelhawk::ui::U("商品名称"));
  title->setReadOnly(true);
  title->setFrame(false);
  // Read-only, but a keyboard user must still be able to reach and read it.
  title->setFocusPolicy(Qt::StrongFocus);
  l = label("抢拍组", {278, 49, 25, 8});
  edit(IDC_GROUP, {304, 47, 26, 14}, l, l->text());
  button(IDC_VIEWITEM, "查看商品", {334, 43, 50, 20});
  button(IDC_MANUALBID, "手动出价", {386, 43, 50, 20});
  button(IDC_AUTOBID, "自动出价", {437, 43, 50, 20});
  l = label("最高出价", {27, 73, 33, 8});
  QLineEdit* e = edit(IDC_MAXPRICE, {65, 69, 40, 14}, l, l->text());
  unit(e, label("元", {109, 73, 9, 8}));
  l = label("加价幅度", {128, 73, 33, 8});
  e = edit(IDC_INCREMENT, {166, 69, 40, 14}, l, l->text());
  unit(e, label("元", {210, 73, 9, 8}));
  l = label("准备时间", {227, 71, 33, 8});
  e = edit(IDC_PREPTIME, {265, 68, 40, 14}, l, l->text());
  unit(e, label("毫秒", {309, 71, 17, 8}));
  button(IDC_DELETE, "删除商品", {334, 66, 50, 20});
  button(IDC_MODIFY, "修改商品", {386, 66, 50, 20});
  button(IDC_CLEAR, "清空抢拍", {437, 66, 50, 20});
  // The ceiling's context: what the same item sold for lately.
  QLabel* history = label("", {65, 84, 260, 8});
  history->setAccessibleName(gavelhawk::ui::U("历史成交"));
  keep(IDC_HISTORY, history);
  m_listSnipe = list(IDC_SNIPELIST, {17, 94, 466, 67}, "抢拍列表");
  m_snipeTable = new SnipeTableModel(&m_snipeList, m_listSnipe);
  m_listSnipe->setModel(m_snipeTable);

  // Opening snipe.
  group("开卖立即最高价抢拍（慎用）", {7, 174, 488, 38});
  l = label("夺宝编号", {25, 194, 33, 8});
  edit(IDC_OPENDEALID, {65, 190, 62, 14}, l, gavelhawk::ui::U("开卖抢拍 夺宝编号"));
  l = label("出价", {163, 194, 17, 8});
  e = edit(IDC_OPENPRICE, {184, 190, 40, 14}, l, gavelhawk::ui::U("开卖抢拍 出价"));
  unit(e, label("元", {228, 194, 9, 8}));
  l = label("竞拍滞后", {268, 194, 33, 8});
  e = edit(IDC_OPENLAG, {306, 190, 40, 14}, l, l->text());
  unit(e, label("毫秒", {352, 194, 17, 8}));
  button(IDC_OPENSNIPE, "开卖抢拍", {385, 186, 50, 20});
  button(IDC_CANCELOPEN, "取消开卖抢", {437, 186, 50, 20})->setEnabled(false);

  // Search.
  group("开拍商品查询", {7, 217, 488, 180});
  l = label("包含字段", {23, 234, 33, 8});
  const int includeIds[] = {IDC_INCLUDE1, IDC_INCLUDE2, IDC_INCLUDE3, IDC_INCLUDE4};
  const int includeX[] = {61, 128, 195, 262};
  for (int k = 0; k < 4; ++k) {
    edit(includeIds[k], {includeX[k], 232, 67, 14}, k == 0 ? l : nullptr,
         QStringLiteral("%1 %2").arg(l->text()).arg(k + 1));
  }
  button(IDC_CLEARINCLUDE, "×", {330, 232, 13, 14})->setAccessibleName(gavelhawk::ui::U("清空包含字段"));
  l = label("屏障字段", {23, 252, 33, 8});
  const int excludeIds[] = {IDC_EXCLUDE1, IDC_EXCLUDE2, IDC_EXCLUDE3, IDC_EXCLUDE4};
  const int excludeX[] = {61, 116, 171, 226};
  for (int k = 0; k < 4; ++k) {
    edit(excludeIds[k], {excludeX[k], 250, 55, 14}, k == 0 ? l : nullptr,
         QStringLiteral("%1 %2").arg(l->text()).arg(k + 1));
  }
  button(IDC_CLEAREXCLUDE, "×", {282, 250, 13, 14})->setAccessibleName(gavelhawk::ui::U("清空屏障字段"));
  l = label("搜索范围", {357, 234, 33, 8});
  m_comboCategory = new QComboBox(this);
  m_comboCategory->setGeometry(rect(399, 232, 80, 14));
  m_comboCategory->setAccessibleName(l->text());
  l->setBuddy(m_comboCategory);
  keep(IDC_CATEGORY, m_comboCategory);
  l = label("最高折扣", {313, 252, 33, 8});
  auto* discount = new QComboBox(this);
  discount->setEditable(true);
  discount->setInsertPolicy(QComboBox::NoInsert);
  discount->setGeometry(rect(354, 251, 58, 14));
  discount->setAccessibleName(l->text());
  discount->lineEdit()->setAccessibleName(l->text());
  l->setBuddy(discount);
  keep(IDC_DISCOUNT, discount);
  QPushButton* refresh = button(IDC_REFRESH, "刷新商品", {429, 248, 50, 20});
  refresh->setDefault(true);
  m_listResults = list(IDC_RESULTLIST, {17, 273, 466, 116}, "商品查询结果");
  // The model goes with the hits it shows; the view is left empty then.
  m_resultTable = new ResultTableModel(m_search.get(), m_search.get());
  m_listResults->setModel(m_resultTable);
  m_search->stored = [this](int slot) { m_resultTable->HitStored(slot); };
  if (m_services.siteNow) m_search->SetClock(m_services.siteNow);

  for (auto& [id, w] : m_controls) {
    if (auto* le = qobject_cast<QLineEdit*>(w)) le->setFocusPolicy(Qt::StrongFocus);
  }
  // Tab follows the layout: the top row, then in each group its fields top
  // to bottom, then its buttons, then its list.
  const int tabOrder[] = {
      IDC_HOMEPAGE,     IDC_AUCTIONSITE,  IDC_SERVICE,    IDC_MANUAL,    IDC_UPDATEHISTORY, IDC_PRICEQUERY,
      IDC_LOG,          IDC_COLLAPSE,     IDC_IEMODE,     IDC_DEALID,    IDC_TITLE,         IDC_GROUP,
      IDC_MAXPRICE,     IDC_INCREMENT,    IDC_PREPTIME,   IDC_VIEWITEM,  IDC_MANUALBID,     IDC_AUTOBID,
      IDC_DELETE,       IDC_MODIFY,       IDC_CLEAR,      IDC_SNIPELIST, IDC_OPENDEALID,    IDC_OPENPRICE,
      IDC_OPENLAG,      IDC_OPENSNIPE,    IDC_CANCELOPEN, IDC_INCLUDE1,  IDC_INCLUDE2,      IDC_INCLUDE3,
      IDC_INCLUDE4,     IDC_CLEARINCLUDE, IDC_EXCLUDE1,   IDC_EXCLUDE2,  IDC_EXCLUDE3,      IDC_EXCLUDE4,
      IDC_CLEAREXCLUDE, IDC_CATEGORY,     IDC_DISCOUNT,   IDC_REFRESH,   IDC_RESULTLIST};
  for (std::size_t k = 1; k < std::size(tabOrder); ++k) {
    setTabOrder(GetDlgItem(tabOrder[k - 1]), GetDlgItem(tabOrder[k]));
  }

  const QRect whole = rect(0, 0, 502, 406);
  setMinimumSize(whole.size());
  resize(whole.size());
  KeepTemplateLayout();

  // Wiring: each control to its handler.
  auto on = [this](int id, void (CMainDlg::*handler)()) {
    connect(Button(id), &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
  };
  on(IDC_AUCTIONSITE, &CMainDlg::OnAuctionSite);
  on(IDC_VIEWITEM, &CMainDlg::OnViewItem);
  on(IDC_MANUALBID, &CMainDlg::OnManualBid);
  on(IDC_AUTOBID, &CMainDlg::OnAutoBid);
  on(IDC_MODIFY, &CMainDlg::OnModifySnipe);
  on(IDC_CLEAR, &CMainDlg::OnClearSnipes);
  on(IDC_REFRESH, &CMainDlg::OnRefreshItems);
  on(IDC_CLEARINCLUDE, &CMainDlg::OnClearInclude);
  on(IDC_CLEAREXCLUDE, &CMainDlg::OnClearExclude);
  on(IDC_HOMEPAGE, &CMainDlg::OnHomePage);
  on(IDC_OPENSNIPE, &CMainDlg::OnOpenSnipe);
  on(IDC_CANCELOPEN, &CMainDlg::OnCancelOpenSnipe);
  on(IDC_MANUAL, &CMainDlg::OnManual);
  on(IDC_COLLAPSE, &CMainDlg::OnCollapse);
  on(IDC_UPDATEHISTORY, &CMainDlg::OnUpdateHistory);
  on(IDC_SERVICE, &CMainDlg::OnServicePage);
  on(IDC_DELETE, &CMainDlg::OnDeleteSnipe);
  on(IDC_PRICEQUERY, &CMainDlg::OnPriceQuery);
  on(IDC_LOG, &CMainDlg::OnShowLog);
  connect(ie, &QCheckBox::clicked, this, [this] { OnIEMode(); });

  static_cast<ListView*>(m_listSnipe)->onClick = [this](Qt::MouseButton b) {
    if (b == Qt::RightButton) {
      OnRClickSnipeList();
    } else {
      OnClickSnipeList();
    }
  };
  static_cast<ListView*>(m_listResults)->onClick = [this](Qt::MouseButton b) {
    if (b == Qt::RightButton) {
      OnRClickResultList();
    } else {
      OnClickResultList();
    }
  };
  connect(m_listResults->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { OnResultItemChanged(); });
}

// ---------------------------------------------------------------------------
// Field exchange, in the documented order.

namespace {

enum class FieldKind { Number, Text, ComboText, Check };

struct Field {
  int id;
  FieldKind kind;
  void* member;
};

}  // namespace

bool CMainDlg::UpdateData(bool bSaveAndValidate) {
  const Field table[] = {
      {IDC_DEALID, FieldKind::Number, &m_nDealId},
      {IDC_MAXPRICE, FieldKind::Number, &m_nMaxPrice},
      {IDC_INCREMENT, FieldKind::Number, &m_nIncrement},
      {IDC_PREPTIME, FieldKind::Number, &m_nPrepTime},
      {IDC_GROUP, FieldKind::Number, &m_nGroup},
      {IDC_EXCLUDE1, FieldKind::Text, &m_strExclude1},
      {IDC_EXCLUDE2, FieldKind::Text, &m_strExclude2},
      {IDC_EXCLUDE3, FieldKind::Text, &m_strExclude3},
      {IDC_EXCLUDE4, FieldKind::Text, &m_strExclude4},
      {IDC_INCLUDE1, FieldKind::Text, &m_strInclude1},
      {IDC_INCLUDE2, FieldKind::Text, &m_strInclude2},
      {IDC_INCLUDE3, FieldKind::Text, &m_strInclude3},
      {IDC_INCLUDE4, FieldKind::Text, &m_strInclude4},
      {IDC_TITLE, FieldKind::Text, &m_strTitle},
      {IDC_DISCOUNT, FieldKind::ComboText, &m_strMaxDiscount},
      {IDC_OPENDEALID, FieldKind::Number, &m_nOpenDealId},
      {IDC_OPENLAG, FieldKind::Number, &m_nOpenLag},
      {IDC_OPENPRICE, FieldKind::Number, &m_nOpenPrice},
      {IDC_IEMODE, FieldKind::Check, &m_bIEMode},
  };
  for (const Field& f : table) {
    QWidget* w = GetDlgItem(f.id);
    switch (f.kind) {
      case FieldKind::Number: {
        auto* e = static_cast<QLineEdit*>(w);
        auto* n = static_cast<std::int32_t*>(f.member);
        if (!bSaveAndValidate) {
          e->setText(QString::number(*n));
          break;
        }
        const auto parsed = gavelhawk::ui::ParseWholeNumber(e->text().toStdString());
        if (!parsed) {
          Message(QStringLiteral("请输入一个整数。"));
          e->setFocus(Qt::OtherFocusReason);
          e->selectAll();
          return false;
        }
        *n = *parsed;
        break;
      }
      case FieldKind::Text: {
        auto* e = static_cast<QLineEdit*>(w);
        auto* s = static_cast<std::string*>(f.member);
        if (bSaveAndValidate) {
          *s = QStringToGbk(e->text());
        } else {
          e->setText(GbkToQString(*s));
          e->setCursorPosition(0);
        }
        break;
      }
      case FieldKind::ComboText: {
        auto* c = static_cast<QComboBox*>(w);
        auto* s = static_cast<std::string*>(f.member);
        if (bSaveAndValidate) {
          *s = QStringToGbk(c->currentText());
          break;
        }
        // As the platform writes a combo's text: select the first item that
        // begins with it, else put the text into the edit part.
        const QString text = GbkToQString(*s);
        int found = -1;
        for (int k = 0; k < c->count() && found < 0; ++k) {
          if (c->itemText(k).startsWith(text, Qt::CaseInsensitive)) found = k;
        }
        if (found >= 0) {
          c->setCurrentIndex(found);
        } else {
          c->setEditText(text);
        }
        break;
      }
      case FieldKind::Check: {
        auto* b = static_cast<QCheckBox*>(w);
        auto* v = static_cast<bool*>(f.member);
        if (bSaveAndValidate) {
          *v = b->isChecked();
        } else {
          b->setChecked(*v);
        }
        break;
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Start-up.

void CMainDlg::OnInitDialog() {
  UpdateData(false);
  setWindowIcon(gavelhawk::ui::ProgramIcon());
  platform::shell::SkinH_Attach();
  m_szAppDir =
      m_services.appDir.empty() ? QCoreApplication::applicationDirPath().toStdString() : m_services.appDir;
  while (m_szAppDir.size() > 1 && m_szAppDir.back() == '/') m_szAppDir.pop_back();
  m_startUp = StartUp::Checking;
  CheckForUpdate();
}

void CMainDlg::FinishStartUp() {
  if (m_bExitRequested) {
    m_startUp = StartUp::Ended;
    emit startUpDone(false);
    return;
  }
  m_comboCategory->clear();
  for (const char* c : {"全部商品", "家用电器", "手机数码", "电脑办公", "运动健康", "箱包钟表", "其它商品"}) {
    m_comboCategory->addItem(gavelhawk::ui::U(c));
  }
  m_comboCategory->setCurrentIndex(0);
  auto* discount = static_cast<QComboBox*>(GetDlgItem(IDC_DISCOUNT));
  discount->clear();
  for (const char* d : {"0.5", "0.6", "0.7", "0.8", "0.9", "1.0"}) discount->addItem(QString::fromLatin1(d));
  discount->setCurrentIndex(0);
  // Grid lines and full-row selection are the list views' own (see CreateControls).
  OnCollapse();
  RestoreSnipeList();
  RefreshSnipeList();
  RefreshResultList();
  // Said once, without stopping anyone: the caption carries it.
  ShowCaption();
  m_startUp = StartUp::Started;
  emit startUpDone(true);
}

int CMainDlg::CollapseStep() const {
  const int line = QFontMetrics(font()).height();
  return (350 * line + 6) / 12;
}

void CMainDlg::OnCollapse() {
  QPushButton* view = Button(IDC_VIEWITEM);
  QPushButton* toggle = Button(IDC_COLLAPSE);
  if (!IsCollapsed()) {
    // Only the upper part stays: the height is fixed, the width still free.
    const int h = EnterCollapsed();
    setMinimumHeight(h);
    setMaximumHeight(h);
    resize(width(), h);
    view->hide();
    toggle->setText(QStringLiteral("扩展"));
  } else {
    ExpandKeepingOnScreen();
    view->show();
    toggle->setText(QStringLiteral("收缩"));
  }
}

void CMainDlg::OnIEMode() {
  // The box has already toggled itself; the member follows it by flipping.
  m_bIEMode = !m_bIEMode;
  if (m_engine) SnipeEngine().SetBidsItself(m_bIEMode);
  SnipeListChanged();  // kept with the list
}

// ---------------------------------------------------------------------------
// Window plumbing.

QWidget* CMainDlg::GetDlgItem(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

QPushButton* CMainDlg::Button(int id) const { return qobject_cast<QPushButton*>(GetDlgItem(id)); }

std::string CMainDlg::FetchPage(const std::string& url) {
  if (!m_services.transport) return {};
  return ::site::FetchPage(*m_services.transport, url);
}

std::string CMainDlg::SiteUrl(const std::string& path) const { return m_services.siteUrl + path; }

platform::dialog::Answer CMainDlg::Message(const QString& text, const QString& caption,
                                           platform::dialog::Buttons buttons) {
  return platform::dialog::MessageBox(this, text, caption.isEmpty() ? QStringLiteral("Gavelhawk") : caption,
                                      buttons);
}

void CMainDlg::keyPressEvent(QKeyEvent* e) {
  // Enter presses the default button (the search) or the focused button; it
  // never closes the window. Escape ends the program, as the close box does.
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    // A snipe field's Enter adds the snipe; every other field's runs the search.
    static const int snipeFields[] = {IDC_DEALID,   IDC_TITLE,     IDC_GROUP,
                                      IDC_MAXPRICE, IDC_INCREMENT, IDC_PREPTIME};
    QWidget* focus = QApplication::focusWidget();
    QPushButton* target = Button(IDC_REFRESH);
    if (auto* focused = qobject_cast<QPushButton*>(focus); focused && isAncestorOf(focused)) {
      target = focused;
    } else if (std::any_of(std::begin(snipeFields), std::end(snipeFields),
                           [&](int id) { return focus && focus == GetDlgItem(id); })) {
      target = Button(IDC_AUTOBID);
    }
    if (target && target->isEnabled()) target->click();
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void CMainDlg::closeEvent(QCloseEvent* e) {
  // Armed snipes end with the window (the saved list keeps them for the next
  // start): the user is asked first while any waits.
  if (!ConfirmQuit()) {
    e->ignore();
    return;
  }
  StopSnipeWork();
  QDialog::closeEvent(e);
}

void CMainDlg::done(int r) {
  if (!ConfirmQuit()) return;
  StopSnipeWork();
  QDialog::done(r);
}

// ---------------------------------------------------------------------------
// The snipe list view.

void CMainDlg::RefreshSnipeList() {
  m_snipeTable->Reset();
  for (int c = 0; c < SnipeTableModel::kColumns; ++c)
    m_listSnipe->header()->resizeSection(c, SnipeTableModel::Width(c));
  SnipeListChanged();
}

void CMainDlg::RefreshSnipeRow(int i) { m_snipeTable->RowChanged(i); }

void CMainDlg::OnClickSnipeList() {
  int first = -1;
  for (int i = 0; i < m_snipeTable->rowCount(); ++i) {
    if (m_listSnipe->selectionModel()->isRowSelected(i, QModelIndex())) {
      first = i;
      break;
    }
  }
  if (first < 0 || first >= kSnipeSlots) return;
  m_nSnipeSel = first;
  ShowSnipeInFields(first);
}

void CMainDlg::ShowSnipeInFields(int i) {
  const SnipeItem& s = m_snipes[static_cast<std::size_t>(i)];
  m_nDealId = s.nDealId;
  m_strTitle = s.strTitle;
  m_nMaxPrice = s.nMaxPrice;
  m_nIncrement = s.nIncrement;
  m_nPrepTime = s.nPrepTime;
  m_nGroup = s.nGroup;
  UpdateData(false);
}

void CMainDlg::OnRClickSnipeList() {
  OnClickSnipeList();
  OnViewItem();
}

// ---------------------------------------------------------------------------
// Pages and the companion program.

namespace {
const char kAuctionListingPath[] = "/paimai/0-0-0-0-0-0-1-0-0-1-1.html";
}

void CMainDlg::OpenPage(const std::string& url) {
  if (!m_services.opener) return;
  if (m_bIEMode) {
    m_services.opener->OpenInLoginBrowser(url);
  } else {
    m_services.opener->OpenUrl(url);
  }
}

void CMainDlg::OnHomePage() { OpenPage(m_services.homeUrl); }

void CMainDlg::OnAuctionSite() {
  OnHomePage();
  OpenPage(SiteUrl(kAuctionListingPath));
}

void CMainDlg::OnServicePage() { OpenPage(m_services.serviceUrl); }

void CMainDlg::OnViewItem() {
  UpdateData(true);
  OpenPage(SiteUrl("/detail/" + std::to_string(m_nDealId)));
}

void CMainDlg::OnManual() {
  // Beside the program when built, under share/ when installed.
  using platform::shell::Companion;
  const std::string manual =
      platform::shell::FindCompanion(m_szAppDir, Companion::Data, gavelhawk::ui::kManualFile);
  if (!QFileInfo::exists(QString::fromStdString(manual))) {
    Message(QStringLiteral("找不到操作说明：%1").arg(QString::fromStdString(manual)));
    return;
  }
  if (m_services.opener) m_services.opener->OpenDocument(manual);
}

void CMainDlg::OnPriceQuery() {
  using platform::shell::Companion;
  // A demo window's companion reads the demo's history, not the real one.
  const QStringList args = m_services.demo ? QStringList{QStringLiteral("--demo")} : QStringList{};
  if (m_services.opener) {
    m_services.opener->StartProgram(
        platform::shell::FindCompanion(m_szAppDir, Companion::Program, "tallyglass"), args);
  }
}

// ---------------------------------------------------------------------------
// The update page.

void CMainDlg::ReadUpdatePage(std::function<void(const std::string& page)> answer) {
  const auto& make = m_services.newUpdateTransport ? m_services.newUpdateTransport : m_services.newTransport;
  if (m_services.updateUrl.empty() || !make) {
    answer({});
    return;
  }
  auto page = std::make_shared<std::string>();
  RunSiteRead(
      [page, url = m_services.updateUrl](platform::http::Transport& t) {
        try {
          *page = ::site::FetchPage(t, url);
        } catch (...) {
          page->clear();  // an unreadable page is an empty one
        }
      },
      [page, answer = std::move(answer)] { answer(*page); }, make);
}

void CMainDlg::CheckForUpdate() {
  ReadUpdatePage([this](const std::string& page) { OnUpdatePage(page); });
}

void CMainDlg::OnUpdatePage(const std::string& page) {
  using gavelhawk::ui::UpdateOffer;
  const UpdateOffer offer = gavelhawk::ui::ReadUpdateOffer(page);
  switch (offer.kind) {
    case UpdateOffer::Kind::None:
      return FinishStartUp();
    case UpdateOffer::Kind::Important:
      Message(QStringLiteral("有重要更新，请下载并覆盖安装"), QStringLiteral("重要更新"));
      break;
    case UpdateOffer::Kind::Ordinary:
      if (Message(QStringLiteral("有更新，是否立即下载并覆盖安装？"), QStringLiteral("更新"),
                  platform::dialog::Buttons::OkCancel) != platform::dialog::Answer::Ok) {
        return FinishStartUp();
      }
      break;
  }
  // Only a web address on the update page's own host is handed on; anything
  // else is shown for the user to judge, and start-up goes on.
  if (!gavelhawk::ui::IsUpdateLink(offer.link, m_services.updateUrl)) {
    Message(QStringLiteral("更新页上的下载地址无效，未打开：\n%1").arg(GbkToQString(offer.link)),
            QStringLiteral("更新"));
    return FinishStartUp();
  }
  if (m_services.opener) m_services.opener->OpenUrl(offer.link);
  m_bExitRequested = true;
  FinishStartUp();
}

void CMainDlg::OnUpdateHistory() {
  QPushButton* button = Button(IDC_UPDATEHISTORY);
  if (button) button->setEnabled(false);  // one read at a time
  ReadUpdatePage([this](const std::string& page) {
    if (QPushButton* b = Button(IDC_UPDATEHISTORY)) b->setEnabled(true);
    if (!isVisible()) return;  // closed while the page was read
    QString text = GbkToQString(gavelhawk::ui::ReadUpdateHistory(page));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Message(text, QStringLiteral("软件更新历史"));
  });
}
