#include "app/list_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/controller.h"
#include "app/list_sink.h"
#include "app/listview.h"
#include "app/tables.h"
#include "base/option.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "support/sample_event.h"
#include "tracking/access_data.h"

namespace qvx {
namespace {

// A view that hands the records' changes to a model, as the window's list does.
class ModelView : public test::RecordingView {
 public:
  void DropOldestRows(int n) override {
    RecordingView::DropOldestRows(n);
    model.NoteDropped(n);
  }
  void DeleteRow(int item) override {
    RecordingView::DeleteRow(item);
    model.NoteDeleted(item);
  }
  void DeleteAllRows() override {
    RecordingView::DeleteAllRows();
    model.NoteCleared();
  }
  void RecordsCleared() override { model.NoteReset(); }
  ListModel model;
};

class ListModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.WriteText(fake.Path("Quorvix.ini"),
                   "[Option]\r\nNbtstatChgOn=0\r\nMemperformanceSelect=2\r\nAccessDataCnt=20\r\n");
    ASSERT_TRUE(QVX_OnInitDialog(view));
  }
  void TearDown() override { QVX_OnClose(); }

  // One row through the list's own output, as the audit step writes it.
  void Add(const std::string& user, const std::string& path, const std::string& size = "5",
           const std::string& client = "10.0.0.2") {
    AccessEvent e = test::SampleAccessEvent();
    e.user = user;
    e.path = path;
    e.size = size;
    e.client = client;
    QVX_ListSink().Write(e);
  }
  std::vector<std::string> Column(int column) {
    std::vector<std::string> out;
    for (int r = 0; r < model().Count(); ++r) out.push_back(model().Cell(r, column));
    return out;
  }
  ListModel& model() { return view.model; }

  test::FakePlatform fake;
  ModelView view;
};

using Strings = std::vector<std::string>;

TEST_F(ListModelTest, RowsShowTheRecordsInTheOrderTheyCameWithWireValuesEscaped) {
  Add("alice", "/a");
  Add("bob", "/b\x01x");
  model().Refresh();
  ASSERT_EQ(model().Count(), 2);
  EXPECT_EQ(Column(3), (Strings{"alice", "bob"}));
  EXPECT_EQ(model().Cell(1, 12), "/b<01>x");
  EXPECT_EQ(model().Cell(0, 0), "2026/12/09 10:20:07");
  EXPECT_EQ(model().Cell(2, 3), "");  // no such row
  EXPECT_EQ(model().Cell(0, 13), "");
}

TEST_F(ListModelTest, SortByAColumnThenReversedAndNumbersAsNumbers) {
  Add("carol", "/c", "10");
  Add("alice", "/a", "9");
  Add("bob", "/b", "100");
  model().Refresh();
  model().SortBy(3);
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"alice", "bob", "carol"}));
  model().SortBy(3);
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"carol", "bob", "alice"}));
  EXPECT_FALSE(model().ascending());
  model().SortBy(10);  // another column starts ascending
  model().Refresh();
  EXPECT_EQ(Column(10), (Strings{"9", "10", "100"}));
  // Rows that come later take their place in the sorted order.
  Add("dave", "/d", "50");
  Add("erin", "/e", "1");
  model().Refresh();
  EXPECT_EQ(Column(10), (Strings{"1", "9", "10", "50", "100"}));
  model().SortBy(-1);
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"carol", "alice", "bob", "dave", "erin"}));
}

TEST_F(ListModelTest, FilterHidesRowsWithoutDroppingThem) {
  Add("alice", "/docs/Report.txt");
  Add("bob", "/docs/other.txt", "5", "10.0.0.9");
  Add("carol", "/pub/report-2.txt");
  model().Refresh();
  model().SetFilter(-1, "REPORT");  // any column, ASCII case ignored
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"alice", "carol"}));
  Add("dave", "/x/report");  // a later matching row shows, a later other one does not
  Add("erin", "/x/y");
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"alice", "carol", "dave"}));
  model().SetFilter(4, "10.0.0.9");  // one column, the whole value
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"bob"}));
  model().SetFilter(4, "10.0.0");
  model().Refresh();
  EXPECT_EQ(model().Count(), 0);
  model().SetFilter(12, "10.0.0.9");
  model().Refresh();
  EXPECT_EQ(model().Count(), 0);
  model().SetFilter(-1, "");
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"alice", "bob", "carol", "dave", "erin"}));
  EXPECT_EQ(nListIndex, 5);
}

TEST_F(ListModelTest, RowsStayOnTheirRecordsWhenTheOldestAreLetGo) {
  for (int i = 0; i < 20; ++i) Add("u" + std::to_string(i), "/p");
  model().Refresh();
  ASSERT_EQ(model().Count(), 20);
  Add("u20", "/p");  // a full list of 20 lets its oldest 2 go
  model().Refresh();
  ASSERT_EQ(model().Count(), 19);
  EXPECT_EQ(model().Cell(0, 3), "u2");
  EXPECT_EQ(model().Cell(18, 3), "u20");
  // The same under a sort, and with rows that came before the refresh.
  model().SortBy(3);
  model().Refresh();
  Add("u21", "/p");
  Add("u22", "/p");
  for (int i = 23; i < 40; ++i) Add("u" + std::to_string(i), "/p");
  model().Refresh();
  std::vector<std::string> users = Column(3);
  ASSERT_EQ(static_cast<int>(users.size()), nListIndex);
  for (size_t i = 1; i < users.size(); ++i) EXPECT_LT(users[i - 1], users[i]);
  EXPECT_EQ(users.back(), "u39");
}

TEST_F(ListModelTest, ClearedListShowsOnlyLaterRowsAndANewCaptureStartsAfresh) {
  Add("alice", "/a");
  Add("bob", "/b");
  model().Refresh();
  view.DeleteAllRows();  // the list is cleared at ViewRefreshTime: the records stay
  Add("carol", "/c");
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"carol"}));
  EXPECT_EQ(nListIndex, 3);
  // Capture starts again: the records are emptied and refilled before the window looks.
  nListIndex = 0;
  QVX_ClearTables();
  Add("dave", "/d");
  Add("erin", "/e");
  Add("frank", "/f");
  Add("gina", "/g");
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"dave", "erin", "frank", "gina"}));
}

TEST_F(ListModelTest, PrunedRowsLeaveAndTheRestKeepTheirTexts) {
  Add("alice", "/a");
  Add("bob", "/b");
  Add("carol", "/c");
  model().Refresh();
  // The departed-clients rule removes record 1 and moves the later ones up.
  AccessData[1] = AccessData[2];
  std::memset(&AccessData[2], 0, sizeof AccessData[2]);
  --nListIndex;
  view.DeleteRow(1);
  model().Refresh();
  EXPECT_EQ(Column(3), (Strings{"alice", "carol"}));
}

TEST_F(ListModelTest, FindLooksAtLoginClientAndPathAndWrapsRound) {
  Add("alice", "/docs/a", "5", "10.0.0.2");
  Add("bob", "/docs/b", "5", "10.0.0.7");
  Add("carol", "/pub/Budget.xls", "5", "10.0.0.2");
  model().Refresh();
  EXPECT_EQ(model().Find("BOB", -1), 1);
  EXPECT_EQ(model().Find("10.0.0.2", 0), 2);       // the next after row 0
  EXPECT_EQ(model().Find("10.0.0.2", 2), 0);       // round to the top
  EXPECT_EQ(model().Find("budget", 2), 2);         // the only one, found again
  EXPECT_EQ(model().Find("SMB2_CREATE", -1), -1);  // other columns are not searched
  EXPECT_EQ(model().Find("nothing", -1), -1);
  EXPECT_EQ(model().Find("", -1), -1);
}

TEST_F(ListModelTest, TabSeparatedCopyAndCsvExportCarryTheHeaderAndQuoteWhatNeedsIt) {
  Add("alice", "/docs/a,b \"x\".txt");
  Add("bob", "/docs/plain");
  model().Refresh();
  const std::string header_tsv =
      "Access Time\tAction\tTreeID\tLogin Name\tClient(IP)\tServer(IP)\tClient(MAC)\t"
      "Server(MAC)\tSMB Cmd\tSMB Info\tSize\tOperation\tPath\r\n";
  EXPECT_EQ(model().Tsv({1}),
            header_tsv +
                "2026/12/09 10:20:07\taccess\t7\tbob\t10.0.0.2\t10.0.0.1\taa:aa:aa:aa:aa:aa\t"
                "bb:bb:bb:bb:bb:bb\tSMB2_CREATE\topen\t5\tRd  \t/docs/plain\r\n");
  model().SetFilter(12, "/docs/a,b \"x\".txt");
  model().Refresh();
  EXPECT_EQ(model().Csv(),
            "Access Time,Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),Server(MAC),"
            "SMB Cmd,SMB Info,Size,Operation,Path\r\n"
            "2026/12/09 10:20:07,access,7,alice,10.0.0.2,10.0.0.1,aa:aa:aa:aa:aa:aa,"
            "bb:bb:bb:bb:bb:bb,SMB2_CREATE,open,5,Rd  ,\"/docs/a,b \"\"x\"\".txt\"\r\n");
}

}  // namespace
}  // namespace qvx
