// The search group's handlers: 刷新商品 and the two "×" buttons. The crawl,
// its hits and its state are the search controller's
// (gavelhawk/search/search_controller.h); the window hands it the fields,
// its results list follows the hits (gavelhawk/gui/result_table.h), and the
// window tells how the crawl ended.
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/search/parallel_crawl.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"

namespace {

// Tells when the window has been closed (hidden, not minimised).
class ClosedWatch : public QObject {
 public:
  ClosedWatch(QWidget* window, QObject* owner, std::function<void()> onClosed)
      : QObject(owner), onClosed_(std::move(onClosed)) {
    setObjectName(QStringLiteral("ClosedWatch"));
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

void CMainDlg::OnRefreshItems() {
  using gavelhawk::search::SearchController;
  // A second press ends the running crawl; it never starts a second one
  // over the same table.
  if (m_search->Running()) {
    m_search->Stop();
    return;
  }
  if (!m_search->findChild<QObject*>(QStringLiteral("ClosedWatch"), Qt::FindDirectChildrenOnly)) {
    // The category and the limit follow the fields while a crawl runs.
    new ClosedWatch(this, m_search.get(), [this] { m_search->Stop(); });
    connect(m_comboCategory, &QComboBox::currentIndexChanged, m_search.get(),
            [this](int i) { m_search->SetCategory(i); });
    if (auto* discount = qobject_cast<QComboBox*>(GetDlgItem(IDC_DISCOUNT)))
      connect(discount, &QComboBox::currentTextChanged, m_search.get(),
              [this](const QString& text) { m_search->SetMaxDiscount(platform::text::QStringToGbk(text)); });
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
  m_search->SetCategory(m_comboCategory ? m_comboCategory->currentIndex() : -1);
  m_search->SetMaxDiscount(m_strMaxDiscount);
  m_search->SetSite(m_services.siteUrl, m_services.newTransport);
  const bool wasVisible = isVisible();
  // The hits show as they come; the sales medians are looked up once all are in.
  m_search->SetFinished([this, wasVisible](const gavelhawk::search::CrawlOutcome& out) {
    if (QPushButton* b = Button(IDC_REFRESH)) b->setText(QString::fromUtf8("刷新商品"));
    if (wasVisible && !isVisible()) return;  // closed meanwhile: nobody to tell
    if (m_search->HitLast() != -1) {
      LookUpResultHistory();
    } else if (out.pages > 0 && out.failedPages == out.pages) {
      Message(QString::fromUtf8("网络错误，商品列表读取失败：") + QString::fromStdString(out.pageError));
    } else {
      Message(QString::fromUtf8("没有搜索结果"));
    }
  });
  m_search->Press(keywords);
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
