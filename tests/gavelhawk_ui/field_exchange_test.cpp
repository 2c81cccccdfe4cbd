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

TEST_F(ExchangeTest, AReadStopsAtTheFirstFieldThatIsNotAWholeNumber) {
  const QStringList all = {"123456", "-9",  "7",           "2500", U("翻新"), "",   "ex4",  U("手机"),
                           "",       "in4", U("商品名称"), "777",  "60",      "42", "0.75", "IE"};
  auto upTo = [&](int n, QStringList members) {  // the first n read, the rest as they were
    for (int i = 0; i < n; ++i) members[i] = all[i];
    return members;
  };
  QStringList laterBad = upTo(12, kFresh);
  laterBad[1] = "300";
  laterBad[14] = "0.75";  // the discount limit comes before 开卖延时
  const struct {
    const char* maxPrice;
    const char* prepTime;
    const char* openLag;
    int stopsAt;  // 0: every field read
    QStringList members;
  } cases[] = {
      {" -9 ", "2500", "+60", 0, all},
      {"abc", "2500", "60", D::IDC_MAXPRICE, upTo(1, kFresh)},
      {"-9", "", "60", D::IDC_PREPTIME, upTo(3, kFresh)},  // empty is not a number
      {"300", "2500", "soon", D::IDC_OPENLAG, laterBad},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stopsAt);
    ASSERT_TRUE(Open());
    Boxes();
    FillAll(c.maxPrice, c.openLag);
    Type(D::IDC_PREPTIME, c.prepTime);
    EXPECT_EQ(c.stopsAt == 0, dlg->UpdateData(true));
    const auto boxes = Boxes();
    if (c.stopsAt) {
      ASSERT_EQ(1u, boxes.size());
      EXPECT_EQ(U("请输入一个整数。"), boxes[0].text);
      EXPECT_EQ(U("Gavelhawk"), boxes[0].caption);
      EXPECT_EQ(platform::dialog::Buttons::Ok, boxes[0].buttons);
      // The field keeps what the user typed, selected for retyping.
      EXPECT_EQ(Edit(c.stopsAt), dlg->focusWidget());
      EXPECT_EQ(Field(c.stopsAt), Edit(c.stopsAt)->selectedText());
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(c.members, Written());
  }
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
