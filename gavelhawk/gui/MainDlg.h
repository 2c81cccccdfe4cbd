#pragma once
// The main window of gavelhawk and all of the program's state. Each
// subsystem implements its handlers in its own folder (dlg_*.cpp); the
// logic they call is plain C++ beside them.
#include <QDialog>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gavelhawk/search/search_controller.h"
#include "gavelhawk/site/manual_bid.h"
#include "gavelhawk/snipe/engine.h"
#include "gavelhawk/snipe/price_history.h"
#include "platform/dialog/dialog.h"

class QComboBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class ResultTableModel;
class SnipeTableModel;

namespace gavelhawk::snipe {
class PriceHistoryLookup;
struct PriceHistory;
}  // namespace gavelhawk::snipe
namespace platform::shell {
class Opener;
}
namespace platform::power {
class SleepInhibitor;
}

// Text members hold GBK bytes, as the site's text does; they become UTF-16
// only in the fields.

using SearchHit = gavelhawk::search::Hit;

// Local wall-clock time, seconds and milliseconds within the minute.
struct LocalTime {
  int second = 0;
  int millisecond = 0;
};

// Where the window meets the world; tests replace each part.
struct MainDlgServices {
  platform::http::Transport* transport = nullptr;  // every site request
  platform::shell::Opener* opener = nullptr;       // browsers, documents, programs
  std::string siteUrl;                             // scheme and host of the auction site, no trailing slash
  std::string homeUrl;                             // 京东首页
  std::string serviceUrl;                          // 代拍服务
  std::string updateUrl;                           // the update page
  std::string appDir;                              // the program's folder, no trailing slash
  std::function<LocalTime()> localTime;            // defaults to the system clock
  // Called before each bid so the login can be refreshed; may be empty.
  std::function<void()> beforeBid;
  // Set when no login cookie was found: shown once, without blocking.
  std::string loginNotice;
  // Makes the transport that reads the update page on a worker thread, with
  // short time-outs so that a silent page cannot hold start-up for long.
  // Empty: `newTransport` is used.
  std::function<std::unique_ptr<platform::http::Transport>()> newUpdateTransport;
  // Makes a transport for a worker thread (a libcurl handle belongs to one
  // thread), carrying the same login as `transport`. Work that runs off the
  // window's thread (the snipe engine, the crawl, the manual bid) takes its
  // own from here.
  std::function<std::unique_ptr<platform::http::Transport>()> newTransport;

  // Where the snipe list is kept across restarts; empty: nothing is saved
  // or restored.
  std::string savedListPath;
  // The site's clock in ms for the live countdown. Empty: estimated from the
  // last clock read the window made.
  std::function<std::int64_t()> siteNow;
  // Held while a row waits; null: the machine may sleep.
  platform::power::SleepInhibitor* inhibitor = nullptr;
  // The window runs against the demo site: the companion starts in its demo too.
  bool demo = false;
};

class CMainDlg : public QDialog {
  Q_OBJECT
 public:
  // Control ids of dialog template 102.
  enum : int {
    IDC_DEALID = 1000,
    IDC_INCREMENT = 1003,
    IDC_MAXPRICE = 1004,
    IDC_AUCTIONSITE = 1005,
    IDC_VIEWITEM = 1006,
    IDC_MANUALBID = 1007,
    IDC_AUTOBID = 1008,
    IDC_PREPTIME = 1009,
    IDC_SNIPELIST = 1010,
    IDC_PRICEQUERY = 1011,
    IDC_COLLAPSE = 1012,
    IDC_MODIFY = 1013,
    IDC_CLEAR = 1014,
    IDC_RESULTLIST = 1015,
    IDC_REFRESH = 1016,
    IDC_INCLUDE1 = 1017,
    IDC_EXCLUDE1 = 1018,
    IDC_INCLUDE2 = 1019,
    IDC_INCLUDE3 = 1020,
    IDC_EXCLUDE2 = 1021,
    IDC_EXCLUDE3 = 1022,
    IDC_INCLUDE4 = 1023,
    IDC_EXCLUDE4 = 1024,
    IDC_TITLE = 1025,
    IDC_CLEARINCLUDE = 1026,
    IDC_CLEAREXCLUDE = 1027,
    IDC_HOMEPAGE = 1028,
    IDC_SERVICE = 1029,
    IDC_CATEGORY = 1030,
    IDC_DISCOUNT = 1032,
    IDC_OPENSNIPE = 1033,
    IDC_OPENDEALID = 1034,
    IDC_OPENPRICE = 1035,
    IDC_OPENLAG = 1036,
    IDC_CANCELOPEN = 1037,
    IDC_MANUAL = 1038,
    IDC_UPDATEHISTORY = 1039,
    IDC_IEMODE = 1040,
    IDC_DELETE = 1041,
    IDC_GROUP = 1043,
    IDC_HISTORY = 1044,  // the auction's sales history, under the ceiling
  };
  static constexpr int kSnipeSlots = 10;
  static constexpr int kHitSlots = 48;

  explicit CMainDlg(MainDlgServices services, QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Start-up: the icon, the program's folder, then the update check; the
  // rest (the combos, the collapsed window, both lists) once the check's
  // answer is in, at once without an update page. startUpDone() tells the
  // end of it.
  void OnInitDialog();
  enum class StartUp { NotBegun, Checking, Started, Ended };
  StartUp StartUpState() const { return m_startUp; }

  // Field exchange. TRUE reads the fields into the members in the documented
  // order and stops at the first field that is not a whole number (standard
  // message, focus there); FALSE writes every member into its field.
  bool UpdateData(bool bSaveAndValidate = true);

  // Pixels that collapse/expand takes off and gives back: 350 at the
  // template font's 12-pixel line, scaled to the font in use.
  int CollapseStep() const;

  QWidget* GetDlgItem(int id) const;
  QPushButton* Button(int id) const;
  const MainDlgServices& Services() const { return m_services; }

  // Site access.
  std::string FetchPage(const std::string& url);
  std::string SiteUrl(const std::string& path) const;  // siteUrl + path
  // Message box with the program's caption ("Gavelhawk") unless given.
  platform::dialog::Answer Message(const QString& text, const QString& caption = QString(),
                                   platform::dialog::Buttons buttons = platform::dialog::Buttons::Ok);

  // --- the manual bid (dlg_bid.cpp)
  void OnManualBid();
  void ShowManualBid(const gavelhawk::site::ManualBidOutcome& out);
  gavelhawk::site::ManualBidController& ManualBid() { return *m_bid; }

  // --- snipes (dlg_snipe.cpp)
  void OnAutoBid();
  void OnModifySnipe();
  void OnDeleteSnipe();
  void OnClearSnipes();
  void OnOpenSnipe();
  void OnCancelOpenSnipe();
  // The snipe list the window shows; a change told through its `changed`
  // repaints the view.
  gavelhawk::snipe::SnipeList& Snipes() { return m_snipeList; }
  const gavelhawk::snipe::SnipeList& Snipes() const { return m_snipeList; }
  // The engine that times and places the snipes' bids (made on first use).
  gavelhawk::snipe::Engine& SnipeEngine();
  // True while 自动出价 or 修改商品 reads the site.
  bool SnipeReadRunning() const { return m_bSnipeReading; }
  // The engine's log lines, oldest first (at most kSnipeLogLines).
  static constexpr std::size_t kSnipeLogLines = 2000;
  const std::vector<std::string>& SnipeLog() const { return m_snipeLog; }

  // --- search (dlg_search.cpp)
  void OnRefreshItems();
  void OnClearInclude();
  void OnClearExclude();
  // Shows the hit slots 0..last anew; their remaining times count from now.
  void RefreshResultList();
  void TakeSelectedHit();
  void OnClickResultList();
  void OnRClickResultList();
  void OnResultItemChanged();
  gavelhawk::search::SearchController& Search() { return *m_search; }
  // The 历史中位 column: one lookup of every shown hit's title.
  void LookUpResultHistory();
  // The history label: the sales of `title` (GBK) in the last 30 days,
  // shown while the fields still hold `dealId`.
  void ShowSnipeHistory(std::int32_t dealId, const std::string& title);
  gavelhawk::snipe::PriceHistoryLookup& HistoryLookup();

  // --- the window (MainDlg.cpp, dlg_keep.cpp, dlg_results.cpp)
  // Shows the snipe list anew (rows came or went).
  void RefreshSnipeList();
  // Shows row i's cells anew (the row itself changed).
  void RefreshSnipeRow(int i);
  // Copies snipe row i into the closing-snipe members and shows them.
  void ShowSnipeInFields(int i);
  void OnClickSnipeList();
  void OnRClickSnipeList();
  void OpenPage(const std::string& url);
  void OnHomePage();
  void OnAuctionSite();
  void OnServicePage();
  void OnViewItem();
  void OnManual();
  void OnPriceQuery();
  // Starts the read of the update page; its answer goes to OnUpdatePage.
  void CheckForUpdate();
  // What the update page offers: the question, the link opened and the
  // program ended, or nothing; then the rest of start-up.
  void OnUpdatePage(const std::string& page);
  void OnUpdateHistory();
  void OnCollapse();
  void OnIEMode();

  // --- state (every handler reads and writes these)
  QComboBox* m_comboCategory = nullptr;
  QTreeView* m_listResults = nullptr;
  ResultTableModel* m_resultTable = nullptr;  // the list view's view of the search's hits
  QTreeView* m_listSnipe = nullptr;
  SnipeTableModel* m_snipeTable = nullptr;  // the list view's view of m_snipeList
  std::int32_t m_nDealId = 3333333;
  std::int32_t m_nMaxPrice = 5;
  std::int32_t m_nIncrement = 1;
  std::int32_t m_nPrepTime = 1000;
  std::int32_t m_nGroup = 0;  // 抢拍组; 0: none
  std::string m_strExclude1, m_strExclude2, m_strExclude3, m_strExclude4;
  std::string m_strInclude1, m_strInclude2, m_strInclude3, m_strInclude4;
  std::string m_strTitle;  // "商品名称" in GBK, set by the constructor
  std::string m_strMaxDiscount;
  std::int32_t m_nOpenDealId = 3333333;
  std::int32_t m_nOpenLag = 100;
  std::int32_t m_nOpenPrice = 0;
  bool m_bIEMode = false;
  std::string m_szAppDir;
  std::string m_strOpenBidUrl;
  int m_nSnipeSel = -1;
  // The snipe list; the window shows it and edits it through its handlers.
  gavelhawk::snipe::SnipeList m_snipeList;
  std::array<SnipeItem, kSnipeSlots>& m_snipes = m_snipeList.rows;
  int& m_nSnipeLast = m_snipeList.last;
  // The search's crawl, its state and its hits (gavelhawk/gui/dlg_search.cpp);
  // the window's names for the hits are views of the controller's.
  std::unique_ptr<gavelhawk::search::SearchController> m_search =
      std::make_unique<gavelhawk::search::SearchController>();
  std::array<SearchHit, kHitSlots>& m_hits = m_search->Hits();
  int& m_nHitLast = m_search->HitLast();

  // True once the update check asked the program to end.
  bool m_bExitRequested = false;
  // The opening snipe is armed (or its page is being read) and has not fired.
  bool m_bOpenWaiting = false;

  // A line the user must see without being stopped (a notice that could not
  // be shown, an increment the site raised): the caption carries the latest.
  void ShowStatus(const QString& text);
  const QString& StatusText() const { return m_status; }
  // A page, document or program that could not be opened: logged and shown.
  void OpenFailed(const std::string& what, const std::string& why);

  // --- the list kept, the user told, the machine awake, the countdown live
  // (gavelhawk/gui/dlg_keep.cpp)
  static constexpr int IDC_LOG = 1042;
  // Every change of the snipe list passes here (RefreshSnipeList calls it):
  // the list is saved, armed and finished rows are logged and told, and the
  // sleep inhibitor follows the waiting rows.
  void SnipeListChanged();
  // Writes the list now (off the window's thread) when it changed since the
  // last write; changes are otherwise written a moment after they settle.
  void SaveSnipeList();
  // Returns once every change so far is in the file.
  void FlushSnipeList();
  // Rows still waiting for their bid.
  int WaitingSnipeCount() const;
  // Row i is armed and waits for its bid.
  bool SnipeWaiting(int i) const;
  // Start-up: the saved rows back, waiting rows armed again, rows that closed
  // meanwhile marked; a damaged file is reported here.
  void RestoreSnipeList();
  // Asked before the window closes while rows wait; true: it may close.
  bool ConfirmQuit();
  // The site clock the countdown counts from; 0 while none is known.
  std::int64_t CountdownClock() const;
  // Refreshes the remaining times of waiting rows and of the search results.
  void OnCountdownTick();
  void OnShowLog();
  // Places the controls for the window's size: both lists take what the
  // window has beyond the template's size.
  void LayoutToSize();
  struct KeepState;

 private:
  void KeepTemplateLayout();
  // Reads the update page on a worker; `answer` then runs on the window's
  // thread with the page, empty when unreadable (at once when there is none).
  void ReadUpdatePage(std::function<void(const std::string& page)> answer);
  // The rest of start-up after the update check, or its end when the check
  // ended the program.
  void FinishStartUp();
  bool IsCollapsed() const;
  int EnterCollapsed();  // the collapsed height
  void ExpandKeepingOnScreen();
  std::shared_ptr<KeepState> m_keep;

 signals:
  // Start-up is over: `started` is false when the update check ended the
  // program (exit code 0), and the window must not show.
  void startUpDone(bool started);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Escape, the close box and Alt+F4 all end here: the snipe work stops with it.
  void done(int r) override;

 private:
  void CreateControls();
  // Snipe plumbing (gavelhawk/gui/dlg_snipe.cpp).
  struct SiteRead {
    std::uint64_t id = 0;
    std::unique_ptr<platform::http::Transport> transport;
    std::thread thread;
  };
  // Runs `work` on a thread of its own with a transport of its own (from
  // `newTransport`, else the services'); `done` then runs on the window's
  // thread (never after the window is gone).
  void RunSiteRead(std::function<void(platform::http::Transport&)> work, std::function<void()> done,
                   const std::function<std::unique_ptr<platform::http::Transport>()>& newTransport = {});
  void StopSnipeWork();
  bool ReadSnipeFields();
  void ArmRow(int i);
  // Asks before arming at a ceiling the current price has reached; true: arm.
  bool CeilingAccepted(std::int64_t current, std::int32_t maxPrice);
  void OnEngineRow(const gavelhawk::snipe::RowEvent& e);
  void OnEngineOpen(const gavelhawk::snipe::OpenEvent& e);
  void EnableSnipeReads(bool on);
  std::unique_ptr<gavelhawk::snipe::Engine> m_engine;
  std::vector<std::unique_ptr<SiteRead>> m_siteReads;
  std::vector<std::string> m_snipeLog;
  bool m_bSnipeReading = false;
  QPointer<QWidget> m_readFocus;  // the button that started the read had the focus
  std::uint64_t m_nNextKey = 1;
  std::uint64_t m_nNextReadId = 1;
  std::uint64_t m_nOpenGeneration = 0;
  void ShowCaption();
  MainDlgServices m_services;
  QString m_status;
  std::map<int, QWidget*> m_controls;
  int m_expandedHeight = 0;
  StartUp m_startUp = StartUp::NotBegun;
  // Last, so that they end first: their threads stop before the rest of the
  // window is taken apart.
  std::uint64_t m_snipeHistoryRun = 0;
  std::unique_ptr<gavelhawk::snipe::PriceHistoryLookup> m_resultHistory;
  std::unique_ptr<gavelhawk::site::ManualBidController> m_bid =
      std::make_unique<gavelhawk::site::ManualBidController>(m_services.newTransport);
};
