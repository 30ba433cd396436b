// The client file sender: one buffer, synchronous writes of at most 1,024 bytes.
#include "file_sender.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "afx.h"
#include "isapi.h"
#include "request_context.h"

namespace {

constexpr DWORD kPieceSize = 1024;
// A server that takes nothing this many times in a row is not going to take the rest.
constexpr int kMaxIdleWrites = 100;

}  // namespace

void SendFileToClient(const std::string& path, CRequestContext* pCtxt) {
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareExclusive | CFile::typeBinary)) {
    return;
  }
  uint64_t cbFile = file.GetLength();
  if (cbFile > std::numeric_limits<UINT>::max()) {
    AfxThrowFileException(CFileException::genericException, 0, path);
  }
  auto cbLength = static_cast<DWORD>(cbFile);
  std::unique_ptr<unsigned char[]> pBuffer(
      new (std::nothrow) unsigned char[cbLength ? cbLength : 1]);
  if (!pBuffer) AfxThrowMemoryException();
  // Only bytes that were actually read are sent.
  DWORD cbRemaining = cbLength == 0 ? 0 : file.Read(pBuffer.get(), cbLength);

  EXTENSION_CONTROL_BLOCK* pECB = pCtxt->m_pRequestBlock;
  unsigned char* pPosition = pBuffer.get();
  int nIdleWrites = 0;
  while (cbRemaining > 0 && nIdleWrites < kMaxIdleWrites) {
    DWORD cbOffered = cbRemaining > kPieceSize ? kPieceSize : cbRemaining;
    DWORD cbTaken = cbOffered;
    if (!pECB->WriteClient(pECB->ConnID, pPosition, &cbTaken, 0)) break;
    if (cbTaken > cbOffered) cbTaken = cbOffered;  // a server cannot take more than it was given
    nIdleWrites = cbTaken == 0 ? nIdleWrites + 1 : 0;
    cbRemaining -= cbTaken;
    pPosition += cbTaken;
  }
  pBuffer.reset();
  file.Close();
}
