#include "tallyglass/gui/HistoryDlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <limits>
#include <optional>

#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/gui/DataGrid.h"

using platform::dialog::MapDialogRect;

namespace {

// A whole number as the exchange takes it: blanks around it, a sign, digits,
// within [lo, hi].
std::optional<std::int64_t> ParseNumber(const QString& text, std::int64_t lo, std::int64_t hi) {
  QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  int i = 0;
  bool negative = false;
  if (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-')) {
    negative = t[0] == QLatin1Char('-');
    i = 1;
  }
  if (i == t.size()) return std::nullopt;
  std::int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return std::nullopt;
    v = v * 10 + (t[i].unicode() - '0');
    if (v > (std::int64_t{1} << 33)) return std::nullopt;
  }
  if (negative) v = -v;
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

// The program's icon: a glass with tally marks.
QIcon MakeIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.setPen(QPen(QColor(0x2F, 0x6F, 0xB3), 2 * s));
    p.setBrush(QColor(0xDD, 0xEB, 0xF7));
    p.drawRoundedRect(QRectF(5 * s, 3 * s, 22 * s, 26 * s), 3 * s, 3 * s);
    p.setPen(QPen(QColor(0x1F, 0x23, 0x28), 2 * s));
    for (int i = 0; i < 4; ++i)
      p.drawLine(QPointF((10 + 4 * i) * s, 9 * s), QPointF((10 + 4 * i) * s, 23 * s));
    p.drawLine(QPointF(8 * s, 21 * s), QPointF(24 * s, 11 * s));
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

}  // namespace

CHistoryDlg::CHistoryDlg(HistoryDlgServices services, QWidget* parent)
    : QDialog(parent), services_(std::move(services)) {
  m_hIcon = MakeIcon();
  m_query = std::make_unique<tallyglass::db::QueryController>(services_.db);
  m_pRecordset = &m_query->results();
  connect(m_query.get(), &tallyglass::db::QueryController::opened, this, &CHistoryDlg::OnTableOpened);
  connect(m_query.get(), &tallyglass::db::QueryController::queryFinished, this,
          &CHistoryDlg::OnQueryFinished);
  connect(m_query.get(), &tallyglass::db::QueryController::refreshed, this,
          [this] { m_grid->AttachDataSource(m_pRecordset); });
  connect(m_query.get(), &tallyglass::db::QueryController::pageFailed, this, &CHistoryDlg::ReportDbError);
  tallyglass::crawl::WalkController::Setup walk;
  walk.db = services_.db;
  walk.folder = services_.folder;
  walk.newTransport = services_.newTransport;
  walk.options.siteUrl = services_.siteUrl;
  walk.options.inFlight = services_.inFlight;
  m_walk = std::make_unique<tallyglass::crawl::WalkController>(std::move(walk));
  connect(m_walk.get(), &tallyglass::crawl::WalkController::stateChanged, this, &CHistoryDlg::ShowWalkState);
  connect(m_walk.get(), &tallyglass::crawl::WalkController::progressChanged, this,
          [this](const QString& text) {
            if (m_walk->Running()) m_walkProgress->setText(text);
          });
  // The grid shows what the walk stored, a page at a time.
  connect(m_walk.get(), &tallyglass::crawl::WalkController::rowsStored, m_query.get(),
          &tallyglass::db::QueryController::Refresh);
  connect(m_walk.get(), &tallyglass::crawl::WalkController::finished, this, &CHistoryDlg::OnWalkFinished);
  BuildControls();
}

CHistoryDlg::~CHistoryDlg() {
  // The grid must let go of the result set before it goes, and the walk
  // of the window it reports to.
  if (m_grid) m_grid->AttachDataSource(nullptr);
  if (m_walk) m_walk->disconnect(this);
  if (m_todayTransport) m_todayTransport->Cancel();
  if (m_todayThread.joinable()) m_todayThread.join();
  m_indexBuilder.reset();
}

void CHistoryDlg::BuildControls() {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("Tallyglass v3.0 ") + QString::fromStdString(services_.shopUrl));
  const QFont font = platform::dialog::DialogFont();
  setFont(font);
  auto place = [&](QWidget* w, int x, int y, int cx, int cy) {
    w->setGeometry(MapDialogRect(font, {x, y, cx, cy}));
  };
  setFixedSize(MapDialogRect(font, {0, 0, 358, 249}).size());

  auto label = [&](const QString& text, int x, int y, int cx, int cy) {
    auto* l = new QLabel(text, this);
    l->setFont(font);
    place(l, x, y, cx, cy);
    return l;
  };
  auto edit = [&](int id, int x, int y, int cx, int cy, const QString& name, bool bordered = true) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::number(id));
    e->setAccessibleName(name);
    e->setFrame(bordered);
    // The borderless price fields are no tab stops, yet may be typed in.
    if (!bordered) e->setFocusPolicy(Qt::ClickFocus);
    place(e, x, y, cx, cy);
    return e;
  };
  auto button = [&](int id, const QString& text, int x, int y, int cx, int cy) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    place(b, x, y, cx, cy);
    return b;
  };

  QLabel* includeLabel = label(QStringLiteral("包含关键词"), 9, 13, 41, 8);
  QLineEdit* in1 = edit(IDC_INCLUDE1, 54, 10, 68, 14, QStringLiteral("包含关键词 1"));
  QLineEdit* in2 = edit(IDC_INCLUDE2, 122, 10, 71, 14, QStringLiteral("包含关键词 2"));
  QLineEdit* in3 = edit(IDC_INCLUDE3, 193, 10, 71, 14, QStringLiteral("包含关键词 3"));
  QLineEdit* in4 = edit(IDC_INCLUDE4, 264, 10, 68, 14, QStringLiteral("包含关键词 4"));
  includeLabel->setBuddy(in1);
  QLabel* excludeLabel = label(QStringLiteral("屏蔽关键词"), 9, 31, 41, 8);
  QLineEdit* ex1 = edit(IDC_EXCLUDE1, 54, 28, 68, 14, QStringLiteral("屏蔽关键词 1"));
  QLineEdit* ex2 = edit(IDC_EXCLUDE2, 122, 28, 71, 14, QStringLiteral("屏蔽关键词 2"));
  QLineEdit* ex3 = edit(IDC_EXCLUDE3, 193, 28, 71, 14, QStringLiteral("屏蔽关键词 3"));
  QLineEdit* ex4 = edit(IDC_EXCLUDE4, 264, 28, 68, 14, QStringLiteral("屏蔽关键词 4"));
  excludeLabel->setBuddy(ex1);
  label(QStringLiteral("成交账户名"), 9, 49, 41, 8)
      ->setBuddy(edit(IDC_BUYERNAME, 54, 46, 68, 14, QStringLiteral("成交账户名")));
  label(QStringLiteral("搜索范围"), 144, 49, 33, 8)
      ->setBuddy(edit(IDC_DAYS, 181, 46, 38, 14, QStringLiteral("搜索范围（天）")));
  label(QStringLiteral("天"), 222, 49, 9, 8);
  QPushButton* query = button(IDC_QUERY, QStringLiteral("查询"), 245, 44, 39, 15);
  QPushButton* update = button(IDC_UPDATE, QStringLiteral("更新"), 293, 44, 39, 15);

  m_grid = new CDataGrid(this);
  m_grid->setObjectName(QString::number(IDC_GRID));
  m_grid->setFont(font);
  place(m_grid, 7, 64, 344, 124);

  label(QStringLiteral("最高价"), 13, 198, 25, 8)
      ->setBuddy(edit(IDC_MAXPRICE, 43, 196, 41, 14, "最高价", false));
  label(QStringLiteral("最低价"), 117, 198, 25, 8)
      ->setBuddy(edit(IDC_MINPRICE, 145, 196, 41, 14, "最低价", false));
  label(QStringLiteral("平均价"), 215, 198, 25, 8)
      ->setBuddy(edit(IDC_AVGPRICE, 241, 196, 41, 14, "平均价", false));
  QPushButton* view = button(IDC_VIEWITEM, QStringLiteral("查看当前商品"), 290, 193, 61, 15);
  QPushButton* service = button(IDC_SERVICE, QStringLiteral("夺宝岛代拍服务"), 290, 209, 61, 15);
  // The median, the count and their buttons take the row under the prices;
  // the note moves below them.
  label(QStringLiteral("中位价"), 13, 214, 25, 8)
      ->setBuddy(edit(IDC_MEDIANPRICE, 43, 212, 41, 14, "中位价", false));
  label(QStringLiteral("成交数"), 117, 214, 25, 8)
      ->setBuddy(edit(IDC_SALES, 145, 212, 41, 14, "成交数", false));
  QPushButton* chart = button(IDC_CHART, QStringLiteral("价格走势"), 193, 209, 45, 15);
  QPushButton* exportCsv = button(IDC_EXPORT, QStringLiteral("导出CSV"), 241, 209, 45, 15);
  label(QStringLiteral("注： trxPrice,成交价格；trxBuyerName,成交账户名；Price,京东价。"), 13, 227, 253, 8);
  // A line of its own for what runs in the background: it covers nothing.
  m_walkProgress = label(QString(), 13, 238, 338, 9);
  m_walkProgress->setObjectName(QStringLiteral("status"));

  // Tab order of the template.
  QWidget* order[] = {in1, in2, in3,  ex1,    ex2,     ex3,   Edit(IDC_BUYERNAME), Edit(IDC_DAYS), query,
                      in4, ex4, view, m_grid, service, update};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  setTabOrder(update, chart);
  setTabOrder(chart, exportCsv);

  connect(query, &QPushButton::clicked, this, &CHistoryDlg::RunQuery);
  connect(update, &QPushButton::clicked, this, &CHistoryDlg::UpdateDatabase);
  connect(view, &QPushButton::clicked, this, &CHistoryDlg::ViewCurrentItem);
  connect(service, &QPushButton::clicked, this, &CHistoryDlg::OpenServicePage);
  connect(chart, &QPushButton::clicked, this, &CHistoryDlg::ShowPriceChart);
  connect(exportCsv, &QPushButton::clicked, this, &CHistoryDlg::ExportCsv);
}

QWidget* CHistoryDlg::GetDlgItem(int id) const {
  if (id == IDC_GRID) return m_grid;
  return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QPushButton* CHistoryDlg::Button(int id) const { return qobject_cast<QPushButton*>(GetDlgItem(id)); }

QLineEdit* CHistoryDlg::Edit(int id) const { return qobject_cast<QLineEdit*>(GetDlgItem(id)); }

platform::dialog::Answer CHistoryDlg::Message(const QString& text) {
  return platform::dialog::MessageBox(this, text, QString::fromLatin1(tallyglass::ui::kProgramName));
}

void CHistoryDlg::ReportDbError(const QString& engineText) {
  Message(QStringLiteral("数据库操作失败!\r\n错误信息:%1").arg(engineText));
}

bool CHistoryDlg::UpdateData(bool bSaveAndValidate) {
  enum class Kind { Text, Int, Long, ULong };
  struct Field {
    int id;
    Kind kind;
    void* member;
  };
  const Field table[] = {
      {IDC_BUYERNAME, Kind::Text, &m_strBuyerName}, {IDC_DAYS, Kind::Int, &m_nDays},
      {IDC_MAXPRICE, Kind::Long, &m_nMaxPrice},     {IDC_INCLUDE1, Kind::Text, &m_strInclude1},
      {IDC_INCLUDE2, Kind::Text, &m_strInclude2},   {IDC_INCLUDE3, Kind::Text, &m_strInclude3},
      {IDC_EXCLUDE1, Kind::Text, &m_strExclude1},   {IDC_EXCLUDE2, Kind::Text, &m_strExclude2},
      {IDC_EXCLUDE3, Kind::Text, &m_strExclude3},   {IDC_INCLUDE4, Kind::Text, &m_strInclude4},
      {IDC_EXCLUDE4, Kind::Text, &m_strExclude4},   {IDC_MINPRICE, Kind::Long, &m_nMinPrice},
      {IDC_AVGPRICE, Kind::ULong, &m_nAvgPrice},    {IDC_MEDIANPRICE, Kind::Long, &m_nMedianPrice},
      {IDC_SALES, Kind::ULong, &m_nSales},
  };
  constexpr std::int64_t kMin32 = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax32 = std::numeric_limits<std::int32_t>::max();
  auto fail = [this](QLineEdit* e, const QString& text) {
    Message(text);
    e->setFocus(Qt::OtherFocusReason);
    e->selectAll();
    return false;
  };
  for (const Field& f : table) {
    QLineEdit* e = Edit(f.id);
    switch (f.kind) {
      case Kind::Text: {
        auto* s = static_cast<QString*>(f.member);
        if (bSaveAndValidate) {
          *s = e->text();
        } else {
          e->setText(*s);
          e->setCursorPosition(0);
        }
        break;
      }
      case Kind::Int:
      case Kind::Long: {
        auto* n = static_cast<std::int32_t*>(f.member);
        if (!bSaveAndValidate) {
          e->setText(QString::number(*n));
          break;
        }
        std::optional<std::int64_t> v = ParseNumber(e->text(), kMin32, kMax32);
        if (!v) return fail(e, QStringLiteral("请输入一个整数。"));
        *n = static_cast<std::int32_t>(*v);
        if (f.id == IDC_DAYS && (*n < 1 || *n > 5000))
          return fail(e, QStringLiteral("请输入一个在 1 和 5000 之间的整数。"));
        break;
      }
      case Kind::ULong: {
        auto* n = static_cast<std::uint32_t*>(f.member);
        if (!bSaveAndValidate) {
          e->setText(QString::number(*n));
          break;
        }
        std::optional<std::int64_t> v = ParseNumber(e->text(), 0, std::numeric_limits<std::uint32_t>::max());
        if (!v) return fail(e, QStringLiteral("请输入一个正整数。"));
        *n = static_cast<std::uint32_t>(*v);
        break;
      }
    }
  }
  return true;
}

tallyglass::db::QueryInputs CHistoryDlg::Inputs() const {
  tallyglass::db::QueryInputs in;
  in.include = {m_strInclude1, m_strInclude2, m_strInclude3, m_strInclude4};
  in.exclude = {m_strExclude1, m_strExclude2, m_strExclude3, m_strExclude4};
  in.buyer = m_strBuyerName;
  in.days = m_nDays;
  in.today = m_nToday;
  return in;
}

bool CHistoryDlg::OnInitDialog() {
  UpdateData(false);
  setWindowIcon(m_hIcon);
  platform::shell::SkinH_Attach();
  m_szFolder = services_.folder;
  LoadLastId();
  CheckResumeAtStart();
  m_grid->AttachDataSource(m_pRecordset);
  OpenHistoryTable();
  m_bClosing = false;
  ReadTodayFromSite();
  Edit(IDC_INCLUDE1)->setFocus(Qt::OtherFocusReason);
  // The file's check and the keyword index run once the window shows.
  QTimer::singleShot(0, this, [this] { StartUpkeep(); });
  return true;
}

QString CHistoryDlg::StatusText() const { return m_walkProgress->text(); }

void CHistoryDlg::ReadTodayFromSite() {
  // A query never counts days from 0: the local day serves until the
  // site's arrives.
  m_nToday = static_cast<std::int32_t>(QDateTime::currentSecsSinceEpoch() / 86400);
  m_todaySource = TodaySource::Local;
  if (!services_.newTransport || services_.siteUrl.empty()) {
    NoteLocalToday();
    if (onTodaySettled) onTodaySettled();
    return;
  }
  m_todaySource = TodaySource::Reading;
  m_todayTransport = services_.newTransport();
  platform::http::Transport* transport = m_todayTransport.get();
  const std::string site = services_.siteUrl;
  QPointer<CHistoryDlg> self(this);
  m_todayThread = std::thread([self, transport, site] {
    const std::int32_t today = tallyglass::crawl::FetchToday(*transport, site);
    // The window joins this thread before it goes, so it is there to receive.
    QMetaObject::invokeMethod(
        self.data(),
        [self, today] {
          if (!self) return;
          if (today > 0) {
            self->m_nToday = today;
            self->m_todaySource = TodaySource::Site;
          } else {
            self->m_todaySource = TodaySource::Local;
            self->NoteLocalToday();
          }
          if (self->onTodaySettled) self->onTodaySettled();
        },
        Qt::QueuedConnection);
  });
}

QString CHistoryDlg::IdleStatus() const {
  // The notice stays while the local day is in use.
  return m_bLocalTodayNoted && m_todaySource != TodaySource::Site
             ? QStringLiteral("未能读取站点日期，按本机日期计算")
             : QString();
}

void CHistoryDlg::NoteLocalToday() {
  if (m_bLocalTodayNoted) return;
  m_bLocalTodayNoted = true;
  if (!m_walk->Running()) m_walkProgress->setText(IdleStatus());
}

void CHistoryDlg::StartUpkeep() {
  if (!services_.db || !services_.db->IsOpen() || m_indexBuilder) {
    m_bUpkeepDone = true;
    return;
  }
  m_indexBuilder = std::make_unique<tallyglass::db::IndexBuilder>(*services_.db);
  m_indexBuilder->Start(
      {[this](const QString& problem) {
         // As when the file cannot be opened at all.
         Message(QStringLiteral("连接数据库失败!\r\n错误信息:%1").arg(problem));
       },
       [this](std::int64_t done, std::int64_t total) {
         if (m_walk->Running() || done >= total) return;  // the walk's progress has the line
         m_walkProgress->setText(
             QStringLiteral("正在建立关键词索引 %1/%2 (建成前查询按全表扫描)").arg(done).arg(total));
       },
       [this](bool ok, const QString& error) {
         if (!m_walk->Running() && m_walkProgress->text().startsWith(QStringLiteral("正在建立关键词索引")))
           m_walkProgress->setText(IdleStatus());
         if (!ok && !error.isEmpty() && !error.contains(QStringLiteral("quick_check")))
           m_walkProgress->setText(QStringLiteral("关键词索引未能建立: %1").arg(error));
         m_bUpkeepDone = true;
         if (onUpkeepFinished) onUpkeepFinished();
       }});
}

void CHistoryDlg::OpenServicePage() {
  if (services_.opener) services_.opener->OpenUrl(services_.serviceUrl);
}

void CHistoryDlg::closeEvent(QCloseEvent* e) {
  // A running walk stops after the id it is at.
  m_bClosing = true;
  m_walk->Stop();
  QDialog::closeEvent(e);
}

void CHistoryDlg::done(int r) {
  m_bEnded = true;
  if (m_walk->Running()) {
    // The walk stops and saves what it read; the window ends after it.
    m_endAfterWalk = r;
    m_walk->Stop();
    return;
  }
  QDialog::done(r);
}

void CHistoryDlg::OnOK() {
  if (UpdateData(true)) accept();
}

void CHistoryDlg::keyPressEvent(QKeyEvent* e) {
  // Enter on a button presses it; in a field it is the dialog's OK, which
  // reads every field and ends the window when all are valid.
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    QWidget* focus = focusWidget();
    if (auto* b = qobject_cast<QPushButton*>(focus); b && isAncestorOf(b)) {
      if (b->isEnabled()) b->click();
    } else if (qobject_cast<QLineEdit*>(focus) && isAncestorOf(focus)) {
      OnOK();
    }
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}
