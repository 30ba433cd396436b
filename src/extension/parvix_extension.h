// CParvixExtension: the system's extension class, with its one command, Default.
#pragma once

#include "server_extension.h"

class CParvixExtension : public CServerExtension {
 public:
  // Registers the object as the process's extension object, with the separator "&".
  CParvixExtension();
  ~CParvixExtension() override;

  // Interface version 2.0 and the description of string 102, "Parvix Extension". Always true.
  BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) override;
  // The table that makes Default both the named and the default command.
  const COMMAND_MAP* GetCommandMap() override;

  // The thumbnail command: `pszParam` is the decoded parameter text, which lies in the
  // request's own text and is valid for the length of the call.
  void Default(CRequestContext* pCtxt, char* pszParam);

 private:
  static const COMMAND_MAP s_commandMap;
};
