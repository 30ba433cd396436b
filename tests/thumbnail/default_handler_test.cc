// The thumbnail command through the exported entry point, with the imaging library faked so that
// saves can fail, thumbnails can be large and sending can raise a file error.
#include <gtest/gtest.h>

#include "fake_rasterkit.h"
#include "fake_server.h"
#include "isapi.h"
#include "temp_dir.h"

namespace {

const char kQuery[] = "120:90;JPG:75;%2Fimages%2Fphoto.jpg;";

fake_rasterkit::Script Photo() {
  fake_rasterkit::Script script;
  script.images["/images/photo.jpg"] = {400, 300, 24};
  return script;
}

TEST(DefaultHandlerTest, AThumbnailOf300KBReachesTheClientWholeBeforeThe200Header) {
  ScopedTempDir tmp;
  fake_rasterkit::Script script = Photo();
  script.save_bytes = 300000;
  fake_rasterkit::Reset(script);
  CFakeServer server("GET", kQuery);
  EXPECT_EQ(HttpExtensionProc(server.Ecb()), HSE_STATUS_SUCCESS);
  WIRE_RESPONSE wire = server.Wire();
  EXPECT_EQ(wire.strStatusLine, "200 OK");
  EXPECT_EQ(wire.strBody.size(), 300000u);
  EXPECT_EQ(server.Calls().back().nKind, FAKE_CALL::HEADER);
  EXPECT_FALSE(server.Calls().back().bHeaderText);
  EXPECT_TRUE(tmp.Entries().empty());
}

struct FailureCase {
  const char* name;
  const char* query;
  bool save_succeeds;
  size_t save_bytes;
  const char* status_line;
  const char* page_text;
};

class DefaultHandlerFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(DefaultHandlerFailureTest, AnswersWithAPageAndLeavesNoTemporaryFile) {
  const FailureCase& c = GetParam();
  ScopedTempDir tmp;
  fake_rasterkit::Script script = Photo();
  script.save_succeeds = c.save_succeeds;
  script.save_bytes = c.save_bytes;
  fake_rasterkit::Reset(script);
  CFakeServer server("GET", c.query);
  HttpExtensionProc(server.Ecb());
  WIRE_RESPONSE wire = server.Wire();
  EXPECT_EQ(wire.strStatusLine, c.status_line);
  EXPECT_NE(wire.strHeaders.find("Content-Type: text/html"), std::string::npos);
  EXPECT_NE(wire.strBody.find(c.page_text), std::string::npos) << wire.strBody;
  EXPECT_TRUE(tmp.Entries().empty());
  EXPECT_EQ(fake_rasterkit::LiveHandles(), 0);
}

// A thumbnail over 4 GiB (a sparse file) cannot be read into one buffer: a file error while
// sending, which the frame answers with 500 after the files are removed.
INSTANTIATE_TEST_SUITE_P(
    Failures, DefaultHandlerFailureTest,
    ::testing::Values(FailureCase{"ImageNotLoaded", "120:90;JPG:75;%2Fimages%2Fmissing.jpg;", true,
                                  16, "404 Not Found", "<H1>NOT FOUND</H1>"},
                      FailureCase{"PathWithoutItsSeparator", "120:90;JPG:75;%2Fimages%2Fphoto.jpg",
                                  true, 16, "404 Not Found", "<H1>NOT FOUND</H1>"},
                      FailureCase{"SaveFailed", kQuery, false, 0, "500 Internal Server Error",
                                  "<H1>SERVER ERROR</H1>"},
                      FailureCase{"FileErrorWhileSending", kQuery, true, size_t{5} << 30,
                                  "500 Internal Server Error", "<H1>SERVER ERROR</H1>"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
