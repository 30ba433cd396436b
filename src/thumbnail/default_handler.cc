// The thumbnail request handler: the extension's one command, Default.
#include "afx.h"
#include "field_cutter.h"
#include "file_sender.h"
#include "parvix_extension.h"
#include "request_context.h"
#include "thumbnail_maker.h"
#include "winapi.h"

namespace {

// Deletes a request's temporary files when the handler leaves, on every path: after a send, when
// the save left no thumbnail, and when an error passes on its way to the frame.
class CTemporaryFiles {
 public:
  CTemporaryFiles(const std::string& strThumbnail, const std::string& strPlaceholder)
      : m_strThumbnail(strThumbnail), m_strPlaceholder(strPlaceholder) {}
  CTemporaryFiles(const CTemporaryFiles&) = delete;
  CTemporaryFiles& operator=(const CTemporaryFiles&) = delete;
  ~CTemporaryFiles() {
    if (!m_strThumbnail.empty()) DeleteFileA(m_strThumbnail.c_str());
    if (!m_strPlaceholder.empty()) DeleteFileA(m_strPlaceholder.c_str());
  }

 private:
  const std::string& m_strThumbnail;
  const std::string& m_strPlaceholder;
};

}  // namespace

void CParvixExtension::Default(CRequestContext* pCtxt, char* pszParam) {
  THUMBNAIL_FIELDS fields = CutThumbnailFields(pszParam);
  std::string strPlaceholder;
  std::string strThumbnail = MakeThumbnail(fields.strWidth, fields.strHeight, fields.strFormat,
                                           fields.strQuality, fields.strImagePath, strPlaceholder);
  CTemporaryFiles temporaries(strThumbnail, strPlaceholder);

  CFileFind finder;
  if (!strThumbnail.empty() && finder.FindFile(strThumbnail.c_str())) {
    SendFileToClient(strThumbnail, pCtxt);
    finder.Close();
    return;
  }

  // No thumbnail: an image that could not be loaded is not found; one that loaded but left no
  // file is the server's failure. Either way the client gets the page, not an empty success.
  pCtxt->m_pRequestBlock->dwHttpStatusCode = strThumbnail.empty() ? 404 : 500;
  ReportParseError(pCtxt, DISPATCH_DONE);
}
