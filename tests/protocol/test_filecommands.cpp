// The file commands on their own: the file types and what each entry of the two dialogs
// stands for. The window's Open and Save are tested in test_filewindow.cpp.
#include "platform/FileTypes.h"
#include "protocol/FileCommands.h"
#include "tests/support/core/PlainTables.h"

#include <gtest/gtest.h>

namespace {

TEST(FileTypes, NamesFromTheMimeDatabaseOrTheBuiltInOnes)
{
    TFileTypeNames names;
    EXPECT_EQ(names.text, "Textdatei");
    EXPECT_EQ(names.web, "Webseite");
    EXPECT_EQ(names.sheet, "MS Excel");
    names.read();
    // Qt carries the shared database, so all three types are known.
    EXPECT_FALSE(names.text.isEmpty());
    EXPECT_FALSE(names.web.isEmpty());
    EXPECT_NE(names.text, names.web);
}

struct EntryCase
{
    int entry;
    TFileCommands::FileKind open;
    TFileCommands::FileKind save;
    const char *suffix = "";
};

class FileEntries : public ::testing::TestWithParam<EntryCase>
{
};

// The entries and their numbers are the same with LibreOffice and without.
TEST_P(FileEntries, EachEntryStandsForItsType)
{
    for (const bool office : {false, true}) {
        SCOPED_TRACE(office);
        auto g = plainResults(4);
        TFileCommands cmd(*g, nullptr);
        cmd.buildFilters(office);
        EXPECT_EQ(cmd.openEntryKind(GetParam().entry), GetParam().open);
        EXPECT_EQ(cmd.saveEntryKind(GetParam().entry), GetParam().save);
        EXPECT_EQ(cmd.OpenDialog1.entryCount(), 4);
        EXPECT_EQ(cmd.SaveDialog1.entryCount(), 5);
        EXPECT_EQ(cmd.saveEntrySuffix(GetParam().entry), GetParam().suffix);
        EXPECT_EQ(cmd.SaveDialog1.Filter,
                  cmd.FileTypes.text + " (*.txt)|*.txt|" + cmd.FileTypes.sheet + " (*.xls)|*.xls|" +
                      cmd.FileTypes.web + " (*.html)|*.html|" + cmd.FileTypes.sheetXlsx +
                      " (*.xlsx)|*.xlsx|" + cmd.FileTypes.sheetOds + " (*.ods)|*.ods");
    }
}

using K = TFileCommands::FileKind;
INSTANTIATE_TEST_SUITE_P(
    Filters, FileEntries,
    ::testing::Values(EntryCase{1, K::Text, K::Text}, EntryCase{2, K::Sheet, K::Sheet, "xls"},
                      EntryCase{3, K::Sheet, K::Web}, EntryCase{4, K::Sheet, K::Sheet, "xlsx"},
                      EntryCase{5, K::None, K::Sheet, "ods"}, EntryCase{6, K::None, K::None},
                      EntryCase{0, K::None, K::None}));

} // namespace
