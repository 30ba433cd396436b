// CRequestContext: everything the frame and a command hold for one request.
#pragma once

#include <memory>

#include "isapi.h"
#include "output_stream.h"

// Made by the frame on entry to HttpExtensionProc and destroyed before it returns; a handler's
// pointer to it is valid only during the handler's call.
class CRequestContext {
 public:
  explicit CRequestContext(EXTENSION_CONTROL_BLOCK* pRequestBlock)
      : m_pRequestBlock(pRequestBlock) {}
  CRequestContext(const CRequestContext&) = delete;
  CRequestContext& operator=(const CRequestContext&) = delete;
  virtual ~CRequestContext() = default;

  // Empties the output stream (if any); m_cbHeaders is left as it is.
  void Clear() {
    if (m_pOutput != nullptr) m_pOutput->Clear();
  }

  // The server's request block: ConnID, WriteClient, dwHttpStatusCode and the request's texts.
  EXTENSION_CONTROL_BLOCK* m_pRequestBlock;
  // The frame's page buffer, sent after the command returns; null until dispatch makes it.
  std::unique_ptr<COutputStream> m_pOutput;
  // How many leading bytes of m_pOutput are header lines.
  DWORD m_cbHeaders = 0;
};
