#pragma once
// CHistoryDlg: the history tool's one window. Keywords, buyer and days above,
// the grid of the result set in the middle, the price statistics below; the
// crawl button walks the site's auction ids into the database. The window
// reads its fields, hands them to the query controller or the walk
// controller, and shows what they answer.
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/dialog/dialog.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walk_controller.h"
#include "tallyglass/crawl/walker.h"
#include "tallyglass/db/history_db.h"
#include "tallyglass/db/keyword_index.h"
#include "tallyglass/db/query.h"
#include "tallyglass/db/query_controller.h"

class QLabel;
class QLineEdit;
class QPushButton;
class CDataGrid;

namespace platform::http {
class Transport;
}
namespace platform::shell {
class Opener;
}

// Control ids of the window's template.
enum : int {
  IDC_UPDATE = 1000,
  IDC_QUERY = 1001,
  IDC_VIEWITEM = 1002,
  IDC_INCLUDE1 = 1003,
  IDC_INCLUDE2 = 1004,
  IDC_INCLUDE3 = 1005,
  IDC_EXCLUDE1 = 1006,
  IDC_EXCLUDE2 = 1007,
  IDC_EXCLUDE3 = 1008,
  IDC_DAYS = 1009,
  IDC_MAXPRICE = 1010,
  IDC_MINPRICE = 1011,
  IDC_AVGPRICE = 1012,
  IDC_BUYERNAME = 1013,
  IDC_GRID = 1014,
  IDC_INCLUDE4 = 1015,
  IDC_EXCLUDE4 = 1016,
  IDC_SERVICE = 1018,
  IDC_MEDIANPRICE = 1019,
  IDC_SALES = 1020,
  IDC_CHART = 1021,
  IDC_EXPORT = 1022,
};

namespace tallyglass::ui {
// Message-box caption: the program's name.
inline constexpr char kProgramName[] = "tallyglass";
}  // namespace tallyglass::ui

// What the window uses of the world, handed in by the application (or a test).
struct HistoryDlgServices {
  tallyglass::db::HistoryDb* db = nullptr;  // the application's connection
  platform::http::Transport* transport = nullptr;
  platform::shell::Opener* opener = nullptr;
  std::string siteUrl;     // scheme and host, no trailing slash
  std::string shopUrl;     // shown in the caption
  std::string serviceUrl;  // button 夺宝岛代拍服务
  QString folder;          // the data folder: endID.dat
  // The walk: one transport per reader thread, ids in flight, and the id a
  // walk from the start resumes after.
  tallyglass::crawl::TransportFactory newTransport;
  int inFlight = tallyglass::crawl::kDefaultInFlight;
  std::int32_t firstId = tallyglass::crawl::kDeliveredResumeId;
};

class CHistoryDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CHistoryDlg(HistoryDlgServices services, QWidget* parent = nullptr);
  ~CHistoryDlg() override;

  // Window opening: resume id, whole table in the grid, today from the site.
  bool OnInitDialog();

  // Members <-> controls in the template's order. Reading stops at the first
  // field that fails its check, with the standard message, focus on it.
  bool UpdateData(bool bSaveAndValidate = true);

  // Handlers.
  void RunQuery();         // 查询
  void ViewCurrentItem();  // 查看当前商品
  void OpenServicePage();  // 夺宝岛代拍服务
  void UpdateDatabase();   // 更新 / 暂停

  bool LoadLastId();
  bool SaveLastId();
  // The whole table into the grid; "读取记录错误。" when it cannot be read.
  void OpenHistoryTable();

  QWidget* GetDlgItem(int id) const;
  tallyglass::db::HistoryResultSet* Recordset() const { return m_pRecordset; }
  // What the window works over.
  tallyglass::db::QueryController& Query() { return *m_query; }
  tallyglass::crawl::WalkController& Walk() { return *m_walk; }

  // Today's day number: the local clock's until the site's arrives from a
  // worker (or for good when it cannot be read).
  enum class TodaySource { Reading, Site, Local };
  TodaySource todaySource() const { return m_todaySource; }
  // The status line under the note: walk progress, index build, notices.
  QString StatusText() const;
  // Test seams: today settled; the start-up check and index build ended.
  std::function<void()> onTodaySettled;
  std::function<void()> onUpkeepFinished;
  bool UpkeepDone() const { return m_bUpkeepDone; }

  // Members, as the template's exchange knows them.
  QString m_strBuyerName;
  int m_nDays = 15;
  std::int32_t m_nMaxPrice = 0;
  QString m_strInclude1, m_strInclude2, m_strInclude3;
  QString m_strExclude1, m_strExclude2, m_strExclude3;
  CDataGrid* m_grid = nullptr;
  QString m_strInclude4;
  QString m_strExclude4;
  std::int32_t m_nMinPrice = 0;
  std::uint32_t m_nAvgPrice = 0;
  QIcon m_hIcon;
  QString m_szFolder;
  std::int32_t m_nLastId = 0;
  std::int32_t m_nToday = 0;
  bool m_bStopped = true;
  bool m_bClosing = false;
  // The one result set; the query controller owns it.
  tallyglass::db::HistoryResultSet* m_pRecordset = nullptr;

  // The median and the number of sales of the last query, and what the
  // price chart and the export work with.
  std::int32_t m_nMedianPrice = 0;
  std::uint32_t m_nSales = 0;
  QString m_strQueryName;  // keywords and range of the last query
  void ShowPriceChart();   // 价格走势
  void ExportCsv();        // 导出CSV
  QDialog* ChartWindow() const { return m_pChart; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void done(int r) override;

 private:
  void BuildControls();
  QPushButton* Button(int id) const;
  QLineEdit* Edit(int id) const;
  platform::dialog::Answer Message(const QString& text);
  void ReportDbError(const QString& engineText);
  tallyglass::db::QueryInputs Inputs() const;
  void OnOK();
  void OnTableOpened(bool ok);
  void OnQueryFinished(bool ok);
  QPointer<QDialog> m_pChart;

  HistoryDlgServices services_;
  std::unique_ptr<tallyglass::db::QueryController> m_query;
  // Set when the window ends by any road: a running crawl stops on it too,
  // and the window ends once the walk has saved what it read.
  bool m_bEnded = false;
  std::optional<int> m_endAfterWalk;

  void ReadTodayFromSite();
  void NoteLocalToday();
  QString IdleStatus() const;
  void StartUpkeep();
  TodaySource m_todaySource = TodaySource::Local;
  bool m_bLocalTodayNoted = false;
  bool m_bUpkeepDone = false;
  std::unique_ptr<platform::http::Transport> m_todayTransport;
  std::thread m_todayThread;
  std::unique_ptr<tallyglass::db::IndexBuilder> m_indexBuilder;

  // The walk (dlg_crawl.cpp).
  void CheckResumeAtStart();
  void ResumeFromStore();
  void ShowWalkState();
  void OnWalkFinished(const tallyglass::crawl::WalkController::Outcome& outcome);
  std::unique_ptr<tallyglass::crawl::WalkController> m_walk;
  QLabel* m_walkProgress = nullptr;
};
