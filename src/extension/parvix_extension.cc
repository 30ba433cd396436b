// The one extension object of the library and its command table.
#include "parvix_extension.h"

#include <cstring>

namespace {

constexpr COMMAND_MAP_ENTRY kCommands[] = {
    COMMAND_ENTRY("Default", &CParvixExtension::Default),
    DEFAULT_COMMAND_ENTRY("Default", &CParvixExtension::Default),
};

constexpr size_t GetCommandCount() { return sizeof kCommands / sizeof kCommands[0]; }

// The class library's load step: resources come from this library itself (LoadStringA's
// default module), and the process's error mode gains the two flags, added to those in force.
struct CModuleState {
  CModuleState() {
    UINT nMode = SetErrorMode(0);
    SetErrorMode(nMode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  }
};

const CModuleState g_moduleState;
// The process's one extension object: constructed at load, after the command table (which is
// constant data), and destroyed at unload.
CParvixExtension g_extension;

}  // namespace

const COMMAND_MAP CParvixExtension::s_commandMap = {&GetCommandCount,
                                                    &CServerExtension::s_commandMap, kCommands};

CParvixExtension::CParvixExtension() : CServerExtension('&') {}

CParvixExtension::~CParvixExtension() = default;

BOOL CParvixExtension::GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  CServerExtension::GetExtensionVersion(pVer);
  char szDesc[HSE_MAX_EXT_DLL_NAME_LEN];
  if (LoadStringA(AfxGetResourceHandle(), 102, szDesc, sizeof szDesc) == 0) szDesc[0] = '\0';
  std::memcpy(pVer->lpszExtensionDesc, szDesc, std::strlen(szDesc) + 1);
  return true;
}

const COMMAND_MAP* CParvixExtension::GetCommandMap() { return &s_commandMap; }
