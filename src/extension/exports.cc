// The library's two entry points: each forwards to the process's extension object.
#include "isapi.h"
#include "server_extension.h"

// No exception may leave these: the server calls them from C.
extern "C" [[gnu::visibility("default")]] BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  try {
    CServerExtension* pExtension = GetServerExtension();
    return pExtension != nullptr && pVer != nullptr && pExtension->GetExtensionVersion(pVer);
  } catch (...) {
    return false;
  }
}

extern "C" [[gnu::visibility("default")]] DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  try {
    CServerExtension* pExtension = GetServerExtension();
    if (pExtension == nullptr || pECB == nullptr) return HSE_STATUS_ERROR;
    return pExtension->HttpExtensionProc(pECB);
  } catch (...) {
    return HSE_STATUS_ERROR;
  }
}
