// A fake web server for tests: fills in a request block and records every callback in order.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "isapi.h"

// One callback the extension made, in the order made.
struct FAKE_CALL {
  enum Kind { WRITE, HEADER, READ };
  Kind nKind;
  BOOL bResult;
  std::string strBytes;    // WRITE: the bytes taken; HEADER: the status line
  std::string strHeaders;  // HEADER: the header text ("" when none was passed)
  bool bHeaderText;        // HEADER: whether header text was passed at all
  DWORD cbOffered;         // WRITE: bytes offered; READ: bytes asked for
  DWORD cbDone;            // WRITE: bytes reported taken; READ: bytes delivered
  DWORD dwFlags;           // WRITE: the flags argument
};

// What the client would see: writes before the header request start the body; the header
// text and the bytes after it form the header block up to its blank line, the rest is body.
struct WIRE_RESPONSE {
  DWORD dwStatus = 0;         // the status line's code, 0 when no header request came
  std::string strStatusLine;  // for example "400 Bad Request"
  std::string strHeaders;     // header lines, each ending in "\r\n", without the blank line
  std::string strBody;
  int cHeaderRequests = 0;
};

// A scripted answer to one WriteClient or ReadClient call.
struct FAKE_STEP {
  BOOL bResult;
  DWORD
      cb;  // WRITE: bytes taken (kAll: every byte offered); READ: bytes delivered (kAll: as asked)
  static constexpr DWORD kAll = ~DWORD{0};
};

// One request and the server side of its connection. Not copyable; the request block points
// into the object. Each object may be used on its own thread.
class CFakeServer {
 public:
  // `cbAvailable` is how much of the body the server has read ahead (kAll: the whole body).
  CFakeServer(const char* pszMethod, const char* pszQuery, const std::string& strBody = {},
              DWORD cbAvailable = FAKE_STEP::kAll, const char* pszPathInfo = "");
  CFakeServer(const CFakeServer&) = delete;
  CFakeServer& operator=(const CFakeServer&) = delete;

  EXTENSION_CONTROL_BLOCK* Ecb() { return &m_ecb; }

  // Makes every header request fail with `dwLastError` as the thread's last error.
  void FailHeader(DWORD dwLastError);
  // Answers the next WriteClient calls as scripted; later calls take every byte.
  void ScriptWrites(std::vector<FAKE_STEP> steps) { m_writes.assign(steps.begin(), steps.end()); }
  // Answers the next ReadClient calls as scripted; later calls deliver what is asked, as far
  // as the body goes (and then report success with 0 bytes).
  void ScriptReads(std::vector<FAKE_STEP> steps) { m_reads.assign(steps.begin(), steps.end()); }
  // Declares a body size other than the body's own.
  void DeclareBodySize(DWORD cbTotal) { m_ecb.cbTotalBytes = cbTotal; }

  const std::vector<FAKE_CALL>& Calls() const { return m_calls; }
  // The calls of one kind, in order.
  std::vector<FAKE_CALL> CallsOf(FAKE_CALL::Kind nKind) const;
  WIRE_RESPONSE Wire() const;
  // The query text as the extension left it (it may write terminators into it).
  std::string QueryNow() const { return m_query.empty() ? std::string() : m_query.data(); }

 private:
  static BOOL WriteClient(HCONN hConn, LPVOID pBuffer, LPDWORD pcb, DWORD dwFlags);
  static BOOL ReadClient(HCONN hConn, LPVOID pBuffer, LPDWORD pcb);
  static BOOL ServerSupportFunction(HCONN hConn, DWORD dwRequest, LPVOID pBuffer, LPDWORD pcb,
                                    LPDWORD pDataType);
  static BOOL GetServerVariable(HCONN hConn, LPSTR pszName, LPVOID pBuffer, LPDWORD pcb);

  EXTENSION_CONTROL_BLOCK m_ecb{};
  std::vector<char> m_method, m_query, m_pathInfo, m_empty;
  std::string m_strBody;
  size_t m_cbDelivered = 0;  // body bytes handed over so far (read-ahead included)
  bool m_bFailHeader = false;
  DWORD m_dwHeaderError = 0;
  std::deque<FAKE_STEP> m_writes, m_reads;
  std::vector<FAKE_CALL> m_calls;
};
