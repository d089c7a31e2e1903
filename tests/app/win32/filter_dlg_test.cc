// The exclusion-list and IP-filter dialogs driven through their controls and menus; the saved
// files are compared byte for byte and read back by the filters' own readers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/win32/dialog_driver.h"
#include "app/win32/dialogs.h"
#include "filters/filter_edit.h"
#include "filters/ip_filter.h"
#include "resources/resource.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

using test::Click;
using test::Command;
using test::ListCell;
using test::Select;
using test::SetText;
using test::StillOpen;
using test::Text;

class FilterDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetNow(2026, 12, 9, 10, 0, 0);
    std::memset(&table, 0, sizeof table);
  }
  void TearDown() override {
    for (HWND d : opened)
      if (IsWindow(d)) DestroyWindow(d);
    ExclusionInfoDataNo = 0;
    IpAddFilterInfoDataNo = 0;
    ExclusionInfoFilePath[0] = '\0';
    IpAddFilterInfoFilePath[0] = '\0';
  }
  HWND Open(int id, DLGPROC proc, LPARAM param) {
    HWND d = test::OpenDialog(id, proc, param);
    opened.push_back(d);
    return d;
  }
  std::string Folder() { return fake.dir().substr(0, fake.dir().size() - 1); }
  // Starts the program's way: the list read from the current directory.
  void StartWith(const char* file, const std::string& text) {
    fake.WriteText(fake.Path(file), text);
    if (std::strcmp(file, kExclusionFileName) == 0)
      ASSERT_EQ(QVX_ExclusionStartup(nullptr, Folder().c_str()), 0);
    else
      ASSERT_EQ(QVX_IpFilterStartup(nullptr, Folder().c_str()), 0);
  }
  static void SelectRows(HWND list, std::initializer_list<int> rows) {
    for (int r : rows) {
      LVITEMA it{};
      it.stateMask = LVIS_SELECTED;
      it.state = LVIS_SELECTED;
      SendMessageA(list, LVM_SETITEMSTATE, r, reinterpret_cast<LPARAM>(&it));
    }
  }
  static int Rows(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  }
  static bool MenuEnabled(HWND d, int id) {
    return (GetMenuState(GetMenu(d), id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
  }

  test::FakePlatform fake;
  FilterTable table;
  std::vector<HWND> opened;
};

TEST_F(FilterDlgTest, ExclusionEntryDialogAppendsWhatItsControlsSay) {
  HWND d = Open(IDD_NORINFO_SET, NorInfoSetDlg, reinterpret_cast<LPARAM>(&table));
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(test::Checked(d, IDC_SET_INDEFINITE));
  EXPECT_TRUE(test::Checked(d, IDC_SET_EXCLUSION));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_SET_S_YEAR)));
  EXPECT_EQ(Text(d, IDC_SET_S_YEAR), "2026");  // preset to today, beyond the old 2020 limit
  EXPECT_EQ(Text(d, IDC_SET_E_DAY), "9");

  fake.WriteText(fake.Path("report.doc"), "x");
  SetText(d, IDC_SET_PATH, fake.Path("report.doc").c_str());
  Click(d, IDC_SET_TERM);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, IDC_SET_E_YEAR)));
  SetText(d, IDC_SET_E_YEAR, "2031");  // typed: not in the list
  Select(d, IDC_SET_E_MON, 1);         // February
  Select(d, IDC_SET_E_DAY, 27);        // 28
  Click(d, IDC_SET_SURVEILLANCE);
  Command(d, IDOK);
  EXPECT_FALSE(StillOpen(d));
  ASSERT_EQ(table.No, 1);
  // A file, not a folder: match kind 0, shown as "File".
  EXPECT_EQ(std::string(table.Data[0]), "01,20261209,-,20310228,1,0,1," + fake.Path("report.doc"));
  EXPECT_EQ(FilterRowTexts(FilterKind::kExclusion, table, 0)[4], "File");
}

TEST_F(FilterDlgTest, AFolderAsksItsConditionAndBadInputKeepsTheDialogOpen) {
  HWND d = Open(IDD_NORINFO_SET, NorInfoSetDlg, reinterpret_cast<LPARAM>(&table));
  ASSERT_NE(d, nullptr);
  Command(d, IDOK);  // no path
  EXPECT_TRUE(StillOpen(d));
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "The surveillance exclusion folder is not inputted.");

  SetText(d, IDC_SET_PATH, Folder().c_str());
  Click(d, IDC_SET_TERM);
  Select(d, IDC_SET_S_MON, 3);   // April
  Select(d, IDC_SET_S_DAY, 30);  // 31
  Command(d, IDOK);
  EXPECT_TRUE(StillOpen(d));
  EXPECT_EQ(fake.boxes().back().caption, "Cautions");
  EXPECT_NE(fake.boxes().back().text.find("Start day"), std::string::npos);
  EXPECT_EQ(table.No, 0);

  Click(d, IDC_SET_INDEFINITE);
  // The condition dialog is modal: answer it from a timer, as a user would, with "and below".
  SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND chk = FindWindowA(nullptr, "Folder condition");
    if (!chk) return;
    KillTimer(nullptr, id);
    SendDlgItemMessageA(chk, IDC_CHK_FOLDER_BELOW, BM_CLICK, 0, 0);
    PostMessageA(chk, WM_COMMAND, IDOK, 0);
  });
  Command(d, IDOK);
  EXPECT_FALSE(StillOpen(d));
  ASSERT_EQ(table.No, 1);
  EXPECT_EQ(std::string(table.Data[0]), "01,00000000,-,00000000,0,2,1," + Folder());
}

TEST_F(FilterDlgTest, ListDeletesTheSelectedRowsInForceAtOnceAndSavesOnOk) {
  StartWith(kExclusionFileName,
            "01,00000000,-,00000000,0,2,1,C:\\a\\\r\r\n"
            "02,00000000,-,00000000,0,2,0,C:\\b\\\r\r\n"
            "03,20261101,-,20261208,0,2,1,C:\\c\\\r\r\n"
            "04,00000000,-,00000000,1,0,1,*.tmp\r\r\n");
  HWND d = Open(IDD_NORINFO, NorInfoDlg, 0);
  ASSERT_NE(d, nullptr);
  HWND list = GetDlgItem(d, IDC_USRLIST);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(Rows(list), 4);
  EXPECT_EQ(ListCell(list, 0, 1), "    ON");
  EXPECT_EQ(ListCell(list, 1, 1), "--  ");  // disabled: the list does not exclude it
  EXPECT_EQ(ListCell(list, 2, 1), "    XX");
  EXPECT_EQ(ListCell(list, 2, 3), "20261101-20261208");
  EXPECT_EQ(ListCell(list, 3, 2), "Surv");
  EXPECT_EQ(ListCell(list, 3, 4), "File");
  EXPECT_EQ(ListCell(list, 0, 4), "Folder subordinate");
  EXPECT_EQ(ListCell(list, 0, 5), "C:\\a\\");

  SelectRows(list, {0, 2});
  Command(d, IDM_FILTER_DEL);
  ASSERT_EQ(Rows(list), 2);
  EXPECT_EQ(ListCell(list, 0, 5), "C:\\b\\");
  EXPECT_EQ(ListCell(list, 1, 0), "02");
  EXPECT_EQ(ListCell(list, 1, 5), "*.tmp");
  EXPECT_EQ(ExclusionInfoDataNo, 2);  // in force before OK
  EXPECT_EQ(QVX_ExclusionInfoChk("C:\\a\\x.txt", 0), 0);

  SelectRows(list, {0});
  Command(d, IDM_FILTER_ENABLE);
  EXPECT_EQ(ListCell(list, 0, 1), "    ON");
  EXPECT_EQ(QVX_ExclusionInfoChk("C:\\b\\x.txt", 0), 10);

  Command(d, IDOK);
  EXPECT_FALSE(StillOpen(d));
  EXPECT_EQ(fake.Contents(fake.Path(kExclusionFileName)),
            "01,00000000,-,00000000,0,2,1,C:\\b\\\r\r\n"
            "02,00000000,-,00000000,1,0,1,*.tmp\r\r\n");
}

TEST_F(FilterDlgTest, CancelPutsBackTheListThatWasInForceAndWritesNothing) {
  const std::string file =
      "01,00000000,-,00000000,0,2,1,C:\\a\\\r\r\n"
      "02,00000000,-,00000000,1,0,1,*.tmp\r\r\n";
  StartWith(kExclusionFileName, file);
  HWND d = Open(IDD_NORINFO, NorInfoDlg, 0);
  ASSERT_NE(d, nullptr);
  HWND list = GetDlgItem(d, IDC_USRLIST);
  SelectRows(list, {0});
  Command(d, IDM_FILTER_DISABLE);
  SelectRows(list, {1});
  Command(d, IDM_FILTER_DEL);
  ASSERT_EQ(ExclusionInfoDataNo, 1);  // in force while the dialog is open
  EXPECT_EQ(QVX_ExclusionInfoChk("C:\\a\\x.txt", 0), 0);

  Command(d, IDCANCEL);  // what Escape and the close box send
  EXPECT_FALSE(StillOpen(d));
  EXPECT_EQ(ExclusionInfoDataNo, 2);
  EXPECT_EQ(QVX_ExclusionInfoChk("C:\\a\\x.txt", 0), 10);
  EXPECT_EQ(fake.Contents(fake.Path(kExclusionFileName)), file);

  // Opened again, it shows the list in force, as the file has it.
  HWND again = Open(IDD_NORINFO, NorInfoDlg, 0);
  ASSERT_EQ(Rows(GetDlgItem(again, IDC_USRLIST)), 2);
  EXPECT_EQ(ListCell(GetDlgItem(again, IDC_USRLIST), 0, 1), "    ON");
}

TEST_F(FilterDlgTest, MenuFollowsTheEntryCount) {
  std::string full;
  for (int i = 1; i <= kFilterEntries; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%02d,00000000,-,00000000,0,1,10.0.0.%d\r\r\n", i, i);
    full += line;
  }
  StartWith(kIpFilterFileName, full);
  HWND d = Open(IDD_IPFILTER, IP_FilterDlg, 0);
  ASSERT_NE(d, nullptr);
  HWND list = GetDlgItem(d, IDC_USRLIST2);
  ASSERT_EQ(Rows(list), kFilterEntries);
  EXPECT_EQ(ListCell(list, 19, 4), "10.0.0.20");
  EXPECT_FALSE(MenuEnabled(d, IDM_FILTER_ADD));
  EXPECT_TRUE(MenuEnabled(d, IDM_FILTER_DEL));

  SelectRows(list, {19});
  Command(d, IDM_FILTER_DEL);
  EXPECT_TRUE(MenuEnabled(d, IDM_FILTER_ADD));
  for (int i = 0; i < kFilterEntries - 1; ++i) SelectRows(list, {i});
  Command(d, IDM_FILTER_DEL);
  EXPECT_EQ(Rows(list), 0);
  EXPECT_FALSE(MenuEnabled(d, IDM_FILTER_DEL));
  EXPECT_FALSE(MenuEnabled(d, IDM_FILTER_ENABLE));
  EXPECT_FALSE(QVX_IpFilterDrops("10.0.0.1", "10.0.0.99"));
  Command(d, IDOK);
  EXPECT_EQ(fake.Contents(fake.Path(kIpFilterFileName)), "");
}

TEST_F(FilterDlgTest, IpEntryFromTheListIsSavedAndFiltersAtOnce) {
  StartWith(kIpFilterFileName, "01,00000000,-,00000000,0,0,10.0.0.1\r\r\n");
  HWND d = Open(IDD_IPFILTER, IP_FilterDlg, 0);
  ASSERT_NE(d, nullptr);
  HWND list = GetDlgItem(d, IDC_USRLIST2);
  EXPECT_EQ(ListCell(list, 0, 1), "--  ");
  // Add opens the modal entry dialog; fill it in from a timer as a user would.
  SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
    HWND e = FindWindowA(nullptr, "IPaddress Filter Setting");
    if (!e) return;
    KillTimer(nullptr, id);
    SetDlgItemTextA(e, IDC_SET_OCTET1, "192");
    SetDlgItemTextA(e, IDC_SET_OCTET2, "168");
    SetDlgItemTextA(e, IDC_SET_OCTET3, "000");
    SetDlgItemTextA(e, IDC_SET_OCTET4, "5");
    SendDlgItemMessageA(e, IDC_SET_TERM, BM_CLICK, 0, 0);
    SetDlgItemTextA(e, IDC_SET_S_YEAR, "2026");
    SendDlgItemMessageA(e, IDC_SET_S_MON, CB_SETCURSEL, 11, 0);
    SendDlgItemMessageA(e, IDC_SET_S_DAY, CB_SETCURSEL, 0, 0);
    SetDlgItemTextA(e, IDC_SET_E_YEAR, "2027");
    SendDlgItemMessageA(e, IDC_SET_E_MON, CB_SETCURSEL, 0, 0);
    SendDlgItemMessageA(e, IDC_SET_E_DAY, CB_SETCURSEL, 30, 0);
    PostMessageA(e, WM_COMMAND, IDOK, 0);
  });
  Command(d, IDM_FILTER_ADD);
  ASSERT_EQ(Rows(list), 2);
  EXPECT_EQ(ListCell(list, 1, 1), "    ON");
  EXPECT_EQ(ListCell(list, 1, 3), "20261201-20270131");
  EXPECT_EQ(ListCell(list, 1, 4), "192.168.0.5");
  EXPECT_TRUE(QVX_IpFilterDrops("192.168.0.5", "10.0.0.99"));

  Command(d, IDOK);
  EXPECT_EQ(fake.Contents(fake.Path(kIpFilterFileName)),
            "01,00000000,-,00000000,0,0,10.0.0.1\r\r\n"
            "02,20261201,-,20270131,0,1,192.168.0.5\r\r\n");
}

TEST_F(FilterDlgTest, AnUnwritableFileKeepsTheListOpen) {
  StartWith(kIpFilterFileName, "");
  std::snprintf(IpAddFilterInfoFilePath, sizeof IpAddFilterInfoFilePath, "%s",
                fake.Path("missing\\dir\\IPAddFilterInfo.dat").c_str());
  HWND d = Open(IDD_IPFILTER, IP_FilterDlg, 0);
  ASSERT_NE(d, nullptr);
  Command(d, IDOK);
  EXPECT_TRUE(StillOpen(d));
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Preservation of information went wrong.");
  EXPECT_EQ(fake.boxes()[0].caption, "ERROR");
}

}  // namespace
}  // namespace qvx
