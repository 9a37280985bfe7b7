// The application object: its catalog and its framework settings.
#include <gtest/gtest.h>

#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "prerequisites/Detection.h"

namespace {

TEST(ApplicationTest, ConstructionFillsTheCatalogInOrder) {
    CSetupRunnerApp app;
    EXPECT_EQ(&app, AfxGetApp());
    EXPECT_EQ(1603, app.ExitInstance()) << "a run that never ends well reports a fatal error";
    EXPECT_EQ(AFX_RESTART_MANAGER_SUPPORT_RESTART, app.m_dwRestartManagerSupportFlags);
    EXPECT_EQ(nullptr, app.m_pMainWnd);
    ASSERT_EQ(2u, app.prerequisites.size());

    const Prerequisite& vc = app.prerequisites[0];
    EXPECT_EQ(L"Microsoft Visual C++ 2010 x86 Redistributable", vc.displayName);
    EXPECT_EQ(L"\\Visual C++ 2010 Redistributable Package\\vcredist_x86.exe", vc.installerPath);
    EXPECT_EQ(L" /q", vc.arguments);
    EXPECT_EQ(&IsVcRedist2010Installed, vc.detect);
    EXPECT_FALSE(vc.installed);

    const Prerequisite& net = app.prerequisites[1];
    EXPECT_EQ(L"Microsoft .NET Framework 4.6.2", net.displayName);
    EXPECT_EQ(L"\\DotNetFX462\\dotnet.exe", net.installerPath);
    EXPECT_EQ(L" /q /norestart", net.arguments);
    EXPECT_EQ(&IsNetFramework462Installed, net.detect);
    EXPECT_FALSE(net.installed);
}

TEST(ApplicationTest, TheCurrentApplicationEndsWithTheObject) {
    { CSetupRunnerApp app; }
    EXPECT_EQ(nullptr, AfxGetApp());
}

TEST(ApplicationTest, CopiedRecordKeepsEveryField) {
    Prerequisite record(L"name", L"\\dir\\x.exe", L" /q", IsNetFramework462Installed);
    record.installed = true;
    const Prerequisite copy = record;
    EXPECT_EQ(record.displayName, copy.displayName);
    EXPECT_EQ(record.installerPath, copy.installerPath);
    EXPECT_EQ(record.arguments, copy.arguments);
    EXPECT_EQ(record.detect, copy.detect);
    EXPECT_TRUE(copy.installed);
}

TEST(ApplicationTest, TitleIsStringAppTitle) {
    CSetupRunnerApp app;
    app.LoadAppTitle();
    EXPECT_EQ(LoadResourceString(AFX_IDS_APP_TITLE), app.AppTitle());
    EXPECT_FALSE(app.AppTitle().empty());
}

}  // namespace
