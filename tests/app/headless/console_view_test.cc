#include "app/headless/console_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace qvx {
namespace {

// The console's rows: what the list keeps, and the line printed once the last column is set.
class ConsoleViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(out, nullptr); }
  void TearDown() override { std::fclose(out); }
  std::string Printed() {
    std::fflush(out);
    std::string text;
    std::rewind(out);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) text.append(buf, n);
    return text;
  }
  void FillRow(int item, const std::string& path) {
    view.InsertRow(item, "2026/12/09 10:20:07");
    const char* cells[12] = {"access", "7",        "alice", "10.0.0.2", "10.0.0.1", "--",
                             "--",     "NTCreate", "info",  "5",        "Rd  ",     path.c_str()};
    for (int c = 1; c < 13; ++c) view.SetCell(item, c, cells[c - 1]);
  }
  std::FILE* out = std::tmpfile();
  ConsoleView view{out};
};

TEST_F(ConsoleViewTest, ACompleteRowIsPrintedOnce) {
  FillRow(0, "/srv/a.txt");
  EXPECT_EQ(Printed(),
            "2026/12/09 10:20:07 | access | 7 | alice | 10.0.0.2 | 10.0.0.1 | -- | -- | NTCreate | "
            "info | 5 | Rd   | /srv/a.txt\n");
  EXPECT_EQ(view.CellText(0, 0), "2026/12/09 10:20:07");
  EXPECT_EQ(view.CellText(0, 12), "/srv/a.txt");
  EXPECT_EQ(view.CellText(0, 13), "");
  EXPECT_EQ(view.CellText(1, 0), "");
}

TEST_F(ConsoleViewTest, ChangingACellKeepsTheOthers) {
  FillRow(0, "/srv/a.txt");
  FillRow(1, "/srv/b.txt");
  // A waiting row becomes a connect row: cells in the middle change length both ways.
  view.SetCell(0, 2, "WAIT12345");
  view.SetCell(0, 1, "connect");
  view.SetCell(0, 3, "");
  view.SetCell(0, 2, "9");
  const char* want[13] = {"2026/12/09 10:20:07",
                          "connect",
                          "9",
                          "",
                          "10.0.0.2",
                          "10.0.0.1",
                          "--",
                          "--",
                          "NTCreate",
                          "info",
                          "5",
                          "Rd  ",
                          "/srv/a.txt"};
  for (int c = 0; c < 13; ++c) EXPECT_EQ(view.CellText(0, c), want[c]) << c;
  EXPECT_EQ(view.CellText(1, 1), "access");
  EXPECT_EQ(view.CellText(1, 12), "/srv/b.txt");
  // The first cell too, and a last cell set again prints the row again.
  view.InsertRow(2, "t");
  view.SetCell(2, 12, "/p");
  view.SetCell(2, 0, "2027/01/01 00:00:00");
  view.SetCell(2, 12, "/q");
  EXPECT_EQ(view.CellText(2, 0), "2027/01/01 00:00:00");
  EXPECT_EQ(view.CellText(2, 12), "/q");
  const std::string printed = Printed();
  EXPECT_NE(printed.find("\nt |  |  |  |  |  |  |  |  |  |  |  | /p\n"), std::string::npos);
  EXPECT_NE(printed.find("\n2027/01/01 00:00:00 |  |  |  |  |  |  |  |  |  |  |  | /q\n"),
            std::string::npos);
}

TEST_F(ConsoleViewTest, InsertingOverARowStartsItEmptyAndDeletingMovesRowsUp) {
  FillRow(0, "/srv/a.txt");
  view.InsertRow(0, "new");
  EXPECT_EQ(view.CellText(0, 0), "new");
  for (int c = 1; c < 13; ++c) EXPECT_EQ(view.CellText(0, c), "") << c;
  FillRow(1, "/srv/b.txt");
  FillRow(2, "/srv/c.txt");
  view.DeleteRow(1);
  EXPECT_EQ(view.CellText(1, 12), "/srv/c.txt");
  EXPECT_EQ(view.CellText(2, 12), "");
  // A row far beyond the last one leaves empty rows between.
  view.InsertRow(5, "far");
  EXPECT_EQ(view.CellText(4, 0), "");
  EXPECT_EQ(view.CellText(5, 0), "far");
  view.DeleteAllRows();
  EXPECT_EQ(view.CellText(0, 0), "");
}

}  // namespace
}  // namespace qvx
