// An extension library whose behaviour the request's query text chooses, for the host's tests:
// each mode exercises one way an extension may use (or misuse) the request block.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/isapi.h"

namespace {

bool Write(EXTENSION_CONTROL_BLOCK* block, const std::string& text) {
  DWORD size = static_cast<DWORD>(text.size());
  return block->WriteClient(block->ConnID, const_cast<char*>(text.data()), &size, 0) != 0;
}

bool Header(EXTENSION_CONTROL_BLOCK* block, const char* status, const char* headers) {
  DWORD size = static_cast<DWORD>(std::strlen(status));
  return block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
                                      const_cast<char*>(status), &size,
                                      reinterpret_cast<LPDWORD>(const_cast<char*>(headers))) != 0;
}

// The text after "mode:" in the query, or empty.
std::string Argument(const std::string& query) {
  size_t colon = query.find(':');
  return colon == std::string::npos ? "" : query.substr(colon + 1);
}

DWORD Echo(EXTENSION_CONTROL_BLOCK* block) {
  std::string body(reinterpret_cast<char*>(block->lpbData), block->cbAvailable);
  std::string read_result = "ok";
  while (body.size() < block->cbTotalBytes) {
    char buffer[7000];
    DWORD size = sizeof buffer;
    if (!block->ReadClient(block->ConnID, buffer, &size) || size == 0) {
      read_result = "failed";
      break;
    }
    body.append(buffer, size);
  }
  char line[512];
  std::snprintf(line, sizeof line, "method=%s query=%s path=%s type=%s total=%u avail=%u read=%s\n",
                block->lpszMethod, block->lpszQueryString, block->lpszPathInfo,
                block->lpszContentType, block->cbTotalBytes, block->cbAvailable,
                read_result.c_str());
  Header(block, "200 OK", "Content-Type: text/plain\r\n\r\n");
  Write(block, line);
  Write(block, body);
  return HSE_STATUS_SUCCESS;
}

// Writes 1 KiB pieces with a pause between them; records in FILE how the writing ended.
DWORD Drip(EXTENSION_CONTROL_BLOCK* block, const std::string& argument) {
  int pieces = 0, pause_ms = 0;
  char file[256] = "";
  if (std::sscanf(argument.c_str(), "%d:%d:%255s", &pieces, &pause_ms, file) != 3) {
    return HSE_STATUS_ERROR;
  }
  std::string outcome = "ok";
  std::string piece(1024, 'd');
  for (int i = 0; i < pieces; ++i) {
    if (!Write(block, piece)) {
      int error = errno;
      outcome = "failed " + std::to_string(error) + " after " + std::to_string(i);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
  }
  if (outcome == "ok" && !Header(block, "200 OK", nullptr)) {
    outcome = "header failed " + std::to_string(errno);
  }
  if (FILE* f = std::fopen(file, "w")) {
    std::fputs(outcome.c_str(), f);
    std::fclose(f);
  }
  return HSE_STATUS_SUCCESS;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) BOOL GetExtensionVersion(HSE_VERSION_INFO* info) {
  info->dwExtensionVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  std::snprintf(info->lpszExtensionDesc, sizeof info->lpszExtensionDesc, "Host Test Extension");
  return 1;
}

extern "C" __attribute__((visibility("default"))) DWORD HttpExtensionProc(
    EXTENSION_CONTROL_BLOCK* block) {
  std::string query = block->lpszQueryString;
  std::string mode = query.substr(0, query.find(':'));
  std::string argument = Argument(query);
  if (mode == "echo") return Echo(block);
  if (mode == "early") {  // bytes before the header start the body
    Write(block, "early-");
    Header(block, "200 OK", "X-Mode: early\r\n\r\n");
    Write(block, "late");
  } else if (mode == "split") {  // header lines continue in the next writes
    Header(block, "201 Created", "X-A: 1\r\n");
    Write(block, "X-B: 2\r\n");
    Write(block, "\r\nbody");
  } else if (mode == "twice") {
    Header(block, "202 Accepted", "X-First: 1\r\n\r\n");
    bool second = Header(block, "404 Not Found", "X-Second: 1\r\n\r\n");
    Write(block, second ? "second-accepted" : "second-refused");
  } else if (mode == "error") {
    Header(block, "500 Internal Server Error", "Content-Type: text/plain\r\n\r\n");
    Write(block, "failed");
    return HSE_STATUS_ERROR;
  } else if (mode == "sniff") {  // no Content-Type: the host finds one from the bytes
    static const struct {
      const char* name;
      const char* bytes;
      size_t size;
    } kMagic[] = {{"jpeg", "\xFF\xD8\xFF\xE0rest", 8},
                  {"gif", "GIF89a....", 10},
                  {"png", "\x89PNG\r\n\x1A\n....", 12},
                  {"other", "plain words", 11}};
    for (const auto& magic : kMagic) {
      if (argument == magic.name) Write(block, std::string(magic.bytes, magic.size));
    }
    Header(block, "200 OK", nullptr);
  } else if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument.c_str())));
    Header(block, "200 OK", "Content-Type: text/plain\r\n\r\n");
    Write(block, "slept " + argument);
  } else if (mode == "drip") {
    return Drip(block, argument);
  } else if (mode == "tmpdir") {  // the temporary folder the host gave the extension
    const char* tmp = std::getenv("TMPDIR");
    struct stat st {};
    std::string text = tmp ? tmp : "(none)";
    if (tmp != nullptr && stat(tmp, &st) == 0) {
      char mode_text[16];
      std::snprintf(mode_text, sizeof mode_text, " %o", st.st_mode & 0777);
      text += mode_text;
    }
    Header(block, "200 OK", "Content-Type: text/plain\r\n\r\n");
    Write(block, text);
  } else if (mode == "var") {
    char value[256];
    DWORD size = sizeof value;
    std::string name = argument;
    bool ok = block->GetServerVariable(block->ConnID, name.data(), value, &size) != 0;
    Header(block, "200 OK", "Content-Type: text/plain\r\n\r\n");
    Write(block, ok ? std::string(value) : "missing " + std::to_string(errno));
  } else if (mode == "status") {  // no header request at all
    block->dwHttpStatusCode = static_cast<DWORD>(std::atoi(argument.c_str()));
    Write(block, "status only");
  } else {
    Header(block, "400 Bad Request", "Content-Type: text/plain\r\n\r\n");
    Write(block, "unknown mode");
    return HSE_STATUS_ERROR;
  }
  return HSE_STATUS_SUCCESS;
}
