// Tests of the library's own extension object and command table, with a recording Default in
// place of the thumbnail command (which needs the imaging library).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_server.h"
#include "parvix_extension.h"
#include "winapi.h"

namespace {
std::vector<std::string> g_params;
}  // namespace

void CParvixExtension::Default(CRequestContext* /*pCtxt*/, char* pszParam) {
  g_params.push_back(pszParam);
}

namespace {

TEST(ParvixExtension, GetExtensionVersionReportsInterface2AndTheDescription) {
  HSE_VERSION_INFO info;
  std::memset(&info, 'x', sizeof info);
  EXPECT_TRUE(GetExtensionVersion(&info));
  EXPECT_EQ(info.dwExtensionVersion, 0x20000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "Parvix Extension");
}

TEST(ParvixExtension, LoadingAddsTheTwoErrorModeFlags) {
  UINT nMode = SetErrorMode(0);
  SetErrorMode(nMode);
  EXPECT_EQ(nMode & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX),
            SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

TEST(ParvixExtension, NamedAndUnnamedRequestsReachDefaultOthersAreRefused) {
  struct Case {
    const char* pszMethod;
    const char* pszQuery;
    const char* pszBody;
    const char* pszParam;  // what Default gets, or null when it is not called
    DWORD dwStatus;
  } cases[] = {
      {"GET", "Default&P", "", "P", 200}, {"GET", "dEfAuLt?P", "", "P", 200},
      {"GET", "P", "", "P", 200},         {"GET", "Other&P", "", nullptr, 400},
      {"GET", "Other", "", "Other", 200}, {"POST", "DEFAULT", "P", "P", 200},
      {"POST", "", "P", "P", 200},        {"POST", "Other", "P", nullptr, 501},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pszMethod) + " " + c.pszQuery);
    g_params.clear();
    CFakeServer server(c.pszMethod, c.pszQuery, c.pszBody);
    HttpExtensionProc(server.Ecb());
    EXPECT_EQ(server.Ecb()->dwHttpStatusCode, c.dwStatus);
    if (c.pszParam != nullptr) {
      EXPECT_EQ(g_params, std::vector<std::string>{c.pszParam});
    } else {
      EXPECT_TRUE(g_params.empty());
    }
  }
}

TEST(ParvixExtension, TheTableHasDefaultNamedAndAsTheDefaultRow) {
  auto* pExtension = static_cast<CParvixExtension*>(GetServerExtension());
  ASSERT_NE(pExtension, nullptr);
  const COMMAND_MAP* pMap = pExtension->GetCommandMap();
  ASSERT_EQ(pMap->pfnGetEntryCount(), 2u);
  EXPECT_STREQ(pMap->pEntries[0].pszName, "Default");
  EXPECT_STREQ(pMap->pEntries[0].pszArgTypes, "\x05");
  EXPECT_EQ(pMap->pEntries[1].pszArgTypes, nullptr);
  EXPECT_EQ(pMap->pEntries[0].pfnHandler, pMap->pEntries[1].pfnHandler);
  ASSERT_NE(pMap->pBaseMap, nullptr);
  EXPECT_EQ(pMap->pBaseMap->pfnGetEntryCount(), 0u);
  EXPECT_EQ(pMap->pBaseMap->pBaseMap, nullptr);
  const COMMAND_MAP_ENTRY* pEntry = nullptr;
  const COMMAND_MAP_ENTRY* pNames = nullptr;
  ASSERT_TRUE(pExtension->FindCommand(nullptr, &pEntry, &pNames));
  EXPECT_EQ(pEntry, &pMap->pEntries[0]);
  EXPECT_EQ(pNames, nullptr);
  EXPECT_FALSE(pExtension->FindCommand("Defaults", &pEntry, &pNames));
}

}  // namespace
