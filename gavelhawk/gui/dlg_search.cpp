// The search group's handlers: the listing crawl behind 刷新商品 and the two
// "×" buttons. The crawl itself is gavelhawk/search/parallel_crawl.cpp; it
// runs on threads of its own and reports each hit and its end back here.
#include <QComboBox>
#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <atomic>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/search/parallel_crawl.h"
#include "platform/text/gbk.h"

namespace {

// What the crawl reads of the window while it runs, mirrored where its
// thread may read it.
struct CrawlMirror {
  std::atomic<int> category{0};
  std::atomic<double> maxRatio{0};
};

// Tells when the window has been closed (hidden, not minimised).
class ClosedWatch : public QObject {
 public:
  ClosedWatch(QWidget* window, std::function<void()> onClosed)
      : QObject(window), onClosed_(std::move(onClosed)) {
    window->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Hide && !static_cast<QWidget*>(watched)->isVisible()) onClosed_();
    return false;
  }

 private:
  std::function<void()> onClosed_;
};

}  // namespace

struct CrawlTask {
  std::uint64_t id = 0;
  bool wasVisible = false;
  std::shared_ptr<CrawlMirror> mirror = std::make_shared<CrawlMirror>();
  std::unique_ptr<gavelhawk::search::ParallelCrawl> crawl;
  // Last, so that it goes first: no signal reaches the mirror after it.
  std::unique_ptr<QObject> watch;
};

void TaskEnd::operator()(CrawlTask* t) const { delete t; }

void CMainDlg::OnRefreshItems() {
  // A second press ends the running crawl; it never starts a second one
  // over the same table.
  if (m_bCrawling) {
    m_bCrawlStop = true;
    if (m_crawlTask) m_crawlTask->crawl->Stop();
    return;
  }
  // A bad number stops the read with its message; the search goes on regardless.
  UpdateData(true);
  QPushButton* button = Button(IDC_REFRESH);
  if (button) button->setText(QString::fromUtf8("商品刷新中"));

  // The members keep the upper-case form: the next write-back shows it.
  for (std::string* w : {&m_strInclude1, &m_strInclude2, &m_strInclude3, &m_strInclude4, &m_strExclude1,
                         &m_strExclude2, &m_strExclude3, &m_strExclude4})
    platform::text::GbkUpperAscii(*w);
  // The words are fixed for the whole crawl: a "×" pressed meanwhile re-reads
  // the fields, whose words are not upper-cased.
  gavelhawk::search::KeywordFilter keywords({m_strInclude1, m_strInclude2, m_strInclude3, m_strInclude4},
                                            {m_strExclude1, m_strExclude2, m_strExclude3, m_strExclude4});

  m_nHitLast = -1;
  m_bCrawling = true;
  m_bCrawlStop = false;
  static std::uint64_t lastId = 0;
  auto* task = new CrawlTask;
  m_crawlTask.reset(task);
  task->id = ++lastId;
  task->wasVisible = isVisible();
  const std::uint64_t id = task->id;
  std::shared_ptr<CrawlMirror> mirror = task->mirror;

  // The category is read for every page and the limit at every decision:
  // both follow the window while the crawl runs. The limit is the member,
  // as the last read of the fields left it.
  mirror->category = m_comboCategory ? m_comboCategory->currentIndex() : -1;
  mirror->maxRatio = gavelhawk::search::ParseRatio(m_strMaxDiscount);
  auto* watch = new ClosedWatch(this, [this] {
    m_bCrawlStop = true;
    if (m_crawlTask) m_crawlTask->crawl->Stop();
  });
  task->watch.reset(watch);
  if (m_comboCategory)
    connect(m_comboCategory, &QComboBox::currentIndexChanged, watch,
            [mirror](int i) { mirror->category = i; });
  auto* limit = new QTimer(watch);
  limit->setInterval(20);
  connect(limit, &QTimer::timeout, watch,
          [this, mirror] { mirror->maxRatio = gavelhawk::search::ParseRatio(m_strMaxDiscount); });
  limit->start();

  gavelhawk::search::ParallelCrawlSetup setup;
  setup.siteUrl = m_services.siteUrl;
  setup.newTransport = m_services.newTransport;
  setup.categoryIndex = [mirror] { return mirror->category.load(); };
  setup.maxDiscount = [mirror] { return mirror->maxRatio.load(); };
  setup.store = [this, id](int slot, const gavelhawk::search::Hit& hit) {
    QMetaObject::invokeMethod(
        this,
        [this, id, slot, hit] {
          if (!m_crawlTask || m_crawlTask->id != id || slot < 0 || slot >= kHitSlots) return;
          SearchHit& s = m_hits[static_cast<std::size_t>(slot)];
          s.nDealId = hit.nDealId;
          s.strTitle = hit.strTitle;
          s.strStatus = hit.strStatus;
          s.strRemain = hit.strRemain;
          s.fDiscount = hit.fDiscount;
          s.nCurPrice = hit.nCurPrice;
          s.nListPrice = hit.nListPrice;
          m_nHitLast = slot;
        },
        Qt::QueuedConnection);
  };
  task->crawl = std::make_unique<gavelhawk::search::ParallelCrawl>(std::move(keywords), std::move(setup));
  task->crawl->Start([this, id](const gavelhawk::search::CrawlOutcome& out) {
    QMetaObject::invokeMethod(
        this,
        [this, id, out] {
          if (!m_crawlTask || m_crawlTask->id != id) return;
          const bool wasVisible = m_crawlTask->wasVisible;
          m_crawlTask.reset();
          m_bCrawling = false;
          m_bCrawlStop = false;
          if (QPushButton* b = Button(IDC_REFRESH)) b->setText(QString::fromUtf8("刷新商品"));
          if (wasVisible && !isVisible()) return;  // closed meanwhile: nobody to tell
          if (m_nHitLast != -1) {
            RefreshResultList();
          } else if (out.pages > 0 && out.failedPages == out.pages) {
            Message(QString::fromUtf8("网络错误，商品列表读取失败：") +
                    QString::fromStdString(out.pageError));
          } else {
            Message(QString::fromUtf8("没有搜索结果"));
          }
        },
        Qt::QueuedConnection);
  });
}

void CMainDlg::OnClearInclude() {
  UpdateData(true);
  m_strInclude1.clear();
  m_strInclude2.clear();
  m_strInclude3.clear();
  m_strInclude4.clear();
  UpdateData(false);
}

void CMainDlg::OnClearExclude() {
  UpdateData(true);
  m_strExclude1.clear();
  m_strExclude2.clear();
  m_strExclude3.clear();
  m_strExclude4.clear();
  UpdateData(false);
}
