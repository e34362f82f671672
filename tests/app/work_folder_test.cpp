#include "app/work_folder.h"
#include "tests/app/app_fixture.h"

namespace fieldkit::app {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = FIELDKIT_EXAMPLES_DIR;

class WorkFolderTest : public AppTest {
protected:
    fs::path temp() const { return fs::current_path(); }
};

TEST_F(WorkFolderTest, NewFolderIsCreatedWithTheStarterFilesAndBecomesTheCurrentDirectory)
{
    const fs::path folder = temp() / "home" / kWorkFolderName;
    EXPECT_EQ(enterWorkFolder(folder, kExamples), "");
    EXPECT_EQ(fs::current_path(), folder);
    for (const char* name : kStarterFiles)
        EXPECT_EQ(readFile(folder / name), readFile(kExamples / name)) << name;
}

TEST_F(WorkFolderTest, FilesAlreadyThereAreLeftAloneAndOnlyMissingOnesCopied)
{
    const fs::path folder = temp() / "bench";
    fs::create_directories(folder);
    writeFile(folder / "Info.txt", "our own bench notes\r\n");
    EXPECT_EQ(enterWorkFolder("bench", kExamples), "");
    EXPECT_EQ(readFile(folder / "Info.txt"), "our own bench notes\r\n");
    EXPECT_EQ(readFile(folder / "AppConfig.ini"), readFile(kExamples / "AppConfig.ini"));
}

TEST_F(WorkFolderTest, FolderThatCannotBeMadeWarnsAndTheProgramStaysWhereItWas)
{
    // A home that is a file: nothing can be made under it, whoever runs the test.
    writeFile("home", "");
    const fs::path folder = temp() / "home" / kWorkFolderName;
    const std::string warning = enterWorkFolder(folder, kExamples);
    EXPECT_NE(warning.find("The working folder " + folder.string() + " cannot be used"), std::string::npos) << warning;
    EXPECT_NE(warning.find("FieldKit works in " + temp().string() + " instead"), std::string::npos) << warning;
    EXPECT_EQ(fs::current_path(), temp());
}

TEST_F(WorkFolderTest, StarterFilesThatCannotBeFoundAreNamedButTheFolderIsUsed)
{
    const std::string warning = enterWorkFolder("bench", temp() / "nowhere");
    EXPECT_NE(warning.find("could not copy its starter files"), std::string::npos) << warning;
    EXPECT_NE(warning.find("Info.txt"), std::string::npos) << warning;
    EXPECT_NE(warning.find("AppConfig.ini"), std::string::npos) << warning;
    EXPECT_EQ(fs::current_path().filename(), "bench");
}

TEST_F(WorkFolderTest, StandardFolderIsUnderTheDocumentsFolderOnlyWhereOneExistsApartFromHome)
{
    const fs::path home = temp();
    fs::create_directories(home / "Dokumente");
    EXPECT_EQ(standardWorkFolder(home, home / "Dokumente"), home / "Dokumente" / kWorkFolderName);
    EXPECT_EQ(standardWorkFolder(home, home / "Documents"), home / kWorkFolderName);
    EXPECT_EQ(standardWorkFolder(home, home), home / kWorkFolderName);
    EXPECT_EQ(standardWorkFolder(home, ""), home / kWorkFolderName);
}

} // namespace
} // namespace fieldkit::app
