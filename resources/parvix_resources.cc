// The library's resources: its string table and its version block.
#include "resource_table.h"

namespace {

// Sorted by id; every text is used whole.
constexpr RESOURCE_STRING kStrings[] = {
    {102, "Parvix Extension"},
    {62161, "<HEAD><TITLE>HTTP Error %d</TITLE></HEAD>"},
    {62162, "<BODY><H1>HTTP Error %d: No message available</H1></BODY>\r\n"},
    {62163,
     "<BODY><H1>BAD REQUEST</H1><P>Your client sent a request that this server didn't "
     "understand.<br>Request: %s\r\n"},
    {62164,
     "<BODY><H1>AUTH REQUIRED</H1><P>Browser not authentication-capable or authentication "
     "failed.</BODY>\r\n"},
    {62165,
     "<BODY><H1>FORBIDDEN</H1><P>Your client does not have permission to get this URL from the "
     "server.</BODY>\r\n"},
    {62166,
     "<BODY><H1>NOT FOUND</H1><P>The requested URL was not found on this server.</BODY>\r\n"},
    {62167,
     "<BODY><H1>SERVER ERROR</H1>The server encountered an internal error or misconfiguration "
     "and was unable to complete your request.</BODY>\r\n"},
    {62168,
     "<BODY><H1>NOT IMPLEMENTED</H1>The server is unable to perform the method <b>%s</b> at "
     "this time.</BODY>\r\n"},
};

}  // namespace

const RESOURCE_MODULE g_resParvixModule = {kStrings, sizeof kStrings / sizeof kStrings[0]};

// The version block, as key=value texts in a section of its own so that tools outside the
// process (readelf -p .parvix.version) can read it. It lives in the same object as the string
// table, so every library that can load strings carries it.
[[gnu::used, gnu::section(".parvix.version")]] extern const char g_szParvixVersionBlock[] =
    "FileDescription=Parvix Internet Server Extension Module\0"
    "ProductName=Parvix Internet Server Extension\0"
    "FileVersion=" PARVIX_VERSION_TEXT
    "\0"
    "ProductVersion=" PARVIX_VERSION_TEXT;
