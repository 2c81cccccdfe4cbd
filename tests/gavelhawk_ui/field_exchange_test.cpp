// Field exchange: reading stops at the first field that is not a whole
// number, with the standard message and the focus there; the command goes on
// with the members as they stand. Writing shows every member: what a read
// took is seen in the fields after a write.
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
  QComboBox* Discount() const { return Combo(D::IDC_DISCOUNT); }
  // Every member, as a write shows it: the exchanged fields in the
  // template's order, the discount limit, "IE" when IE模式 is ticked.
  QStringList Written() {
    dlg->UpdateData(false);
    QStringList t;
    for (int id : {D::IDC_DEALID, D::IDC_MAXPRICE, D::IDC_INCREMENT, D::IDC_PREPTIME, D::IDC_EXCLUDE1,
                   D::IDC_EXCLUDE2, D::IDC_EXCLUDE4, D::IDC_INCLUDE1, D::IDC_INCLUDE3, D::IDC_INCLUDE4,
                   D::IDC_TITLE, D::IDC_OPENDEALID, D::IDC_OPENLAG, D::IDC_OPENPRICE})
      t << Field(id);
    return t << Discount()->currentText() << (IEBox()->isChecked() ? "IE" : "");
  }
  // The members of a fresh window.
  const QStringList kFresh{"3333333", "5", "1",           "1000",    "",    "",  "",    "",
                           "",        "",  U("商品名称"), "3333333", "100", "0", "0.5", ""};
};

TEST_F(ExchangeTest, ReadsEveryFieldWhenAllAreNumbers) {
  FillAll(" -9 ", "+60");
  EXPECT_TRUE(dlg->UpdateData(true));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(QStringList({"123456", "-9", "7", "2500", U("翻新"), "", "ex4", U("手机"), "", "in4",
                         U("商品名称"), "777", "60", "42", "0.75", "IE"}),
            Written());
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
  // The fields keep what the user typed.
  EXPECT_EQ("abc", Field(D::IDC_MAXPRICE));
  // Before the field: read. The field and everything after it: unchanged.
  QStringList want = kFresh;
  want[0] = "123456";
  EXPECT_EQ(want, Written());
}

TEST_F(ExchangeTest, ABadLaterFieldKeepsOnlyWhatFollowsIt) {
  FillAll("300", "soon");
  EXPECT_FALSE(dlg->UpdateData(true));
  EXPECT_EQ(QStringList{U("请输入一个整数。")}, Texts(Boxes()));
  EXPECT_EQ(Edit(D::IDC_OPENLAG), dlg->focusWidget());
  // The bad field (开卖延时) and what follows it keep their members.
  EXPECT_EQ(QStringList({"123456", "300", "7", "2500", U("翻新"), "", "ex4", U("手机"), "", "in4",
                         U("商品名称"), "777", "100", "0", "0.75", ""}),
            Written());
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
  EXPECT_EQ("1000", Written()[3]);
}

TEST_F(ExchangeTest, WritingShowsEveryMember) {
  // A member never read (empty) shows the first limit, not an empty text.
  Discount()->setEditText("0.9");
  EXPECT_EQ(kFresh, Written());
  const QStringList typed = {"9876543", "0", "-3",           "1500", "",    U("二手"), "",    "",
                             "IPHONE",  "",  U("全新 手机"), "11",   "250", "99",      "0.8", "IE"};
  const int ids[] = {D::IDC_DEALID,   D::IDC_MAXPRICE,   D::IDC_INCREMENT, D::IDC_PREPTIME, D::IDC_EXCLUDE1,
                     D::IDC_EXCLUDE2, D::IDC_EXCLUDE4,   D::IDC_INCLUDE1,  D::IDC_INCLUDE3, D::IDC_INCLUDE4,
                     D::IDC_TITLE,    D::IDC_OPENDEALID, D::IDC_OPENLAG,   D::IDC_OPENPRICE};
  for (int i = 0; i < 14; ++i) Type(ids[i], typed[i]);
  Discount()->setEditText("0.8");
  IEBox()->setChecked(true);
  EXPECT_TRUE(dlg->UpdateData(true));
  // Typed over, then written: every field shows its member again.
  for (int id : ids) Type(id, "x");
  Discount()->setEditText("0.6");
  IEBox()->setChecked(false);
  EXPECT_EQ(typed, Written());
  EXPECT_EQ(3, Discount()->currentIndex());
  // A value that is not in the list goes into the edit part.
  Discount()->setEditText("0.55");
  EXPECT_TRUE(dlg->UpdateData(true));
  Discount()->setCurrentIndex(0);
  EXPECT_EQ("0.55", Written()[14]);
  EXPECT_EQ(6, Discount()->count());
  // A write then a read gives the same members back.
  EXPECT_TRUE(dlg->UpdateData(true));
  QStringList again = typed;
  again[14] = "0.55";
  EXPECT_EQ(again, Written());
}

}  // namespace
}  // namespace uitest
