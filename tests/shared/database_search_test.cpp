#include "platform/folders.h"
#include "shared/database_search.h"
#include "shared/file_safety.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

using namespace corvale;
using testsupport::FakeDialogs;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

const DatabaseSearchSettings kEngine{"Brisken", false};
const DatabaseSearchSettings kTool{"Corvale", true};

class DatabaseSearch : public ::testing::Test {
protected:
    void SetUp() override { platform::changeFolder(here.path()); }

    void expectPrompt(const MessageRequest& message) {
        EXPECT_EQ(message.text, "Please find and open the database: corvale.mdb");
        EXPECT_EQ(message.caption, "Corvale - It's your choice...");
        EXPECT_EQ(message.buttons, MessageButtons::OkCancel);
        EXPECT_EQ(message.icon, MessageIcon::Information);
    }
    void expectRefusal(const MessageRequest& message, const std::string& caption) {
        EXPECT_EQ(message.text, "This application cannot execute properly without the database corvale.mdb.  "
                                "Please install this database on your system, and run the program again.");
        EXPECT_EQ(message.caption, caption);
        EXPECT_EQ(message.buttons, MessageButtons::Ok);
        EXPECT_EQ(message.icon, MessageIcon::None);
    }

    TempDir here;
    TempDir elsewhere;
    FakeDialogs dialogs;
};

TEST_F(DatabaseSearch, FileInTheCurrentFolderIsTakenWithoutAsking) {
    writeFile(here / "corvale.mdb", "");
    EXPECT_EQ(checkDbase(dialogs, kEngine), here / "corvale.mdb");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DatabaseSearch, NameInAnotherCaseIsFoundTooButTheExactNameFirst) {
    writeFile(here / "Corvale.MDB", "");
    EXPECT_EQ(checkDbase(dialogs, kEngine), here / "Corvale.MDB");
    writeFile(here / "corvale.mdb", "");
    EXPECT_EQ(checkDbase(dialogs, kEngine), here / "corvale.mdb");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(DatabaseSearch, FileChosenInTheDialogIsTakenByItsNameOnly) {
    writeFile(elsewhere / "other.mdb", "");
    writeFile(elsewhere / "CORVALE.mdb", "");
    dialogs.files = {elsewhere / "other.mdb", elsewhere / "corvale.mdb", elsewhere / "CORVALE.mdb"};

    EXPECT_EQ(checkDbase(dialogs, kEngine), elsewhere / "CORVALE.mdb");
    ASSERT_EQ(dialogs.messages.size(), 3u) << "a wrong name and a missing file bring the prompt back";
    for (const auto& message : dialogs.messages) {
        expectPrompt(message);
    }
    ASSERT_EQ(dialogs.fileRequests.size(), 3u);
    EXPECT_EQ(dialogs.fileRequests[0].filter, "Microsoft Access Databases (*.mdb)|*.mdb|All Files (*.*)|*.*");
    EXPECT_EQ(dialogs.fileRequests[0].title, "");
}

TEST_F(DatabaseSearch, CancelAtThePromptIsGivingUpInBothPrograms) {
    for (const auto& settings : {kEngine, kTool}) {
        dialogs.messages.clear();
        dialogs.answers = {MessageAnswer::Cancel};
        EXPECT_EQ(checkDbase(dialogs, settings), std::nullopt);
        ASSERT_EQ(dialogs.messages.size(), 2u);
        expectPrompt(dialogs.messages[0]);
        expectRefusal(dialogs.messages[1], settings.programCaption);
        EXPECT_TRUE(dialogs.fileRequests.empty());
    }
}

TEST_F(DatabaseSearch, CancelInTheDialogGivesUpInTheEngineButIsAFailureInTheTool) {
    EXPECT_EQ(checkDbase(dialogs, kEngine), std::nullopt);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    expectRefusal(dialogs.messages[1], "Brisken");

    dialogs.messages.clear();
    EXPECT_THROW(checkDbase(dialogs, kTool), DatabaseSearchCancelled);
    ASSERT_EQ(dialogs.messages.size(), 1u) << "no refusal in the tool";
    expectPrompt(dialogs.messages[0]);
}

TEST(PrivateFile, OnlyAFileAndFolderThatNobodyElseCanChangeAreAccepted) {
    TempDir dir;
    const std::string file = dir / "corvale.mdb";
    writeFile(file, "");
    EXPECT_NO_THROW(requirePrivateFile(file));

    testsupport::letAnotherUsersGroupWrite(file);
    EXPECT_THROW(requirePrivateFile(file), Failure);
    fs::permissions(file, fs::perms::group_write, fs::perm_options::remove);

    fs::permissions(dir.path(), fs::perms::others_write | fs::perms::others_exec, fs::perm_options::add);
    try {
        requirePrivateFile(file);
        ADD_FAILURE() << "a folder every user can write was accepted";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("The folder " + dir.path()), std::string::npos);
    }
    // The sticky bit keeps others from replacing the file, not from adding
    // a journal beside it.
    fs::permissions(dir.path(), fs::perms::sticky_bit, fs::perm_options::add);
    try {
        requirePrivateFile(file);
        ADD_FAILURE() << "a sticky folder every user can write was accepted";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("chmod go-w " + dir.path() + ")"), std::string::npos);
    }
    fs::permissions(dir.path(), fs::perms::others_write | fs::perms::sticky_bit, fs::perm_options::remove);

    // A link to a file that others can change does not hide it.
    writeFile(dir / "shared.mdb", "");
    fs::permissions(dir / "shared.mdb", fs::perms::others_write, fs::perm_options::add);
    fs::create_symlink(dir / "shared.mdb", dir / "link.mdb");
    EXPECT_THROW(requirePrivateFile(dir / "link.mdb"), Failure);
}

TEST(PrivateFile, EveryFolderAboveMustBeSafeUnlessItIsRootsAndSticky) {
    TempDir dir;
    fs::create_directories(dir / "a/b");
    const std::string file = dir / "a/b/corvale.mdb";
    writeFile(file, "");
    EXPECT_EQ(requirePrivateFile(file), file) << "the path to open";

    // With umask 002 each user's folders are writable by a group of his
    // own, which lets nobody else in: the walk, the file and its journal
    // pass. A group that another account has as its primary one does not.
    if (geteuid() == 0) {
        ASSERT_EQ(chown((dir / "a").c_str(), 0, getpwuid(0)->pw_gid), 0);
        fs::permissions(dir / "a", fs::perms::group_write, fs::perm_options::add);
        fs::permissions(dir / "a/b", fs::perms::group_write, fs::perm_options::add);
        fs::permissions(file, fs::perms::group_write, fs::perm_options::add);
        writeFile(file + "-journal", "");
        fs::permissions(file + "-journal", fs::perms::group_write, fs::perm_options::add);
        EXPECT_NO_THROW(requirePrivateFile(file)) << "root's own group has no other member";
        fs::remove(file + "-journal");
        fs::permissions(dir / "a/b", fs::perms::group_write, fs::perm_options::remove);
        fs::permissions(file, fs::perms::group_write, fs::perm_options::remove);
    }
    testsupport::letAnotherUsersGroupWrite(dir / "a");
    try {
        requirePrivateFile(file);
        ADD_FAILURE() << "a folder on the way that its group can write was accepted";
    } catch (const Failure& failure) {
        const std::string text = failure.what();
        EXPECT_NE(text.find("The folder " + (dir / "a") + " above the database can be written by its group"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("(chmod go-w " + (dir / "a") + ")"), std::string::npos) << text;
    }
    // As /tmp is: every user may write, but the sticky bit keeps each to his
    // own entries. That holds for root's folders only.
    fs::permissions(dir / "a", fs::perms::all | fs::perms::sticky_bit);
    if (geteuid() == 0) {
        EXPECT_NO_THROW(requirePrivateFile(file));
    } else {
        EXPECT_THROW(requirePrivateFile(file), Failure);
    }
    // A link on the way is resolved: the path to open is the one checked.
    fs::permissions(dir / "a", fs::perms::owner_all);
    fs::create_directory_symlink(dir / "a", dir / "link");
    EXPECT_EQ(requirePrivateFile(dir / "link/b/corvale.mdb"), file);
}

TEST(PrivateFile, FileOfAnotherUserIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    TempDir dir;
    const std::string file = dir / "corvale.mdb";
    writeFile(file, "");
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    try {
        requirePrivateFile(file);
        ADD_FAILURE() << "another user's file was accepted";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find("belongs to another user"), std::string::npos);
    }
}

} // namespace
