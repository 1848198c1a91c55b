#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "tests/support/platform_contract.h"
#include "tests/support/utf8.h"

namespace {

using FilesContractTest = PlatformContractTest;

// What the shell operations of the file services ask for: final, silent,
// no questions.
constexpr uint16_t kShellFlags = platform::kFofSilent | platform::kFofNoConfirmation |
                                 platform::kFofNoConfirmMkdir | platform::kFofNoErrorUi;

// A one-entry path list: the text and the string's own NUL make the two.
std::u16string PathList(const std::u16string& path) { return path + u'\0'; }

TEST_F(FilesContractTest, FilesOpenOnlyWhereAFileIsOrMayBe) {
  WriteFile(u"file", "content");
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);
  struct Case {
    const char* what;
    const char16_t* path;
    const char* mode;
    bool opens;
  };
  const Case cases[] = {
      {"a file, for reading", u"file", "rb", true},
      {"a file, by a path with a slash and a parent step", u"folder/../file", "rb", true},
      {"a missing file", u"missing", "rb", false},
      {"a folder, for reading", u"folder", "rb", false},
      {"a folder, for writing", u"folder", "wb", false},
      {"a new file", u"folder\\new", "wb", true},
      {"a new file in a missing folder", u"missing\\new", "wb", false},
      // Windows ignores the letter case of names; a new name keeps its own.
      {"a file, by its name in other letter case", u"FILE", "rb", true},
      {"a folder in other letter case, for writing", u"Folder", "wb", false},
      {"a new file in a folder named in other letter case", u"FOLDER\\Other", "wb", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(static_cast<bool>(platform::OpenFile(c.path, c.mode)), c.opens);
  }
  EXPECT_TRUE(platform::OpenFileAnsi("file", "rb"));
  EXPECT_FALSE(platform::OpenFileAnsi("folder", "rb"));
  EXPECT_EQ(ReadFile(u"file"), "content");
  EXPECT_TRUE(Exists(u"folder\\new"));
  EXPECT_TRUE(Exists(u"folder\\other"));
}

TEST_F(FilesContractTest, PathsAreFoundRemovedAndMadeWithTheirErrorCodes) {
  WriteFile(u"file", "x");
  WriteFile(u"Mixed", "x");
  WriteFile(u"held", "x");
  HoldOpen(u"held");
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);

  EXPECT_TRUE(platform::PathExists(u"file"));
  EXPECT_TRUE(platform::PathExists(u"folder"));
  EXPECT_TRUE(platform::PathExists(u"FOLDER"));
  EXPECT_FALSE(platform::PathExists(u"missing"));

  struct Removal {
    const char16_t* path;
    bool removed;
    bool remains;
  };
  const Removal removals[] = {{u"missing", false, false},
                              {u"folder", false, true},
                              {u"held", false, true},
                              {u"HELD", false, true},
                              {u"file", true, false},
                              {u"mIXED", true, false}};
  for (const Removal& r : removals) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(r.path)));
    EXPECT_EQ(platform::RemoveFile(r.path), r.removed);
    EXPECT_EQ(platform::PathExists(r.path), r.remains);
  }

  struct Creation {
    const char16_t* path;
    uint32_t error;
  };
  const Creation creations[] = {
      {u"folder\\new", platform::kErrorSuccess},
      {u"folder", platform::kErrorAlreadyExists},
      {u"FOLDER\\NEW", platform::kErrorAlreadyExists},
      {u"held", platform::kErrorAlreadyExists},
      {u"missing\\new", platform::kErrorPathNotFound},
  };
  for (const Creation& c : creations) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.path)));
    EXPECT_EQ(platform::MakeDirectory(c.path), c.error);
  }
}

TEST_F(FilesContractTest, ShellOperationsRenameAndDeleteWhatNoOneHolds) {
  using Op = platform::ShellFileOp;
  struct Case {
    const char* what;
    Op op;
    const char16_t* from;
    const char16_t* to;  // null for a deletion
    bool succeeds;
    bool fromRemains;
    // The content found at `to` afterwards ("" for a folder); null: nothing.
    const char* toHolds;
  };
  const Case cases[] = {
      {"delete a file", Op::kDelete, u"file", nullptr, true, false, nullptr},
      {"delete a folder and its contents", Op::kDelete, u"folder", nullptr, true, false, nullptr},
      {"delete a missing name", Op::kDelete, u"missing", nullptr, false, false, nullptr},
      {"delete a file held open", Op::kDelete, u"held", nullptr, false, true, nullptr},
      {"rename a file", Op::kRename, u"fresh", u"renamed", true, false, "fresh"},
      {"rename a folder", Op::kRename, u"folder", u"renamed", true, false, ""},
      {"rename onto an existing file", Op::kRename, u"fresh", u"file", false, true, "old"},
      {"rename a missing name", Op::kRename, u"missing", u"renamed", false, false, nullptr},
      {"rename a file held open", Op::kRename, u"held", u"renamed", false, true, nullptr},
      {"rename into a missing folder", Op::kRename, u"fresh", u"missing\\renamed", false, true,
       nullptr},
      {"delete a folder named in other letter case", Op::kDelete, u"FOLDER", nullptr, true, false,
       nullptr},
      {"rename a file named in other letter case into such a folder", Op::kRename, u"FRESH",
       u"Folder\\renamed", true, false, "fresh"},
      {"rename onto an existing file named in other letter case", Op::kRename, u"fresh", u"FILE",
       false, true, "old"},
      {"rename a file held open, named in other letter case", Op::kRename, u"Held", u"renamed",
       false, true, nullptr},
  };
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each row in a folder of its own, reached by relative paths.
    const std::u16string base = u"row" + std::u16string(1, char16_t(u'a' + row++)) + u"\\";
    ASSERT_EQ(platform::MakeDirectory(base), platform::kErrorSuccess);
    ASSERT_EQ(platform::MakeDirectory(base + u"folder"), platform::kErrorSuccess);
    WriteFile(base + u"folder\\inner", "");
    WriteFile(base + u"file", "old");
    WriteFile(base + u"fresh", "fresh");
    WriteFile(base + u"held", "held");
    HoldOpen(base + u"held");

    const std::u16string from = PathList(base + c.from);
    const std::u16string to = c.to ? PathList(base + c.to) : std::u16string();
    const int result = platform::ShellFileOperation(c.op, from.c_str(),
                                                    c.to ? to.c_str() : nullptr, kShellFlags);
    EXPECT_EQ(result == 0, c.succeeds) << "result " << result;
    EXPECT_EQ(Exists(base + c.from), c.fromRemains);
    if (c.to) {
      EXPECT_EQ(Exists(base + c.to), c.toHolds != nullptr);
      if (c.toHolds && *c.toHolds) {
        EXPECT_EQ(ReadFile(base + c.to), c.toHolds);
      }
    }
  }
}

// The patcher is hashed through this hold and started while it lasts: no
// one may write it meanwhile (nor delete or rename it, the rows above), and
// reading stays open.
TEST_F(FilesContractTest, AHeldFileCanOnlyBeReadUntilItIsLetGo) {
  WriteFile(u"patcher", "signed bytes");
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);
  EXPECT_FALSE(platform::HoldFile(u"missing"));
  EXPECT_FALSE(platform::HoldFile(u"folder"));
  {
    const platform::HeldFile held = platform::HoldFile(u"patcher");
    ASSERT_TRUE(held);
    std::string bytes(64, '\0');
    size_t read = 0;
    ASSERT_TRUE(platform::ReadHeldFile(held, bytes.data(), bytes.size(), &read));
    EXPECT_EQ(bytes.substr(0, read), "signed bytes");
    EXPECT_TRUE(platform::OpenFile(u"patcher", "rb"));
    for (const char* mode : {"wb", "ab", "r+b"}) {
      EXPECT_FALSE(platform::OpenFile(u"patcher", mode)) << mode;
    }
    EXPECT_FALSE(platform::OpenFile(u"PATCHER", "wb"));
  }
  EXPECT_TRUE(platform::OpenFile(u"patcher", "ab"));
}

// A download goes to a staging file that stays open from its first byte to
// its rename into place: nobody else writes it meanwhile, under either name.
TEST_F(FilesContractTest, AStagingFileIsWrittenOnlyThroughItsStreamUntilItCloses) {
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);
  WriteFile(u"held", "held");
  HoldOpen(u"held");
  for (const char16_t* path : {u"folder", u"missing\\file", u"held"}) {
    EXPECT_FALSE(platform::OpenStagingFile(path)) << testing::PrintToString(std::u16string(path));
  }
  const auto othersCannotWrite = [](const std::u16string& path) {
    for (const char* mode : {"wb", "ab", "r+b"}) {
      EXPECT_FALSE(platform::OpenFile(path, mode)) << mode;
    }
    EXPECT_FALSE(platform::OpenStagingFile(path));
    EXPECT_FALSE(platform::HoldFile(path));
  };

  WriteFile(u"file.temp", "an older attempt");
  platform::UniqueFile staging = platform::OpenStagingFile(u"file.temp");
  ASSERT_TRUE(staging);
  std::FILE* stream = staging.get();
  EXPECT_EQ(ReadFile(u"file.temp"), "");
  othersCannotWrite(u"file.temp");
  // A failed attempt is tried again on the same stream: afresh from an
  // empty file, or on from the size so far, whose bytes read back to be
  // hashed.
  std::fputs("first attempt", stream);
  ASSERT_TRUE(platform::TruncateStream(stream));
  std::fputs("checked", stream);
  uint64_t size = 0;
  ASSERT_TRUE(platform::StreamSize(stream, &size));
  EXPECT_EQ(size, 7u);
  std::string prefix(16, '\0');
  ASSERT_EQ(std::fseek(stream, 0, SEEK_SET), 0);
  prefix.resize(std::fread(prefix.data(), 1, prefix.size(), stream));
  EXPECT_EQ(prefix, "checked");
  ASSERT_EQ(std::fseek(stream, 0, SEEK_END), 0);
  std::fputs(" bytes", stream);

  const std::u16string from = PathList(u"file.temp");
  const std::u16string to = PathList(u"file");
  ASSERT_EQ(platform::ShellFileOperation(platform::ShellFileOp::kRename, from.c_str(), to.c_str(),
                                         kShellFlags),
            0);
  othersCannotWrite(u"file");
  std::fputs(", then more", stream);
  ASSERT_EQ(std::fflush(stream), 0);
  EXPECT_EQ(ReadFile(u"file"), "checked bytes, then more");
  staging.reset();
  EXPECT_TRUE(platform::OpenFile(u"file", "ab"));

  platform::UniqueFile doomed = platform::OpenStagingFile(u"doomed.temp");
  ASSERT_TRUE(doomed);
  EXPECT_TRUE(platform::RemoveFile(u"doomed.temp"));
  doomed.reset();
  EXPECT_FALSE(Exists(u"doomed.temp"));
}

// The support log, written with administrator rights in the user's
// temporary folder, appends only to a file of its own name.
TEST_F(FilesContractTest, AppendFilesOpenOnlyByTheirOneName) {
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);
  WriteFile(u"target", "target");
  ASSERT_TRUE(MakeHardLink(u"second-name", u"target")) << "cannot make a hard link";
  ASSERT_TRUE(MakeLink(u"link", u"folder")) << "cannot make a link";
  struct Case {
    const char* what;
    const char16_t* path;
    bool opens;
  };
  const Case cases[] = {
      {"a new file", u"new.log", true},
      {"that file again", u"new.log", true},
      {"a new file through a folder link", u"link\\new.log", true},
      {"a folder", u"folder", false},
      {"a file with a second name", u"second-name", false},
      {"a new file in a missing folder", u"missing\\new.log", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const platform::UniqueFile file = platform::OpenAppendFile(c.path);
    EXPECT_EQ(static_cast<bool>(file), c.opens);
    if (file) std::fputs("line\n", file.get());
  }
  EXPECT_EQ(ReadFile(u"new.log"), "line\nline\n");
  EXPECT_EQ(ReadFile(u"folder\\new.log"), "line\n");
  EXPECT_EQ(ReadFile(u"target"), "target");
}

// The launcher protects an install folder that already exists, and the
// patcher in it, before it trusts them; never through a link at its name.
// None of them was the launcher's before (Wine keeps no descriptor set, so
// only the simulated machine and Windows find a protected one so).
TEST_F(FilesContractTest, ExistingFilesAndFoldersCanBeProtected) {
  ASSERT_EQ(platform::MakeDirectory(u"folder"), platform::kErrorSuccess);
  WriteFile(u"folder\\patcher", "x");
  ASSERT_TRUE(MakeLink(u"link", u"folder")) << "cannot make a link";
  for (const char16_t* path : {u"folder", u"folder\\patcher", u"link", u"missing"}) {
    EXPECT_FALSE(platform::IsAdministratorsOnly(path)) << Utf8(path);
  }
  for (const char16_t* path : {u"folder", u"folder\\patcher"}) {
    EXPECT_EQ(platform::ProtectExistingPath(path), platform::kErrorSuccess);
  }
  EXPECT_EQ(platform::ProtectExistingPath(u"link"), platform::kErrorReparsePointEncountered);
  EXPECT_NE(platform::ProtectExistingPath(u"missing"), platform::kErrorSuccess);
}

// Once a signed launcher has made its install folder its own, every file it
// opens, holds, writes or protects lies in it, and is never opened through
// a link at its own name or by a second name: whatever a link leads to is
// left as it is.
TEST_F(FilesContractTest, ConfinedFilesOpenOnlyInTheFolderByTheirOneName) {
  for (const char16_t* folder : {u"install", u"install\\sub", u"outside", u"installed"}) {
    ASSERT_EQ(platform::MakeDirectory(folder), platform::kErrorSuccess);
  }
  for (const char16_t* file : {u"install\\file", u"install\\sub\\file", u"outside\\target",
                               u"install\\shared", u"installed\\file"}) {
    WriteFile(file, "bytes");
  }
  ASSERT_TRUE(MakeHardLink(u"outside\\shared", u"install\\shared")) << "cannot make a hard link";
  ASSERT_TRUE(MakeLink(u"install\\inward", u"sub")) << "cannot make a link";
  ASSERT_TRUE(MakeLink(u"install\\outward", u"../outside")) << "cannot make a link";
  ASSERT_TRUE(MakeLink(u"install\\file-out", u"../outside/target")) << "cannot make a link";
  EXPECT_NE(platform::ConfineFilesTo(u"missing"), platform::kErrorSuccess);
  ASSERT_EQ(platform::ConfineFilesTo(u"install"), platform::kErrorSuccess);
  struct Case {
    const char* what;
    const char16_t* path;
    bool opens;
  };
  const Case cases[] = {
      {"a file in the folder", u"install\\file", true},
      {"a file below it", u"install\\sub\\file", true},
      {"a file through a link to a folder inside", u"install\\inward\\file", true},
      {"a file through a link to a folder outside", u"install\\outward\\target", false},
      {"a link at its name to a file outside", u"install\\file-out", false},
      {"a file with a second name", u"install\\shared", false},
      {"a file outside", u"outside\\target", false},
      {"a file in a folder whose name begins like it", u"installed\\file", false},
      {"a file outside, by a climbing path", u"install\\..\\outside\\target", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(static_cast<bool>(platform::OpenFile(c.path, "rb")), c.opens);
    EXPECT_EQ(static_cast<bool>(platform::OpenFile(c.path, "ab")), c.opens);
    EXPECT_EQ(static_cast<bool>(platform::HoldFile(c.path)), c.opens);
    EXPECT_EQ(static_cast<bool>(platform::OpenStagingFile(c.path, platform::StagingStart::kKeepBytes)),
              c.opens);
    EXPECT_EQ(static_cast<bool>(platform::OpenAppendFile(c.path)), c.opens);
    EXPECT_EQ(platform::ProtectExistingPath(c.path) == platform::kErrorSuccess, c.opens);
    EXPECT_EQ(static_cast<bool>(platform::OpenFile(c.path, "wb")), c.opens);
  }
  EXPECT_FALSE(platform::OpenFile(u"install\\outward\\new", "wb"));
  EXPECT_TRUE(platform::OpenFile(u"install\\new", "wb"));
  platform::EndFileConfinementForTesting();
  EXPECT_EQ(ReadFile(u"outside\\target"), "bytes");
  EXPECT_EQ(ReadFile(u"install\\shared"), "bytes");
}

TEST_F(FilesContractTest, FreeSpaceIsMeasuredForFoldersThatExist) {
  WriteFile(u"file", "x");
  const std::u16string work = platform::GetWorkingDirectory();
  struct Case {
    const char* what;
    std::u16string folder;
    bool measured;
  };
  const Case cases[] = {
      {"the work folder", work, true},
      {"the current folder, relative", u".", true},
      {"its drive root", work.substr(0, 3), true},
      {"a missing folder", u"missing", false},
      {"a file", u"file", false},
      {"a missing drive", u"Q:\\Nowhere", false},
      {"no folder", u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::DiskFreeSpace space;
    ASSERT_EQ(platform::QueryDiskFreeSpace(c.folder, &space), c.measured);
    if (c.measured) {
      EXPECT_GT(space.sectorsPerCluster, 0u);
      EXPECT_GT(space.bytesPerSector, 0u);
    }
  }
}

}  // namespace
