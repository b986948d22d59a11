// The installer under Wine, made from the loopback-polling build of the program: installed silently for the user
// and for all users, the installed program started, then removed silently while it runs. Wine runs every program as
// an elevated administrator and its icacls changes nothing (it only says so on its debug channel), so what another
// user may write is seen here only as far as the installer makes files and the program chooses its page's folder.

#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "BraskoVersion.h"
#include "testing/LoopbackFeedServer.h"
#include "testing/TestSupport.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

constexpr char kName[] = "Brasko tracker";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brasko tracker";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Folder(int csidl) {
  char path[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// A string value of the registry, or nullopt when the value (or its key) is not there.
std::optional<std::string> RegistryText(HKEY root, const char* key, const char* name) {
  char value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueA(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return std::nullopt;
  return std::string(value);
}

bool KeyExists(HKEY root, const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// The version text of a program's version resource.
std::string ProductVersion(const std::string& program) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
  std::string data(size, '\0');
  if (size == 0 || !GetFileVersionInfoA(program.c_str(), 0, size, data.data())) return "";
  char* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\StringFileInfo\\040904E4\\ProductVersion", reinterpret_cast<void**>(&text),
                      &length)) {
    return "";
  }
  return std::string(text);
}

// The manifest the program carries as its resource.
std::string Manifest(const std::string& program) {
  HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  HRSRC found = image != nullptr ? FindResourceA(image, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST) : nullptr;
  std::string text;
  if (found != nullptr)
    text.assign(static_cast<const char*>(LockResource(LoadResource(image, found))), SizeofResource(image, found));
  if (image != nullptr) FreeLibrary(image);
  return text;
}

// One way to install: the installer's arguments and where the files, the Start-menu entry and the keys go.
struct TInstallMode {
  const char* arguments;
  int programs;             // the parent of the install folder
  const char* programsSub;  // below it
  int startMenu;
  HKEY root;
  // Only administrators may write in the program's folder (the test lets this user only read it, as Windows does
  // for every user outside the administrators), so the page goes into the user's own folder.
  bool pageInOwnFolder;
};

void PrintTo(const TInstallMode& mode, std::ostream* out) { *out << "installer /S " << mode.arguments; }

class InstallerTest : public testing::TestWithParam<TInstallMode> {};

TEST_P(InstallerTest, InstallsStartsAndUninstallsLeavingNothingBehind) {
  const TInstallMode& mode = GetParam();
  const std::string folder = Folder(mode.programs) + mode.programsSub + "\\" + kName + "\\";
  const std::string entry = Folder(mode.startMenu) + "\\" + kName + ".lnk";
  const std::string program = folder + "Brasko.exe";
  const std::string ownFolder = Folder(CSIDL_LOCAL_APPDATA) + "\\" + kName + "\\";
  const std::string pageFolder = mode.pageInOwnFolder ? ownFolder : folder;
  ASSERT_FALSE(FileExists(program)) << folder;
  ASSERT_FALSE(FileExists(ownFolder)) << ownFolder;
  // An older version's page, which it made writable for every user in an install for all users.
  if (mode.pageInOwnFolder) {
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::ofstream(folder + "htmlAll.html") << "an older version's page";
  }

  TChildProcess setup(TestProgramDirectory() + "installer-test\\" + BRASKO_TEST_SETUP + " /S " + mode.arguments);
  ASSERT_TRUE(setup.Started());
  ASSERT_TRUE(setup.Wait(60000));
  ASSERT_EQ(setup.ExitCode(), 0u);
  for (const char* file : {"Brasko.exe", "background.jpg", "ReadMe.txt", "License.txt", "Uninstall.exe"}) {
    EXPECT_TRUE(FileExists(folder + file)) << folder + file;
  }
  EXPECT_TRUE(FileExists(entry)) << entry;
  EXPECT_FALSE(FileExists(folder + "htmlAll.html")) << "no page made or left beside the program";
  EXPECT_EQ(ProductVersion(program), BRASKO_VERSION_TEXT);
  EXPECT_NE(Manifest(program).find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
  EXPECT_EQ(RegistryText(mode.root, kUninstallKey, "DisplayVersion"), std::string(BRASKO_PACKAGE_VERSION));
  EXPECT_EQ(RegistryText(mode.root, kRunKey, kName), "\"" + program + "\"") << "starts at sign-in";

  // The installed program runs: its icon is there and it polls, and writes its page where it may.
  TLoopbackFeedServer feed(BRASKO_POLL_TEST_PORT, [](int, const std::string&) {
    return TLoopbackFeedServer::OkReply(Feed({7, 6}));
  });
  TMessageBoxCloser boxes;
  std::optional<TReadOnlyFolder> onlyAdministratorsWrite;
  if (mode.pageInOwnFolder) {
    ASSERT_TRUE(onlyAdministratorsWrite.emplace(folder).Applied());
  }
  const int iconsBefore = TrayIconCount();
  TChildProcess running(program);
  ASSERT_TRUE(running.Started());
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, 15000));
  EXPECT_TRUE(WaitUntil([&] { return FileExists(pageFolder + "htmlAll.html") && feed.RequestCount() > 0; }, 15000));
  EXPECT_EQ(ReadFile(pageFolder + "background.jpg"), ReadFile(folder + "background.jpg"));
  EXPECT_EQ(FileExists(folder + "htmlAll.html"), !mode.pageInOwnFolder) << "a page beside the program";
  onlyAdministratorsWrite.reset();

  // Removing it ends the running copy first, then takes everything away, the user's own page folder too.
  TChildProcess uninstall("\"" + folder + "Uninstall.exe\" /S " + mode.arguments);
  ASSERT_TRUE(uninstall.Started());
  EXPECT_TRUE(running.Wait(30000)) << "the uninstaller ends the running copy";
  EXPECT_EQ(running.ExitCode(), 0u);
  // The folder goes last.
  EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES; }, 30000))
      << folder << " is still there";
  EXPECT_FALSE(FileExists(entry));
  EXPECT_FALSE(FileExists(ownFolder));
  EXPECT_FALSE(RegistryText(mode.root, kRunKey, kName).has_value());
  EXPECT_FALSE(KeyExists(mode.root, kUninstallKey));
  EXPECT_TRUE(boxes.Seen().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, InstallerTest,
                         testing::Values(TInstallMode{"", CSIDL_LOCAL_APPDATA, "\\Programs", CSIDL_PROGRAMS,
                                                      HKEY_CURRENT_USER, false},
                                         TInstallMode{"/AllUsers", CSIDL_PROGRAM_FILES, "", CSIDL_COMMON_PROGRAMS,
                                                      HKEY_LOCAL_MACHINE, true}),
                         [](const testing::TestParamInfo<TInstallMode>& info) {
                           return std::string(info.param.root == HKEY_CURRENT_USER ? "ForTheUser" : "ForAllUsers");
                         });

}  // namespace
