// Dispatch: finding the command a request names, binding its parameters, decoding them.
#include <cstdlib>
#include <cstring>

#include "frame_util.h"
#include "server_extension.h"

namespace {

constexpr char kCommandField[] = "MfcISAPICommand";

int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// Visits the rows with a handler of `pMap` and its base maps, in order, until `match` accepts
// one; gives that row and the parameter-names row after it (or null).
template <class Match>
bool SearchMaps(const COMMAND_MAP* pMap, Match match, const COMMAND_MAP_ENTRY** ppEntry,
                const COMMAND_MAP_ENTRY** ppParamNames) {
  for (; pMap != nullptr; pMap = pMap->pBaseMap) {
    size_t cEntries = pMap->pfnGetEntryCount != nullptr ? pMap->pfnGetEntryCount() : 0;
    for (size_t i = 0; i < cEntries; ++i) {
      const COMMAND_MAP_ENTRY& entry = pMap->pEntries[i];
      if (entry.pfnHandler == nullptr || !match(entry)) continue;
      *ppEntry = &entry;
      bool bNames = i + 1 < cEntries && pMap->pEntries[i + 1].pfnHandler == nullptr;
      *ppParamNames = bNames ? &pMap->pEntries[i + 1] : nullptr;
      return true;
    }
  }
  return false;
}

}  // namespace

bool CServerExtension::FindCommand(const char* pszName, const COMMAND_MAP_ENTRY** ppEntry,
                                   const COMMAND_MAP_ENTRY** ppParamNames) {
  const COMMAND_MAP* pMap = GetCommandMap();
  if (pszName != nullptr) {
    return SearchMaps(
        pMap,
        [&](const COMMAND_MAP_ENTRY& e) {
          return e.pszArgTypes != nullptr && e.pszName != nullptr &&
                 frame_util::EqualsNoCase(e.pszName, pszName);
        },
        ppEntry, ppParamNames);
  }
  const COMMAND_MAP_ENTRY* pDefault = nullptr;
  const COMMAND_MAP_ENTRY* pUnused = nullptr;
  if (!SearchMaps(
          pMap, [](const COMMAND_MAP_ENTRY& e) { return e.pszArgTypes == nullptr; }, &pDefault,
          &pUnused)) {
    return false;
  }
  return SearchMaps(
      pMap,
      [&](const COMMAND_MAP_ENTRY& e) {
        return e.pfnHandler == pDefault->pfnHandler && e.pszArgTypes != nullptr;
      },
      ppEntry, ppParamNames);
}

DispatchResult CServerExtension::DispatchCommand(CRequestContext* pCtxt, char* pszRequest,
                                                 char* pszCommand) {
  pCtxt->m_pOutput = CreateOutputStream();
  if (pCtxt->m_pOutput == nullptr) return DISPATCH_NO_STREAM;
  if (pszRequest == nullptr) return DISPATCH_NO_COMMAND;

  const char chSep = m_chParamSeparator;
  const COMMAND_MAP_ENTRY* pEntry = nullptr;
  const COMMAND_MAP_ENTRY* pParamNames = nullptr;

  // The command field: MfcISAPICommand=name&parameter.
  char* pEquals = std::strchr(pszRequest, '=');
  if (pEquals != nullptr &&
      frame_util::EqualsNoCase(pszRequest, static_cast<size_t>(pEquals - pszRequest),
                               kCommandField)) {
    char* pszName = pEquals + 1;
    char* pSep = std::strchr(pszName, chSep);
    if (pSep != nullptr) *pSep = '\0';
    if (FindCommand(pszName, &pEntry, &pParamNames)) {
      return CallHandler(pCtxt, pEntry, pParamNames, pSep != nullptr ? pSep + 1 : nullptr);
    }
    if (pSep != nullptr) *pSep = chSep;  // the request text stays exactly as it came
  }

  const char* pszName = nullptr;
  char* pszParams = pszRequest;
  if (pszCommand != nullptr) {
    pszName = pszCommand;
  } else {
    // P, the parameter start: the first separator, or the first "?" when there is no
    // separator or a "?" stands before it. A "?" that ends the text is dropped.
    char* pSep = std::strchr(pszRequest, chSep);
    char* pQuestion = std::strchr(pszRequest, '?');
    char* pStart = pSep;
    if (pSep == nullptr || (pQuestion != nullptr && pQuestion < pSep)) pStart = pQuestion;
    if (pStart != nullptr && pStart == pQuestion && pStart[1] == '\0') {
      *pStart = '\0';
      pStart = nullptr;
    }
    // A leading command name, unless an "=" before P makes the text a name-and-value form.
    if (pszRequest[0] != '\0' && (pEquals == nullptr || pStart == nullptr || pEquals > pStart)) {
      char chSaved = '\0';
      if (pStart != nullptr) chSaved = *pStart, *pStart = '\0';
      if (FindCommand(pszRequest, &pEntry, &pParamNames)) {
        return CallHandler(pCtxt, pEntry, pParamNames, pStart != nullptr ? pStart + 1 : nullptr);
      }
      if (pStart != nullptr) *pStart = chSaved;
    }
  }
  if (pszName != nullptr && pszName[0] == '\0') pszName = nullptr;
  if (pszParams[0] == '\0') pszParams = nullptr;
  if (!FindCommand(pszName, &pEntry, &pParamNames)) return DISPATCH_NO_COMMAND;
  return CallHandler(pCtxt, pEntry, pParamNames, pszParams);
}

DispatchResult CServerExtension::CallHandler(CRequestContext* pCtxt,
                                             const COMMAND_MAP_ENTRY* pEntry,
                                             const COMMAND_MAP_ENTRY* /*pParamNames*/,
                                             char* pszParams) {
  // No row of ours has parameter names, so parameters are always bound by position.
  COMMAND_ARG args[COMMAND_MAX_ARGS] = {};
  DispatchResult nResult =
      BindArguments(pEntry->pszArgTypes != nullptr ? pEntry->pszArgTypes : "", pszParams, args);
  if (nResult != DISPATCH_DONE) return nResult;
  pEntry->pfnHandler(this, pCtxt, args);
  return DISPATCH_DONE;
}

DispatchResult CServerExtension::BindArguments(const char* pszArgTypes, char* pszParams,
                                               COMMAND_ARG* pArgs) {
  const char chSep = m_chParamSeparator;
  if (pszParams == nullptr) return pszArgTypes[0] == ARG_END ? DISPATCH_DONE : DISPATCH_ARG_COUNT;
  if (pszArgTypes[0] == ARG_END) return DISPATCH_ARG_COUNT;

  // The token position lives in this call alone, so concurrent requests never share it.
  char* pNext = pszParams;
  size_t i = 0;
  for (; pszArgTypes[i] != '\0' && pszArgTypes[i] != ARG_END; ++i) {
    while (*pNext == chSep) ++pNext;
    if (*pNext == '\0') break;
    char* pszToken = pNext;
    while (*pNext != '\0' && *pNext != chSep) ++pNext;
    if (*pNext != '\0') *pNext++ = '\0';
    if (i >= COMMAND_MAX_ARGS) return DISPATCH_ARG_COUNT;
    switch (pszArgTypes[i]) {
      case ARG_SHORT:
        pArgs[i].nShort = static_cast<int16_t>(std::strtol(pszToken, nullptr, 10));
        break;
      case ARG_LONG:
        pArgs[i].nLong = static_cast<int32_t>(std::strtol(pszToken, nullptr, 10));
        break;
      case ARG_FLOAT:
        pArgs[i].fFloat = std::strtof(pszToken, nullptr);
        break;
      case ARG_DOUBLE:
        pArgs[i].dDouble = std::strtod(pszToken, nullptr);
        break;
      case ARG_STRING:
        pArgs[i].pszString = DecodeParameter(pszToken);
        break;
      default:
        return DISPATCH_ARG_COUNT;
    }
  }
  if (pszArgTypes[i] != '\0' && pszArgTypes[i] != ARG_END) return DISPATCH_ARG_COUNT;
  if (*pNext != '\0') return DISPATCH_ARG_COUNT;
  return DISPATCH_DONE;
}

char* CServerExtension::DecodeParameter(char* pszText) {
  const char* pRead = pszText;
  char* pWrite = pszText;
  while (*pRead != '\0') {
    if (*pRead == '+') {
      *pWrite++ = ' ';
      ++pRead;
    } else if (*pRead != '%') {
      *pWrite++ = *pRead++;
    } else if (pRead[1] == '\0' || pRead[2] == '\0') {
      *pWrite++ = '?';  // an escape cut off by the end ends the text
      break;
    } else {
      int nHigh = HexValue(pRead[1]);
      int nLow = HexValue(pRead[2]);
      if (nHigh < 0) {
        *pWrite++ = '?';
        pRead += 2;
      } else if (nLow < 0) {
        *pWrite++ = '?';
        pRead += 3;
      } else {
        char ch = static_cast<char>(nHigh * 16 + nLow);
        if (ch == '\0') break;  // a decoded 0 byte ends the text
        *pWrite++ = ch;
        pRead += 3;
      }
    }
  }
  *pWrite = '\0';
  return pszText;
}
