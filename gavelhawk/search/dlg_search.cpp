// The search group's handlers: the listing crawl behind 刷新商品 and the two
// "×" buttons. The crawl itself is gavelhawk/search/crawl.cpp.
#include <QComboBox>
#include <QPushButton>

#include "gavelhawk/search/crawl.h"
#include "gavelhawk/ui/MainDlg.h"
#include "platform/text/gbk.h"

namespace {

// Clears the crawl flags however the handler is left.
class CrawlFlags {
 public:
  CrawlFlags(bool& crawling, bool& stop) : crawling_(crawling), stop_(stop) {
    crawling_ = true;
    stop_ = false;
  }
  ~CrawlFlags() {
    crawling_ = false;
    stop_ = false;
  }
  CrawlFlags(const CrawlFlags&) = delete;
  CrawlFlags& operator=(const CrawlFlags&) = delete;

 private:
  bool& crawling_;
  bool& stop_;
};

}  // namespace

void CMainDlg::OnRefreshItems() {
  // A press that arrives through the crawl's own message dispatch ends the
  // running crawl; it never starts a second one over the same table.
  if (m_bCrawling) {
    m_bCrawlStop = true;
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
  const gavelhawk::search::KeywordFilter keywords(
      {m_strInclude1, m_strInclude2, m_strInclude3, m_strInclude4},
      {m_strExclude1, m_strExclude2, m_strExclude3, m_strExclude4});

  m_nHitLast = -1;
  const bool wasVisible = isVisible();
  {
    CrawlFlags flags(m_bCrawling, m_bCrawlStop);
    gavelhawk::search::CrawlHooks hooks;
    hooks.fetch = [this](const std::string& path) { return FetchPage(SiteUrl(path)); };
    hooks.pump = [this] { PumpMessages(); };
    hooks.categoryIndex = [this] { return m_comboCategory ? m_comboCategory->currentIndex() : -1; };
    hooks.maxDiscount = [this] { return gavelhawk::search::ParseRatio(m_strMaxDiscount); };
    // Closing the window during a crawl ends it too.
    hooks.stopRequested = [this, wasVisible] { return m_bCrawlStop || (wasVisible && !isVisible()); };
    hooks.store = [this](int slot, const gavelhawk::search::Hit& hit) {
      if (slot < 0 || slot >= kHitSlots) return;
      SearchHit& s = m_hits[static_cast<std::size_t>(slot)];
      s.nDealId = hit.nDealId;
      s.strTitle = hit.strTitle;
      s.strStatus = hit.strStatus;
      s.strRemain = hit.strRemain;
      s.fDiscount = hit.fDiscount;
      s.nCurPrice = hit.nCurPrice;
      s.nListPrice = hit.nListPrice;
      m_nHitLast = slot;
    };
    gavelhawk::search::Crawl(keywords, hooks);
  }

  if (button) button->setText(QString::fromUtf8("刷新商品"));
  if (wasVisible && !isVisible()) return;  // closed meanwhile: nobody to tell
  if (m_nHitLast == -1)
    Message(QString::fromUtf8("没有搜索结果"));
  else
    RefreshResultList();
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
