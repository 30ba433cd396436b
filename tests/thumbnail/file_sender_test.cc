// The client file sender through the fake server: pieces, whole files, stingy and failing servers.
#include "file_sender.h"

#include <gtest/gtest.h>

#include <fstream>

#include "afx.h"
#include "fake_server.h"
#include "request_context.h"
#include "temp_dir.h"

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xff);
  return bytes;
}

std::string WriteFile(const ScopedTempDir& dir, size_t size) {
  std::string path = dir.path() + "/thumb.jpg";
  std::ofstream(path, std::ios::binary) << Pattern(size);
  return path;
}

// Sends the file and returns what the server took, with the number of writes.
struct Sent {
  std::string bytes;
  size_t writes = 0;
  std::vector<DWORD> offered;
};

Sent Send(const std::string& path, CFakeServer& server) {
  CRequestContext ctxt(server.Ecb());
  SendFileToClient(path, &ctxt);
  Sent sent;
  for (const FAKE_CALL& call : server.CallsOf(FAKE_CALL::WRITE)) {
    sent.bytes += call.strBytes;
    sent.offered.push_back(call.cbOffered);
    EXPECT_EQ(call.dwFlags, 0u);
    ++sent.writes;
  }
  return sent;
}

TEST(FileSenderTest, SendsWholeFilesInPiecesOfAtMost1024Bytes) {
  struct Case {
    size_t size;
    size_t writes;
  };
  // 102,401 bytes once lost their last byte to a limit of 100 writes; now every byte arrives.
  const Case cases[] = {{0, 0},        {1, 1},        {1024, 1},    {1025, 2},
                        {102400, 100}, {102401, 101}, {300000, 293}};
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::string path = WriteFile(dir, c.size);
    CFakeServer server("GET", "");
    Sent sent = Send(path, server);
    EXPECT_EQ(sent.writes, c.writes) << c.size;
    EXPECT_TRUE(sent.bytes == Pattern(c.size)) << c.size;
    for (DWORD offered : sent.offered) EXPECT_LE(offered, 1024u);
  }
}

TEST(FileSenderTest, AServerThatTakesLessGetsTheRestFromTheFirstByteNotTaken) {
  ScopedTempDir dir;
  std::string path = WriteFile(dir, 2048);
  CFakeServer server("GET", "");
  server.ScriptWrites({{1, 1000}, {1, 10}, {1, 0}});
  Sent sent = Send(path, server);
  EXPECT_TRUE(sent.bytes == Pattern(2048));
  EXPECT_EQ(sent.offered, (std::vector<DWORD>{1024, 1024, 1024, 1024, 14}));
}

TEST(FileSenderTest, StopsAfter100WritesInARowThatTakeNothing) {
  ScopedTempDir dir;
  std::string path = WriteFile(dir, 5000);
  CFakeServer server("GET", "");
  server.ScriptWrites(std::vector<FAKE_STEP>(150, FAKE_STEP{1, 0}));
  Sent sent = Send(path, server);
  EXPECT_EQ(sent.writes, 100u);
  EXPECT_EQ(sent.bytes, "");
}

TEST(FileSenderTest, StopsAtAFailedWrite) {
  ScopedTempDir dir;
  std::string path = WriteFile(dir, 5000);
  CFakeServer server("GET", "");
  server.ScriptWrites({{1, FAKE_STEP::kAll}, {0, 0}});
  Sent sent = Send(path, server);
  EXPECT_EQ(sent.writes, 2u);
  EXPECT_TRUE(sent.bytes == Pattern(1024));
}

TEST(FileSenderTest, AFileThatCannotBeOpenedSendsNothing) {
  ScopedTempDir dir;
  std::string path = WriteFile(dir, 100);
  {
    CFakeServer server("GET", "");
    EXPECT_EQ(Send(dir.path() + "/missing.jpg", server).writes, 0u);
  }
  CFile holder;
  ASSERT_TRUE(holder.Open(path.c_str(), CFile::modeRead | CFile::shareExclusive));
  CFakeServer server("GET", "");
  EXPECT_EQ(Send(path, server).writes, 0u);
  holder.Close();
  CFakeServer again("GET", "");
  EXPECT_EQ(Send(path, again).writes, 1u) << "the sender closes the file it opened";
}

}  // namespace
