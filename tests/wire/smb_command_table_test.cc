#include "wire/smb_command_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

// The overrides change the tables for the life of the process; ResetProgramState puts them back.
class CommandTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetProgramState();
    OptionSetDefaults(&OptionInfo);
  }
  void TearDown() override { test::ResetProgramState(); }
};

TEST_F(CommandTableTest, RowsAreNumberedInOrder) {
  for (int i = 0; i < kSmbCommandRows; ++i) EXPECT_EQ(Smb_Command[i].Index, i);
  for (int i = 0; i < kSmb2CommandRows; ++i) EXPECT_EQ(Smb2_Command[i].Index, i);
  EXPECT_STREQ(Smb_Command[58].Name, "SMB_COM_NT_CREATE_ANDX");
  EXPECT_STREQ(Smb_Command[58].Description, "（＋後続コマンド）");
  EXPECT_STREQ(Smb_Command[56].Description, Smb_Command[30].Description);
  EXPECT_STREQ(Smb2_Command[0].Name, "SMB2 NEGOTIATE");
}

TEST_F(CommandTableTest, TextsComeFromTheTableOfTheMessagesVersion) {
  // Code 5 is FLUSH in SMB1 and CREATE in SMB2.
  CommandTexts t = QVX_CommandTexts(1, 1, 5);
  EXPECT_STREQ(t.name, "SMB_COM_FLUSH");
  EXPECT_STREQ(t.info, Smb_Command[5].Description);
  t = QVX_CommandTexts(2, 1, 5);
  EXPECT_STREQ(t.name, "SMB2_CREATE");
  EXPECT_STREQ(t.info, Smb2_Command[5].Description);
  // Without the list of names, each version's no-name row.
  EXPECT_STREQ(QVX_CommandTexts(1, 0, 5).name, "--");
  EXPECT_STREQ(QVX_CommandTexts(2, 0, 5).name, "-");
}

TEST_F(CommandTableTest, GateWithDefaultOverrides) {
  QVX_ApplyCommandTableOptions(OptionInfo);
  EXPECT_TRUE(QVX_Smb1CommandKnown(0xA2));
  EXPECT_TRUE(QVX_Smb1CommandKnown(0x32));   // TRANSACTION2 monitored by default
  EXPECT_FALSE(QVX_Smb1CommandKnown(0x2E));  // READ_ANDX out
  EXPECT_FALSE(QVX_Smb1CommandKnown(0x2F));  // WRITE_ANDX out
  EXPECT_TRUE(QVX_Smb1CommandKnown(0xFF));   // an overwritten row matches 255
  EXPECT_TRUE(QVX_Smb1CommandKnown(0xFE));   // via row 65
  EXPECT_FALSE(QVX_Smb1CommandKnown(0x15));

  EXPECT_TRUE(QVX_Smb2CommandKnown(0x05));
  EXPECT_TRUE(QVX_Smb2CommandKnown(0x07));   // FLUSH passes whatever smb2_com_flush_off says
  EXPECT_FALSE(QVX_Smb2CommandKnown(0x08));  // READ
  EXPECT_FALSE(QVX_Smb2CommandKnown(0x09));  // WRITE
  EXPECT_FALSE(QVX_Smb2CommandKnown(0x0B));  // IOCTL
  EXPECT_TRUE(QVX_Smb2CommandKnown(0xFE));   // via row 19
  EXPECT_FALSE(QVX_Smb2CommandKnown(0x13));
  EXPECT_FALSE(QVX_Smb2CommandKnown(0x0FFF + 0x1000));
}

TEST_F(CommandTableTest, OverridesFollowTheOptions) {
  OptionInfo.smb1_com_transaction2_off = 1;
  OptionInfo.smb1_com_write_andx_off = 0;
  OptionInfo.smb1_com_read_andx_off = 0;
  QVX_ApplyCommandTableOptions(OptionInfo);
  EXPECT_FALSE(QVX_Smb1CommandKnown(0x32));
  EXPECT_TRUE(QVX_Smb1CommandKnown(0x2E));
  EXPECT_TRUE(QVX_Smb1CommandKnown(0x2F));
  EXPECT_EQ(Smb_Command[42].Command, 255);
}

TEST_F(CommandTableTest, NamingRow) {
  EXPECT_STREQ(QVX_Smb1CommandRow(1, 0x73).Name, "SMB_COM_SESSION_SETUP_ANDX");
  EXPECT_STREQ(QVX_Smb1CommandRow(1, 0x73).Description,
               "セッション・セットアップ（＋後続コマンド）");
  EXPECT_EQ(QVX_Smb1CommandRow(0, 0x73).Index, 66);
  EXPECT_STREQ(QVX_Smb1CommandRow(0, 0x73).Name, "--");
  EXPECT_EQ(QVX_Smb1CommandRow(1, 0x15).Index, 66);  // not found
  EXPECT_EQ(QVX_Smb1CommandRow(1, 0xFE).Index, 65);
  EXPECT_STREQ(QVX_Smb2CommandRow(1, 5).Name, "SMB2_CREATE");
  EXPECT_EQ(QVX_Smb2CommandRow(0, 5).Index, 20);
  EXPECT_STREQ(QVX_Smb2CommandRow(0, 5).Description, "-");
  EXPECT_EQ(QVX_Smb2CommandRow(1, 9).Index, 20);
  EXPECT_EQ(QVX_Smb2CommandRow(1, 0xFE).Index, 19);
}

}  // namespace
}  // namespace qvx
