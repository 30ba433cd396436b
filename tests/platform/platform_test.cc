// Tests of the platform stand-ins: temporary files, the find-first, CFile's lock, strings.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <string>

#include "afx.h"
#include "winapi.h"

namespace {

// A private directory for one test, removed with what it holds.
class CTempDir {
 public:
  CTempDir() {
    char szTemplate[] = "/tmp/parvix-platform-XXXXXX";
    m_strPath = mkdtemp(szTemplate);
  }
  ~CTempDir() {
    std::string strCmd = "rm -rf '" + m_strPath + "'";
    EXPECT_EQ(std::system(strCmd.c_str()), 0);
  }
  const std::string& Path() const { return m_strPath; }

 private:
  std::string m_strPath;
};

// Sets an environment variable for one scope.
class CScopedEnv {
 public:
  CScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName) {
    if (const char* pszOld = getenv(pszName)) m_strOld = pszOld, m_bHadOld = true;
    if (pszValue != nullptr)
      setenv(pszName, pszValue, 1);
    else
      unsetenv(pszName);
  }
  ~CScopedEnv() {
    if (m_bHadOld)
      setenv(m_strName.c_str(), m_strOld.c_str(), 1);
    else
      unsetenv(m_strName.c_str());
  }

 private:
  std::string m_strName, m_strOld;
  bool m_bHadOld = false;
};

std::string TempPath() {
  char szPath[MAX_PATH];
  EXPECT_GT(GetTempPathA(MAX_PATH, szPath), 0u);
  return szPath;
}

TEST(GetTempPathA, FollowsTmpdirWhenItNamesADirectoryElseTmp) {
  CTempDir dir;
  std::string strSlashed = dir.Path() + "/";
  struct Case {
    const char* pszTmpdir;
    std::string strExpected;
  } cases[] = {
      {dir.Path().c_str(), strSlashed},
      {strSlashed.c_str(), strSlashed},
      {"/nonexistent/parvix", "/tmp/"},
      {"", "/tmp/"},
      {nullptr, "/tmp/"},
  };
  for (const Case& c : cases) {
    CScopedEnv env("TMPDIR", c.pszTmpdir);
    EXPECT_EQ(TempPath(), c.strExpected) << (c.pszTmpdir ? c.pszTmpdir : "(unset)");
  }
}

TEST(GetTempPathA, ReportsTheSizeNeededAndLeavesASmallBufferAlone) {
  CScopedEnv env("TMPDIR", nullptr);
  char szSmall[4] = "abc";
  EXPECT_EQ(GetTempPathA(sizeof szSmall, szSmall), 6u);  // "/tmp/" and its terminator
  EXPECT_STREQ(szSmall, "abc");
  char szExact[6];
  EXPECT_EQ(GetTempPathA(sizeof szExact, szExact), 5u);
  EXPECT_STREQ(szExact, "/tmp/");
}

TEST(GetTempFileNameA, CreatesUniqueEmptyPrivateFilesNamedFromThreePrefixChars) {
  CTempDir dir;
  std::set<std::string> names;
  for (int i = 0; i < 200; ++i) {
    char szName[MAX_PATH];
    UINT n = GetTempFileNameA(dir.Path().c_str(), "Parvix", 0, szName);
    ASSERT_NE(n, 0u);
    std::string strName = szName;
    char szHex[16];
    snprintf(szHex, sizeof szHex, "%X", n);
    EXPECT_EQ(strName, dir.Path() + "/Par" + szHex + ".tmp");
    struct stat st;
    ASSERT_EQ(lstat(szName, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(names.insert(strName).second) << "name handed out twice: " << strName;
  }
}

TEST(GetTempFileNameA, WritesIntoTheDirectoryBufferItself) {
  CTempDir dir;
  char szBuffer[MAX_PATH];
  snprintf(szBuffer, sizeof szBuffer, "%s/", dir.Path().c_str());
  ASSERT_NE(GetTempFileNameA(szBuffer, "ab", 0, szBuffer), 0u);
  EXPECT_EQ(std::string(szBuffer).rfind(dir.Path() + "/ab", 0), 0u);
}

TEST(GetTempFileNameA, MakesOnlyTheNameForACallersNumber) {
  CTempDir dir;
  char szName[MAX_PATH];
  ASSERT_EQ(GetTempFileNameA(dir.Path().c_str(), "Px", 0xBEEF, szName), 0xBEEFu);
  EXPECT_EQ(std::string(szName), dir.Path() + "/PxBEEF.tmp");
  EXPECT_NE(access(szName, F_OK), 0);
}

TEST(GetTempFileNameA, StepsPastAnExistingNameWithoutOpeningIt) {
  CTempDir dir;
  char szName[MAX_PATH];
  UINT n = GetTempFileNameA(dir.Path().c_str(), "Par", 0, szName);
  ASSERT_NE(n, 0u);
  // Plant a file and a link at the next two names: both are passed over, neither is touched.
  char szPlanted[MAX_PATH];
  ASSERT_EQ(GetTempFileNameA(dir.Path().c_str(), "Par", n + 1, szPlanted), n + 1);
  int fd = open(szPlanted, O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(write(fd, "kept", 4), 4);
  close(fd);
  std::string strPlantedFile = szPlanted;
  std::string strTarget = dir.Path() + "/target";
  ASSERT_EQ(GetTempFileNameA(dir.Path().c_str(), "Par", n + 2, szPlanted), n + 2);
  ASSERT_EQ(symlink(strTarget.c_str(), szPlanted), 0);
  EXPECT_EQ(GetTempFileNameA(dir.Path().c_str(), "Par", 0, szName), n + 3);
  EXPECT_NE(access(strTarget.c_str(), F_OK), 0) << "followed the planted link";
  struct stat st;
  ASSERT_EQ(stat(strPlantedFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 4) << "truncated the planted file";
}

TEST(GetTempFileNameA, FailsInAMissingDirectoryOrForATooLongPath) {
  char szName[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("/nonexistent/parvix", "Par", 0, szName), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
  std::string strLong(MAX_PATH, 'd');
  EXPECT_EQ(GetTempFileNameA(strLong.c_str(), "Par", 0, szName), 0u);
}

TEST(DeleteFileA, RemovesAFileAndFailsForAMissingOne) {
  CTempDir dir;
  char szName[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(dir.Path().c_str(), "Par", 0, szName), 0u);
  EXPECT_TRUE(DeleteFileA(szName));
  EXPECT_FALSE(DeleteFileA(szName));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
}

TEST(CFileFind, FindsExistingFilesAndDirectoriesOnly) {
  CTempDir dir;
  std::string strFile = dir.Path() + "/present.jpg";
  close(open(strFile.c_str(), O_WRONLY | O_CREAT, 0600));
  CFileFind finder;
  EXPECT_TRUE(finder.FindFile(strFile.c_str()));
  EXPECT_TRUE(finder.FindFile(dir.Path().c_str()));
  EXPECT_FALSE(finder.FindFile((dir.Path() + "/absent.jpg").c_str()));
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(strFile.c_str(), &data);
  ASSERT_NE(hFind, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "present.jpg");
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(FindClose(hFind));
}

TEST(CFile, ReadsAWholeFileAndKnowsItsLength) {
  CTempDir dir;
  std::string strFile = dir.Path() + "/data";
  int fd = open(strFile.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_EQ(write(fd, "0123456789", 10), 10);
  close(fd);
  CFile file;
  ASSERT_TRUE(file.Open(strFile.c_str(), CFile::modeRead | CFile::shareExclusive));
  EXPECT_EQ(file.GetLength(), 10u);
  char szBuffer[16] = {};
  EXPECT_EQ(file.Read(szBuffer, 4), 4u);
  EXPECT_EQ(file.Read(szBuffer + 4, 12), 6u);
  EXPECT_STREQ(szBuffer, "0123456789");
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_THROW(file.Read(szBuffer, 1), CFileException);
}

TEST(CFile, ASecondOpenerFailsWhileTheFirstHoldsTheFile) {
  CTempDir dir;
  std::string strFile = dir.Path() + "/locked";
  close(open(strFile.c_str(), O_WRONLY | O_CREAT, 0600));
  CFile first;
  ASSERT_TRUE(first.Open(strFile.c_str(), CFile::modeRead | CFile::shareExclusive));
  CFile second;
  CFileException error;
  EXPECT_FALSE(second.Open(strFile.c_str(), CFile::modeRead | CFile::shareExclusive, &error));
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
  first.Close();
  EXPECT_TRUE(second.Open(strFile.c_str(), CFile::modeRead | CFile::shareExclusive));
}

TEST(CFile, RefusesMissingFilesDirectoriesAndFifos) {
  CTempDir dir;
  std::string strFifo = dir.Path() + "/fifo";
  ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
  struct Case {
    std::string strPath;
    int nCause;
  } cases[] = {
      {dir.Path() + "/missing", CFileException::fileNotFound},
      {dir.Path(), CFileException::accessDenied},
      {strFifo, CFileException::accessDenied},
  };
  for (const Case& c : cases) {
    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(c.strPath.c_str(), CFile::modeRead, &error)) << c.strPath;
    EXPECT_EQ(error.m_cause, c.nCause) << c.strPath;
    EXPECT_EQ(error.m_strFileName, c.strPath);
  }
}

TEST(Exceptions, ThrowTheClassLibrarysTypes) {
  EXPECT_THROW(AfxThrowMemoryException(), CMemoryException);
  try {
    AfxThrowFileException(CFileException::endOfFile, 5, "f");
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::endOfFile);
    EXPECT_EQ(e.m_lOsError, 5);
    EXPECT_EQ(e.m_strFileName, "f");
  }
}

TEST(LoadStringA, CopiesTheStringCutToTheBufferAndTerminated) {
  struct Case {
    UINT nID;
    int cchBuffer;
    int nExpected;
    const char* pszExpected;
  } cases[] = {
      {102, 256, 16, "Parvix Extension"},
      {102, 17, 16, "Parvix Extension"},
      {102, 7, 6, "Parvix"},
      {102, 1, 0, ""},
      {62161, 256, 41, "<HEAD><TITLE>HTTP Error %d</TITLE></HEAD>"},
      {103, 256, 0, ""},
  };
  for (const Case& c : cases) {
    char szBuffer[260];
    memset(szBuffer, 'X', sizeof szBuffer);
    EXPECT_EQ(LoadStringA(nullptr, c.nID, szBuffer, c.cchBuffer), c.nExpected) << c.nID;
    EXPECT_STREQ(szBuffer, c.pszExpected) << c.nID << " in " << c.cchBuffer;
    EXPECT_EQ(szBuffer[c.cchBuffer], 'X') << "wrote past the buffer";
  }
  char cUntouched = 'X';
  EXPECT_EQ(LoadStringA(AfxGetResourceHandle(), 102, &cUntouched, 0), 0);
  EXPECT_EQ(cUntouched, 'X');
}

TEST(LastError, IsTheThreadsErrno) {
  SetLastError(10054);
  EXPECT_EQ(errno, 10054);
  errno = 2;
  EXPECT_EQ(GetLastError(), 2u);
}

TEST(SetErrorMode, KeepsTheFlagsAndReturnsThePreviousOnes) {
  UINT nOld = SetErrorMode(SEM_FAILCRITICALERRORS);
  EXPECT_EQ(SetErrorMode(nOld), SEM_FAILCRITICALERRORS);
}

}  // namespace
