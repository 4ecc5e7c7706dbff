#include "platform/path_text.h"

#include <gtest/gtest.h>

namespace nuvel::platform {
namespace {

// One row per path: what each splitting function makes of it.
struct Split {
  const char* path;
  const char* file_name;
  const char* folder_prefix;
  const char* without_file_name;
  const char* parent;
};

TEST(PathTextTest, PathsSplitAtTheLastSlash) {
  const Split rows[] = {
      {"", "", "", "", ""},
      {"/", "", "/", "", "/"},
      {"b.txt", "b.txt", "", "", ""},
      {"/b.txt", "b.txt", "/", "", "/"},
      {"/a/b.txt", "b.txt", "/a/", "/a", "/a"},
      {"/a/b/", "", "/a/b/", "/a/b", "/a"},
      {"/a/b//", "", "/a/b//", "/a/b/", "/a"},
      {"a/b", "b", "a/", "a", "a"},
  };
  for (const Split& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(FileName(row.path), row.file_name);
    EXPECT_EQ(FolderPrefix(row.path), row.folder_prefix);
    EXPECT_EQ(WithoutFileName(row.path), row.without_file_name);
    EXPECT_EQ(ParentFolder(row.path), row.parent);
    EXPECT_EQ(FolderPrefix(row.path) + FileName(row.path), row.path);
  }
}

TEST(PathTextTest, JoinPutsExactlyOneSlashBetweenFolderAndName) {
  EXPECT_EQ(Join("/a", "b"), "/a/b");
  EXPECT_EQ(Join("/a/", "b"), "/a/b");
  EXPECT_EQ(Join("/", "b"), "/b");
  EXPECT_EQ(Join("", "b"), "b") << "a name with no folder stays relative, never under the root";
  EXPECT_EQ(Join("/a", "b/c"), "/a/b/c");
  EXPECT_EQ(Join("/a", ""), "/a/");
}

TEST(PathTextTest, TrailingSlashesAreAddedOnceAndRemovedDownToTheRoot) {
  EXPECT_EQ(WithTrailingSlash(""), "");
  EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
  EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
  EXPECT_EQ(WithoutTrailingSlash("/a//"), "/a");
  EXPECT_EQ(WithoutTrailingSlash("/"), "/");
  EXPECT_EQ(WithoutTrailingSlash("//"), "/");
  EXPECT_EQ(WithoutTrailingSlash(""), "");
}

TEST(PathTextTest, WithinMeansTheFolderItselfOrBelowAWholeComponent) {
  EXPECT_TRUE(IsWithin("/a/b", "/a"));
  EXPECT_TRUE(IsWithin("/a", "/a"));
  EXPECT_FALSE(IsWithin("/ab", "/a")) << "a longer name is not inside";
  EXPECT_FALSE(IsWithin("/a", "/a/b"));
  EXPECT_TRUE(IsWithin("/anything", "/"));
  EXPECT_FALSE(IsWithin("/a", "")) << "an unknown folder holds nothing";
}

}  // namespace
}  // namespace nuvel::platform
