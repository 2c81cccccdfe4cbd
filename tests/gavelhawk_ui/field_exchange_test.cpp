// Field exchange: reading stops at the first field that is not a whole
// number, with the standard message and the focus there; the command goes on
// with the members as they stand. Writing shows every member.
#include "fixture.h"

namespace uitest {
namespace {

using D = CMainDlg;

class ExchangeTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(Open());
    Boxes();
  }
  // Puts a value into every field.
  void FillAll(const QString& maxPrice, const QString& openLag) {
    Type(D::IDC_DEALID, "123456");
    Type(D::IDC_MAXPRICE, maxPrice);
    Type(D::IDC_INCREMENT, "7");
    Type(D::IDC_PREPTIME, "2500");
    Type(D::IDC_EXCLUDE1, U("翻新"));
    Type(D::IDC_EXCLUDE4, "ex4");
    Type(D::IDC_INCLUDE1, U("手机"));
    Type(D::IDC_INCLUDE4, "in4");
    Type(D::IDC_OPENDEALID, "777");
    Type(D::IDC_OPENLAG, openLag);
    Type(D::IDC_OPENPRICE, "42");
    qobject_cast<QComboBox*>(dlg->GetDlgItem(D::IDC_DISCOUNT))->setEditText("0.75");
    IEBox()->setChecked(true);
  }
};

TEST_F(ExchangeTest, ReadsEveryFieldWhenAllAreNumbers) {
  FillAll(" -9 ", "+60");
  EXPECT_TRUE(dlg->UpdateData(true));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(123456, dlg->m_nDealId);
  EXPECT_EQ(-9, dlg->m_nMaxPrice);
  EXPECT_EQ(7, dlg->m_nIncrement);
  EXPECT_EQ(2500, dlg->m_nPrepTime);
  EXPECT_EQ(Gbk("翻新"), dlg->m_strExclude1);
  EXPECT_EQ("ex4", dlg->m_strExclude4);
  EXPECT_EQ(Gbk("手机"), dlg->m_strInclude1);
  EXPECT_EQ("in4", dlg->m_strInclude4);
  EXPECT_EQ(Gbk("商品名称"), dlg->m_strTitle);
  EXPECT_EQ("0.75", dlg->m_strMaxDiscount);
  EXPECT_EQ(777, dlg->m_nOpenDealId);
  EXPECT_EQ(60, dlg->m_nOpenLag);
  EXPECT_EQ(42, dlg->m_nOpenPrice);
  EXPECT_TRUE(dlg->m_bIEMode);
}

TEST_F(ExchangeTest, LettersInTheCeilingStopTheReadThere) {
  FillAll("abc", "60");
  EXPECT_FALSE(dlg->UpdateData(true));
  const auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("请输入一个整数。"), boxes[0].text);
  EXPECT_EQ(U("Gavelhawk"), boxes[0].caption);
  EXPECT_EQ(platform::dialog::Buttons::Ok, boxes[0].buttons);
  EXPECT_EQ(Edit(D::IDC_MAXPRICE), dlg->focusWidget());
  EXPECT_EQ(3, Edit(D::IDC_MAXPRICE)->selectedText().size());  // the bad text is selected for retyping
  // Before the field: read. The field and everything after it: unchanged.
  EXPECT_EQ(123456, dlg->m_nDealId);
  EXPECT_EQ(5, dlg->m_nMaxPrice);
  EXPECT_EQ(1, dlg->m_nIncrement);
  EXPECT_EQ(1000, dlg->m_nPrepTime);
  EXPECT_EQ("", dlg->m_strExclude1);
  EXPECT_EQ("", dlg->m_strInclude1);
  EXPECT_EQ("", dlg->m_strMaxDiscount);
  EXPECT_EQ(3333333, dlg->m_nOpenDealId);
  EXPECT_EQ(100, dlg->m_nOpenLag);
  EXPECT_FALSE(dlg->m_bIEMode);
  // The fields keep what the user typed.
  EXPECT_EQ("abc", Field(D::IDC_MAXPRICE));
}

TEST_F(ExchangeTest, ABadLaterFieldKeepsOnlyWhatFollowsIt) {
  FillAll("300", "soon");
  EXPECT_FALSE(dlg->UpdateData(true));
  EXPECT_EQ(QStringList{U("请输入一个整数。")}, Texts(Boxes()));
  EXPECT_EQ(Edit(D::IDC_OPENLAG), dlg->focusWidget());
  EXPECT_EQ(300, dlg->m_nMaxPrice);
  EXPECT_EQ(Gbk("手机"), dlg->m_strInclude1);
  EXPECT_EQ("0.75", dlg->m_strMaxDiscount);
  EXPECT_EQ(777, dlg->m_nOpenDealId);
  EXPECT_EQ(100, dlg->m_nOpenLag);  // the bad field
  EXPECT_EQ(0, dlg->m_nOpenPrice);  // after it
  EXPECT_FALSE(dlg->m_bIEMode);     // after it
}

TEST_F(ExchangeTest, TheCommandGoesOnWithTheMembersAsTheyStand) {
  Press(D::IDC_COLLAPSE);  // show 查看商品
  Type(D::IDC_DEALID, "4242");
  Type(D::IDC_MAXPRICE, "12x");
  Press(D::IDC_VIEWITEM);
  EXPECT_EQ(QStringList{U("请输入一个整数。")}, Texts(Boxes()));
  ASSERT_EQ(1u, opener.calls.size());
  EXPECT_EQ("default " + server.BaseUrl() + "/detail/4242", opener.calls[0]);
  // Each read shows the message again.
  Press(D::IDC_VIEWITEM);
  EXPECT_EQ(1u, Boxes().size());
  EXPECT_EQ(2u, opener.calls.size());
}

TEST_F(ExchangeTest, AnEmptyNumberFieldIsNotANumber) {
  Type(D::IDC_PREPTIME, "");
  EXPECT_FALSE(dlg->UpdateData(true));
  EXPECT_EQ(Edit(D::IDC_PREPTIME), dlg->focusWidget());
  EXPECT_EQ(1000, dlg->m_nPrepTime);
}

TEST_F(ExchangeTest, WritingShowsEveryMember) {
  dlg->m_nDealId = 9876543;
  dlg->m_nMaxPrice = 0;
  dlg->m_nIncrement = -3;
  dlg->m_nPrepTime = 1500;
  dlg->m_strExclude2 = Gbk("二手");
  dlg->m_strInclude3 = "IPHONE";
  dlg->m_strTitle = Gbk("全新 手机");
  dlg->m_nOpenDealId = 11;
  dlg->m_nOpenLag = 250;
  dlg->m_nOpenPrice = 99;
  dlg->m_bIEMode = true;
  dlg->m_strMaxDiscount = "0.8";
  EXPECT_TRUE(dlg->UpdateData(false));
  EXPECT_EQ("9876543", Field(D::IDC_DEALID));
  EXPECT_EQ("0", Field(D::IDC_MAXPRICE));
  EXPECT_EQ("-3", Field(D::IDC_INCREMENT));
  EXPECT_EQ("1500", Field(D::IDC_PREPTIME));
  EXPECT_EQ(U("二手"), Field(D::IDC_EXCLUDE2));
  EXPECT_EQ("IPHONE", Field(D::IDC_INCLUDE3));
  EXPECT_EQ(U("全新 手机"), Field(D::IDC_TITLE));
  EXPECT_EQ("11", Field(D::IDC_OPENDEALID));
  EXPECT_EQ("250", Field(D::IDC_OPENLAG));
  EXPECT_EQ("99", Field(D::IDC_OPENPRICE));
  EXPECT_TRUE(IEBox()->isChecked());
  auto* discount = qobject_cast<QComboBox*>(dlg->GetDlgItem(D::IDC_DISCOUNT));
  EXPECT_EQ(3, discount->currentIndex());
  // A value that is not in the list goes into the edit part.
  dlg->m_strMaxDiscount = "0.55";
  dlg->UpdateData(false);
  EXPECT_EQ("0.55", discount->currentText());
  EXPECT_EQ(6, discount->count());
  // A member never read (empty) leaves the first limit, not an empty text.
  dlg->m_strMaxDiscount.clear();
  dlg->UpdateData(false);
  EXPECT_EQ("0.5", discount->currentText());
  // A write then a read gives the same members back.
  EXPECT_TRUE(dlg->UpdateData(true));
  EXPECT_EQ(9876543, dlg->m_nDealId);
  EXPECT_EQ(Gbk("全新 手机"), dlg->m_strTitle);
  EXPECT_EQ("0.5", dlg->m_strMaxDiscount);
}

}  // namespace
}  // namespace uitest
