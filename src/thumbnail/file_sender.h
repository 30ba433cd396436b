// The client file sender: writes one file's bytes to the client of the current request.
#pragma once

#include <string>

class CRequestContext;

// Writes the whole file at `path`, unchanged, through the request block's WriteClient in pieces
// of at most 1,024 bytes. Stops when every byte is taken, when a write fails, or after 100 writes
// in a row that take nothing. A file that cannot be opened (missing, held by another opener) is
// not sent. Throws CFileException when the file's length or contents cannot be read and
// CMemoryException when no buffer can be had; the file is closed on every path.
void SendFileToClient(const std::string& path, CRequestContext* pCtxt);
