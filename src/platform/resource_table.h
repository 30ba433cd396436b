// The shape of a module's compiled-in resources, as LoadStringA reads them.
#pragma once

#include <cstddef>

#include "winapi.h"

// One string resource: its id and its text (zero-terminated).
struct RESOURCE_STRING {
  UINT nID;
  const char* pszText;
};

// The resources of one module. An HINSTANCE that LoadStringA accepts points at one of these.
struct RESOURCE_MODULE {
  const RESOURCE_STRING* pStrings;
  size_t cStrings;
};

// The resources compiled into this library from resources/; defined there.
extern const RESOURCE_MODULE g_resParvixModule;
